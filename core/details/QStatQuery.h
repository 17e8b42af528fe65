#pragma once

#include "core/details/Module2.h"

#include <QString>
#include <optional>

// Running QStat for the details window: the batch file, the process and its wait, the
// output file, and what QStat's answer says about the server.
namespace tarvex::QStatQuery {

inline const QString BatchFileName = QStringLiteral("info.bat");
inline const QString OutputFileName = QStringLiteral("tmp.txt");
inline const QString ShellProgram = QStringLiteral("/bin/sh");
// The Quake 2 port, asked when the server's address names no port of its own.
constexpr int DefaultPort = 27910;
// At most this much of the output file is read.
constexpr qint64 MaxOutputBytes = 1 << 20;
constexpr int DefaultTimeoutMs = 15000;

// Where and how a query runs. The details window uses environment(); tests point it
// at temporary folders and stand-ins.
struct Environment
{
    // Folder of info.bat and tmp.txt. Empty: the program's folder, or the per-user
    // cache folder when the program's folder is not writable.
    QString folder;
    // Folder where a "qstat" link to QStat's binary is kept. Empty: "bin" in the
    // per-user cache folder.
    QString toolFolder;
    // QStat's binary. No value: "quakestat" (Debian's name for QStat) looked up on the
    // search path and in the usual binary folders. An empty text: there is none.
    std::optional<QString> quakestat;
    // The search path that follows Tarvex's own folders. No value: the process's PATH.
    std::optional<QString> userPath;
    int timeoutMs = DefaultTimeoutMs;
};
Environment &environment();

// The folder where info.bat and tmp.txt go for env: env.folder when set, else the
// first writable folder among the program's folder and the per-user cache folder
// (created when needed). Empty when none is writable.
QString resolveFolder(const Environment &env);
QString firstWritableFolder(const QStringList &candidates);

// The batch file's one line for host and port (no line end).
QString batchLine(const QString &host, int port = DefaultPort);

// Writes info.bat into folder: the batch line ended by a lone LF (a CR would become
// part of the output file's name under sh). The file is written under a new name and
// renamed into place, so a link at info.bat is replaced, never followed. Refuses, writing nothing,
// a host that is not a plain host name or dotted address. No value on success, else the reason.
std::optional<QString> writeBatchFile(const QString &folder, const QString &host,
                                      int port = DefaultPort);

// Deletes tmp.txt in folder; a missing file is no failure.
void deleteOutput(const QString &folder);

// The search path the batch file runs with: folder first (a "qstat" placed there
// wins), then the tool folder holding a "qstat" link to QStat's binary (made or
// renewed here; left out when there is no binary or no link), then the user's path.
QString searchPath(const Environment &env, const QString &folder);

// How the batch file's run ended.
struct RunResult
{
    enum class Outcome {
        Finished, // exited by itself; see exitCode
        FailedToStart, // the shell could not be started; see error
        Crashed, // the shell or QStat was ended by a signal; see signal
        TimedOut, // still running at the time-out, so it was killed
        ProgramEnded, // the program ended while waiting; the run was killed
    };
    Outcome outcome = Outcome::Finished;
    int exitCode = 0;
    int signal = 0;
    QString error;
    qint64 elapsedMs = 0; // from the start to the end of the run
    qint64 elapsedNs = 0;
};

// Starts info.bat in folder with /bin/sh (no terminal, the folder as its working
// directory, path as its PATH) and waits for it to end, processing window events
// meanwhile without polling. A run still going after timeoutMs is killed with every
// process it started, and its output file is deleted. Returns early, killing the run
// (its output deleted too), when the program is ending.
RunResult runBatch(const QString &folder, const QString &path, int timeoutMs);

// The output file in folder, at most MaxOutputBytes of it, as text (UTF-8 when it is
// valid UTF-8, else Latin-1; a character cut by the limit is left out). No value when
// the file cannot be read.
std::optional<QString> readOutput(const QString &folder);

// What QStat's first line says when the server gave no status: QStat then writes the
// type, the address and one of DOWN, TIMEOUT or ERROR (followed by the reason).
struct ServerProblem
{
    enum class Kind { Down, Timeout, Error };
    Kind kind;
    QString detail; // the reason that follows ERROR
};
std::optional<ServerProblem> serverProblem(const QString &output);

// The message for a run that gave no display, or no value when the run went well
// (exit code 0, or any other code that is not the shell's "not found"/"cannot run").
std::optional<QString> runFailureMessage(const RunResult &run, const QString &host,
                                         const QString &folder);
QString problemMessage(const ServerProblem &problem, const QString &host, int port);
QString noOutputMessage(const QString &host);
// Why the output file in folder gave no text: missing, a folder, not a regular file,
// not readable. Used when readOutput() gives no value.
QString unreadableOutputMessage(const QString &folder, const QString &host);
// A warning when output was cut short (a line left unended, or the disk is full), else
// no value. The details are still shown after it.
std::optional<QString> incompleteOutputMessage(const QString &folder, const QString &output,
                                               const QString &host);

// Player names and the map that QStat wrote in hexadecimal, decoded: the names as the
// server list decodes them (status::decodeName), the map as UTF-8 or Latin-1. A field
// that is not hexadecimal stays as it is.
void decodeHexFields(Module2::Details &details);

// One details query from start to end: the folder resolved, an earlier answer
// deleted, the batch file written, QStat run, its output read, checked and parsed for
// grids of the given column counts.
struct Outcome
{
    enum class Kind {
        Loaded, // details holds the display; see incomplete
        Failed, // message says why there is nothing to show
        ProgramEnded, // the program ended during the run
    };
    Kind kind = Kind::Failed;
    // The folder of info.bat and tmp.txt; empty when no folder was writable.
    QString folder;
    // How QStat's run went; no value when it never started.
    std::optional<RunResult> run;
    // Failed: the warning to show.
    QString message;
    // Loaded: the warning to show before the details when the output was cut short.
    std::optional<QString> incomplete;
    Module2::Details details;
};
Outcome query(const QString &host, int port, const Environment &env, int summaryColumns,
              int playerColumns);

} // namespace tarvex::QStatQuery
