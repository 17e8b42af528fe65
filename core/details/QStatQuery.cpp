#include "core/details/QStatQuery.h"

#include "core/Program.h"
#include "core/browser/Module1.h"
#include "core/status/StatusReply.h"
#include "core/text/TextRules.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace tarvex {

namespace {

// The bytes of a field QStat wrote in hexadecimal; no value for any other text (an
// odd length or a character that is no hex digit).
std::optional<QByteArray> hexBytes(const QString &field)
{
    if (field.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : field) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')))
            return std::nullopt;
    }
    return QByteArray::fromHex(field.toLatin1());
}

constexpr int CollectMs = 3000;

// Kills a running QStat and whatever it started (its process group), and collects its
// exit: a killed process is gone within milliseconds, so this does not wait on QStat.
void killGroup(QProcess &process)
{
    const qint64 pid = process.processId();
    // Never pid 0: kill(0) would hit this program's own group.
    if (pid <= 0 || process.state() == QProcess::NotRunning)
        return;
    ::kill(-pid_t(pid), SIGKILL);
    // A QStat killed before it made its group is reached by its own id.
    ::kill(pid_t(pid), SIGKILL);
    process.waitForFinished(CollectMs);
}

} // namespace

void QStatQuery::OutputBuffer::append(const QByteArray &bytes)
{
    m_total += bytes.size();
    const qint64 room = MaxOutputBytes - m_kept.size();
    if (room > 0)
        m_kept.append(bytes.first(std::min<qint64>(room, bytes.size())));
}

QString QStatQuery::OutputBuffer::text() const
{
    if (cut()) {
        // Cut at the limit, the output may end inside a character: that piece of a
        // character is left out, and the rest still reads as the UTF-8 it is.
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString text = utf8(m_kept);
        if (!utf8.hasError())
            return text;
    }
    return text::utf8OrLatin1(m_kept);
}

QStatQuery::QStatQuery(Options options, QObject *parent)
    : QObject(parent),
      m_options(std::move(options))
{
    m_deadline.setSingleShot(true);
    // A coarse timer may fire up to 5 % early, and a time-out is reported to the user.
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        RunResult run;
        run.outcome = RunResult::Outcome::TimedOut;
        processEnded(run);
    });
    // The program's end leaves no QStat behind, whoever owns the query.
    connect(&Program::notifier(), &Program::Notifier::ending, this, &QStatQuery::cancel);
}

QStatQuery::~QStatQuery()
{
    if (m_process) {
        m_process->disconnect(this);
        killGroup(*m_process);
        m_process.reset();
    }
}

qint64 QStatQuery::processId() const { return m_process ? m_process->processId() : 0; }

