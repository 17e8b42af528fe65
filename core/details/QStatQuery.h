#pragma once

#include "core/details/QStatOutput.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

class QProcess;

namespace tarvex {

// One QStat run for the details window, started and left to report: QStat's program is
// started with its arguments as separate items (no shell), its output is read from its
// standard output as it comes, and finished() hands over the parsed display or the
// message saying why there is none. One QTimer is the deadline. cancel(), the query's
// destruction and the program's end kill QStat with everything it started; nothing is
// reported after that. Nothing is written to disk.
class QStatQuery final : public QObject
{
    Q_OBJECT

public:
    // The Quake 2 port, asked when the server's address names no port of its own.
    static constexpr int DefaultPort = 27910;
    // At most this much of QStat's output is kept; the rest is read and dropped.
    static constexpr qint64 MaxOutputBytes = 1 << 20;
    static constexpr int DefaultTimeoutMs = 15000;

    struct Options
    {
        // QStat's program. Empty: findProgram().
        QString program;
        int timeoutMs = DefaultTimeoutMs;
    };

    // How QStat's run ended.
    struct RunResult
    {
        enum class Outcome {
            Finished, // exited by itself; see exitCode
            NotFound, // there is no QStat to run
            NotExecutable, // the program named is not executable
            FailedToStart, // the program could not be started; see error
            Crashed, // QStat was ended by a signal; see signal
            TimedOut, // still running at the deadline, so it was killed
        };
        Outcome outcome = Outcome::Finished;
        int exitCode = 0;
        int signal = 0;
        QString error;
        qint64 elapsedMs = 0; // from the start to the end of the run
        qint64 elapsedNs = 0;
    };

    // QStat's output as it arrives: the first MaxOutputBytes kept, the rest counted.
    class OutputBuffer
    {
    public:
        void append(const QByteArray &bytes);
        // Whether more was written than kept.
        bool cut() const { return m_total > m_kept.size(); }
        qint64 total() const { return m_total; }
        // The kept bytes as text: UTF-8 when they are valid UTF-8 (a character cut by
        // the limit left out), else Latin-1.
        QString text() const;

    private:
        QByteArray m_kept;
        qint64 m_total = 0;
    };

    // What QStat's first line says when the server gave no status: QStat then writes
    // the type, the address and one of DOWN, TIMEOUT or ERROR (followed by the reason).
    struct ServerProblem
    {
        enum class Kind { Down, Timeout, Error };
        Kind kind;
        QString detail; // the reason that follows ERROR
    };

    // What one query came to.
    struct Result
    {
        enum class Kind {
            Loaded, // details holds the display; see incomplete
            Failed, // message says why there is nothing to show
        };
        Kind kind = Kind::Failed;
        // How QStat's run went; no value when it was never started.
        std::optional<RunResult> run;
        QString message; // Failed: the warning to show
        // Loaded: the warning to show before the details when the output was cut short.
        std::optional<QString> incomplete;
        QStatOutput::Details details;
    };

    explicit QStatQuery(Options options, QObject *parent = nullptr);
    ~QStatQuery() override;

    // Starts the query of host at port for grids of the given column counts and returns
    // at once; finished() follows exactly once unless the query is cancelled first. A
    // host that is not a plain host name or dotted address, or a port out of range,
    // starts nothing and is reported by finished() from the event loop. Ignored while a
    // query runs.
    void start(const QString &host, int port, int summaryColumns, int playerColumns);
    // Ends a running query: QStat and whatever it started are killed, nothing is
    // reported. Does nothing when no query runs.
    void cancel();
    bool isRunning() const { return m_running; }
    // QStat's process id while it runs, else 0.
    qint64 processId() const;

    // "quakestat" (Debian's name for QStat), then "qstat", on the search path, then in
    // the usual binary folders; empty when there is neither.
    static QString findProgram();
    // QStat's arguments for host and port, one item each: the raw output form with the
    // delimiter, player names and the map in hexadecimal (QStat itself would strip
    // their high bits and drop the Quake 2 glyph bytes), rules and players.
    static QStringList arguments(const QString &host, int port);

    static std::optional<ServerProblem> serverProblem(const QString &output);
    // The message for a run that gave no display, or no value when the run went well
    // (it finished by itself, whatever its exit code).
    static std::optional<QString> runFailureMessage(const RunResult &run, const QString &host);
    static QString problemMessage(const ServerProblem &problem, const QString &host, int port);
    static QString noOutputMessage(const QString &host);
    // A warning when the output stops inside a line (QStat ends every line it writes),
    // else no value. Output cut at MaxOutputBytes is not called incomplete: what was
    // kept is shown as it is.
    static std::optional<QString> incompleteOutputMessage(const QString &output, bool cut,
                                                          const QString &host);
    // Player names and the map that QStat wrote in hexadecimal, decoded: the names as
    // the server list decodes them (status::decodeName), the map as UTF-8 or Latin-1. A
    // field that is not hexadecimal stays as it is.
    static void decodeHexFields(QStatOutput::Details &details);
    // The whole query's verdict on a finished run and its output.
    static Result evaluate(const RunResult &run, const OutputBuffer &output, const QString &host,
                           int port, int summaryColumns, int playerColumns);

signals:
    void finished(const tarvex::QStatQuery::Result &result);

private:
    void report(Result result);
    void processEnded(RunResult run);
    void killProcess();

    Options m_options;
    QString m_host;
    int m_port = DefaultPort;
    int m_summaryColumns = 0;
    int m_playerColumns = 0;
    bool m_running = false;
    quint64 m_generation = 0; // tells a stale queued report from the current query's
    std::unique_ptr<QProcess> m_process;
    OutputBuffer m_output;
    QTimer m_deadline;
    QElapsedTimer m_clock;
};

} // namespace tarvex