QString QStatQuery::findProgram()
{
    const QStringList folders{QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin"),
                              QStringLiteral("/usr/games")};
    for (const QString &name : {QStringLiteral("quakestat"), QStringLiteral("qstat")}) {
        QString found = QStandardPaths::findExecutable(name);
        if (found.isEmpty())
            found = QStandardPaths::findExecutable(name, folders);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

QStringList QStatQuery::arguments(const QString &host, int port)
{
    return {QStringLiteral("-hpn"),
            QStringLiteral("-R"),
            QStringLiteral("-P"),
            QStringLiteral("-raw"),
            QStatOutput::Delimiter,
            QStringLiteral("-q2s"),
            host + QLatin1Char(':') + QString::number(port)};
}

void QStatQuery::start(const QString &host, int port, int summaryColumns, int playerColumns)
{
    if (m_running)
        return;
    m_running = true;
    const quint64 run = ++m_generation;
    m_host = host;
    m_port = port;
    m_summaryColumns = summaryColumns;
    m_playerColumns = playerColumns;
    m_output = OutputBuffer();

    const auto refuse = [this, run](const QString &message) {
        // Reported from the event loop, like every other end: the caller's start()
        // returns first.
        QTimer::singleShot(0, this, [this, run, message] {
            if (!m_running || run != m_generation)
                return;
            Result result;
            result.message = message;
            report(std::move(result));
        });
    };
    // The host goes to QStat's command line: only a text that can be nothing but a host
    // name or a dotted address may be passed, never one QStat could read as an option.
    if (!Module1::IsPlainHost(host))
        return refuse(Module1::NotPlainHostText);
    if (port < 1 || port > 65535)
        return refuse(QStringLiteral("The port of %1 is not a number from 1 to 65535.").arg(host));

    const QString program = m_options.program.isEmpty() ? findProgram() : m_options.program;
    m_clock.start();
    RunResult unstartable;
    if (program.isEmpty() || !QFileInfo::exists(program)) {
        unstartable.outcome = RunResult::Outcome::NotFound;
    } else if (!QFileInfo(program).isExecutable() || QFileInfo(program).isDir()) {
        unstartable.outcome = RunResult::Outcome::NotExecutable;
    } else {
        m_process = std::make_unique<QProcess>();
        QProcess &process = *m_process;
        process.setProgram(program);
        process.setArguments(arguments(host, port));
        // QStat reads nothing, and what it says on its error output is not shown.
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        // A group of its own, so a kill ends whatever QStat started along with it.
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
        connect(&process, &QProcess::readyReadStandardOutput, this,
                [this] { m_output.append(m_process->readAllStandardOutput()); });
        connect(&process, &QProcess::finished, this,
                [this](int exitCode, QProcess::ExitStatus status) {
                    m_output.append(m_process->readAllStandardOutput());
                    RunResult run;
                    run.exitCode = exitCode;
                    if (status == QProcess::CrashExit) {
                        run.outcome = RunResult::Outcome::Crashed;
                        run.signal = exitCode; // a crashed process's code is its signal
                    }
                    processEnded(run);
                });
        // A process that cannot start reports only this, never finished().
        connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            RunResult run;
            run.outcome = RunResult::Outcome::FailedToStart;
            run.error = m_process->errorString();
            processEnded(run);
        });
        m_deadline.start(std::max(m_options.timeoutMs, 0));
        process.start(QIODevice::ReadOnly);
        return;
    }
    // Reported from the event loop as well.
    QTimer::singleShot(0, this, [this, run, unstartable] {
        if (m_running && run == m_generation)
            processEnded(unstartable);
    });
}

void QStatQuery::processEnded(RunResult run)
{
    if (!m_running)
        return;
    run.elapsedNs = m_clock.nsecsElapsed();
    run.elapsedMs = run.elapsedNs / 1000000;
    m_deadline.stop();
    killProcess();
    report(evaluate(run, m_output, m_host, m_port, m_summaryColumns, m_playerColumns));
}

void QStatQuery::report(Result result)
{
    m_running = false;
    m_output = OutputBuffer();
    emit finished(result);
}

void QStatQuery::cancel()
{
    if (!m_running)
        return;
    m_running = false;
    ++m_generation;
    m_deadline.stop();
    killProcess();
    m_output = OutputBuffer();
}

void QStatQuery::killProcess()
{
    if (!m_process)
        return;
    // Nothing more is heard from this run, whatever it still does on its way out.
    m_process->disconnect(this);
    killGroup(*m_process);
    // This may run inside one of the process's own signals: it is deleted once that has
    // returned.
    m_process.release()->deleteLater();
}

std::optional<QStatQuery::ServerProblem> QStatQuery::serverProblem(const QString &output)
{
    const qsizetype end = output.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    const QString first = end < 0 ? output : output.left(end);
    const QStringList fields = first.split(QStatOutput::Delimiter);
    if (fields.size() < 3 || fields.size() > 4)
        return std::nullopt;
    const QString &status = fields[2];
    if (status == QLatin1String("DOWN") && fields.size() == 3)
        return ServerProblem{ServerProblem::Kind::Down, {}};
    if (status == QLatin1String("TIMEOUT") && fields.size() == 3)
        return ServerProblem{ServerProblem::Kind::Timeout, {}};
    if (status == QLatin1String("ERROR"))
        return ServerProblem{ServerProblem::Kind::Error, fields.value(3).trimmed()};
    return std::nullopt;
}

std::optional<QString> QStatQuery::runFailureMessage(const RunResult &run, const QString &host)
{
    using Outcome = RunResult::Outcome;
    switch (run.outcome) {
    case Outcome::NotFound:
        return QStringLiteral("QStat could not be found, so %1 could not be queried.\n\n"
                              "Install QStat (on Debian and Ubuntu the package \"qstat\", "
                              "whose program is named quakestat).")
            .arg(host);
    case Outcome::NotExecutable:
        return QStringLiteral("QStat could not be run (it is not executable), so %1 could "
                              "not be queried.")
            .arg(host);
    case Outcome::FailedToStart:
        return QStringLiteral("The query of %1 could not be started:\n%2").arg(host, run.error);
    case Outcome::Crashed:
        return QStringLiteral("QStat stopped abnormally while querying %1%2, so no "
                              "details can be shown.\n\nThe server may have sent a reply "
                              "that QStat cannot handle.")
            .arg(host, run.signal > 0 ? QStringLiteral(" (signal %1)").arg(run.signal) : QString());
    case Outcome::TimedOut: {
        const qint64 seconds = std::max<qint64>((run.elapsedMs + 500) / 1000, 1);
        return QStringLiteral("QStat did not finish within %1 %2 while querying %3, so it "
                              "was stopped.")
            .arg(QString::number(seconds),
                 seconds == 1 ? QStringLiteral("second") : QStringLiteral("seconds"), host);
    }
    case Outcome::Finished: break;
    }
    return std::nullopt;
}

QString QStatQuery::problemMessage(const ServerProblem &problem, const QString &host, int port)
{
    switch (problem.kind) {
    case ServerProblem::Kind::Down:
        return QStringLiteral("The server %1 refused the query: no game server is running "
                              "on its port %2.")
            .arg(host)
            .arg(port);
    case ServerProblem::Kind::Timeout:
        return QStringLiteral("The server %1 did not answer on port %2.").arg(host).arg(port);
    case ServerProblem::Kind::Error: break;
    }
    return QStringLiteral("QStat could not query %1:\n%2")
        .arg(host, problem.detail.isEmpty() ? QStringLiteral("unknown error") : problem.detail);
}

QString QStatQuery::noOutputMessage(const QString &host)
{
    return QStringLiteral("QStat gave no answer for %1, so no details can be shown.").arg(host);
}

std::optional<QString> QStatQuery::incompleteOutputMessage(const QString &output, bool cut,
                                                           const QString &host)
{
    if (cut || output.isEmpty() || output.endsWith(QLatin1Char('\n')))
        return std::nullopt;
    return QStringLiteral("The answer of QStat for %1 is incomplete, so the details shown may "
                          "be missing some players or settings.")
        .arg(host);
}

void QStatQuery::decodeHexFields(QStatOutput::Details &details)
{
    for (QStringList &player : details.players) {
        if (player.isEmpty())
            continue;
        if (const auto bytes = hexBytes(player[0]))
            player[0] = QStatOutput::trimBlanks(status::decodeName(*bytes)).toString();
    }
    constexpr int MapColumn = 2;
    if (details.summary.size() > MapColumn) {
        if (const auto bytes = hexBytes(details.summary[MapColumn]))
            details.summary[MapColumn] =
                QStatOutput::trimBlanks(text::utf8OrLatin1(*bytes)).toString();
    }
}

QStatQuery::Result QStatQuery::evaluate(const RunResult &run, const OutputBuffer &output,
                                        const QString &host, int port, int summaryColumns,
                                        int playerColumns)
{
    Result result;
    result.run = run;
    if (const auto message = runFailureMessage(run, host)) {
        result.message = *message;
        return result;
    }
    const QString text = output.text();
    if (text.trimmed().isEmpty()) {
        result.message = noOutputMessage(host);
        return result;
    }
    if (const auto problem = serverProblem(text)) {
        result.message = problemMessage(*problem, host, port);
        return result;
    }
    result.kind = Result::Kind::Loaded;
    result.incomplete = incompleteOutputMessage(text, output.cut(), host);
    result.details = QStatOutput::Parse(text, summaryColumns, playerColumns);
    decodeHexFields(result.details);
    return result;
}

} // namespace tarvex
