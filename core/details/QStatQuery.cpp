#include "core/details/QStatQuery.h"

#include "core/NestedWait.h"
#include "core/Program.h"
#include "core/browser/Module1.h"
#include "core/details/Module2.h"
#include "core/status/StatusReply.h"
#include "core/text/TextRules.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <sys/types.h>
#include <unistd.h>

namespace tarvex::QStatQuery {

namespace {

constexpr int KillWaitMs = 3000;

QString cacheFolder() { return QStandardPaths::writableLocation(QStandardPaths::CacheLocation); }

QString findQuakestat(const Environment &env)
{
    if (env.quakestat)
        return QFileInfo(*env.quakestat).isExecutable() ? *env.quakestat : QString();
    const QString name = QStringLiteral("quakestat");
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty()) {
        found = QStandardPaths::findExecutable(name,
                                               {QStringLiteral("/usr/bin"),
                                                QStringLiteral("/usr/local/bin"),
                                                QStringLiteral("/usr/games")});
    }
    return found;
}

// Makes toolFolder/qstat a symbolic link to target, keeping a link that already
// points there. A new link is made under a private name and renamed into place, so a
// second Tarvex doing the same at the same moment never sees it missing.
bool ensureQStatLink(const QString &toolFolder, const QString &target)
{
    if (!QDir().mkpath(toolFolder))
        return false;
    const QByteArray link = QFile::encodeName(toolFolder + QStringLiteral("/qstat"));
    const QByteArray wanted = QFile::encodeName(target);
    char current[PATH_MAX];
    const ssize_t n = ::readlink(link.constData(), current, sizeof current);
    if (n >= 0 && QByteArray(current, int(n)) == wanted)
        return true;
    const QByteArray temp = link + '.' + QByteArray::number(QCoreApplication::applicationPid());
    ::unlink(temp.constData());
    if (::symlink(wanted.constData(), temp.constData()) != 0)
        return false;
    if (::rename(temp.constData(), link.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

void killGroup(QProcess &process)
{
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL); // the shell, QStat and anything else they started
    process.waitForFinished(KillWaitMs);
}

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

} // namespace

void decodeHexFields(Module2::Details &details)
{
    for (QStringList &player : details.players) {
        if (player.isEmpty())
            continue;
        if (const auto bytes = hexBytes(player[0]))
            player[0] = Module2::trimBlanks(status::decodeName(*bytes)).toString();
    }
    constexpr int MapColumn = 2;
    if (details.summary.size() > MapColumn) {
        if (const auto bytes = hexBytes(details.summary[MapColumn]))
            details.summary[MapColumn] = Module2::trimBlanks(text::utf8OrLatin1(*bytes)).toString();
    }
}

Environment &environment()
{
    static Environment env;
    return env;
}

QString firstWritableFolder(const QStringList &candidates)
{
    for (const QString &folder : candidates) {
        if (folder.isEmpty())
            continue;
        QDir().mkpath(folder);
        const QFileInfo info(folder);
        if (info.isDir() && info.isWritable())
            return QDir::cleanPath(info.absoluteFilePath());
    }
    return {};
}

QString resolveFolder(const Environment &env)
{
    if (!env.folder.isEmpty())
        return env.folder;
    // An installed program's folder is usually not writable by its users.
    return firstWritableFolder({QCoreApplication::applicationDirPath(), cacheFolder()});
}

QString batchLine(const QString &host, int port)
{
    // -hpn: player names (and the map) in hexadecimal, as the server sent them; QStat
    // itself would strip their high bits and drop the Quake 2 glyph bytes.
    return QStringLiteral("qstat -hpn -R -P -raw %1 -q2s %2:%3 > %4")
        .arg(Module2::Delimiter, host, QString::number(port), OutputFileName);
}

std::optional<QString> writeBatchFile(const QString &folder, const QString &host, int port)
{
    // The line goes to a shell and its host to QStat's command line: only a text that
    // can be nothing but a host name or a dotted address may be written into it.
    if (!Module1::IsPlainHost(host))
        return QStringLiteral("the server address is not a plain host name or IP address");
    if (port < 1 || port > 65535)
        return QStringLiteral("the server port is not a number from 1 to 65535");
    // A new file beside the old one, renamed over it: whatever sits at info.bat (a
    // symbolic link planted there, say) is replaced as a name, never written through.
    // QSaveFile is not used because it writes to a link's target.
    const QString target = QDir(folder).filePath(BatchFileName);
    QTemporaryFile file(target + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return file.errorString();
    const QByteArray line = batchLine(host, port).toLatin1() + '\n';
    if (file.write(line) != line.size() || !file.flush())
        return file.errorString();
    file.close();
    if (QFileInfo(target).isDir())
        return QStringLiteral("a folder is in the way of the file");
    if (::rename(QFile::encodeName(file.fileName()).constData(),
                 QFile::encodeName(target).constData())
        != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    file.setAutoRemove(false);
    return std::nullopt;
}

void deleteOutput(const QString &folder) { QFile::remove(QDir(folder).filePath(OutputFileName)); }

QString searchPath(const Environment &env, const QString &folder)
{
    QStringList entries;
    // A folder whose path holds ":" cannot be named in a search path.
    const auto add = [&entries](const QString &entry) {
        if (!entry.isEmpty() && !entry.contains(QLatin1Char(':')))
            entries.append(entry);
    };
    add(folder);
    const QString quakestat = findQuakestat(env);
    if (!quakestat.isEmpty()) {
        const QString toolFolder =
            env.toolFolder.isEmpty() ? cacheFolder() + QStringLiteral("/bin") : env.toolFolder;
        if (ensureQStatLink(toolFolder, quakestat))
            add(toolFolder);
    }
    QString user = env.userPath ? *env.userPath : qEnvironmentVariable("PATH");
    if (!env.userPath && user.isEmpty())
        user = QStringLiteral("/usr/local/bin:/usr/bin:/bin");
    for (const QString &entry : user.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        entries.append(entry);
    return entries.join(QLatin1Char(':'));
}

RunResult runBatch(const QString &folder, const QString &path, int timeoutMs)
{
    QProcess process;
    process.setProgram(ShellProgram);
    process.setArguments({QDir(folder).filePath(BatchFileName)});
    process.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), path);
    process.setProcessEnvironment(env);
    // QStat's answer comes through the file alone; nothing is read from the pipes.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // A group of its own, so a time-out can end QStat along with the shell.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });

    RunResult result;
    NestedWait wait;
    QObject::connect(&process, &QProcess::finished, wait.context(),
                     [&](int exitCode, QProcess::ExitStatus status) {
                         if (status == QProcess::CrashExit) {
                             result.outcome = RunResult::Outcome::Crashed;
                         } else if (exitCode > 128 && exitCode < 128 + 65) {
                             // The shell reports a command ended by signal n as 128 + n.
                             result.outcome = RunResult::Outcome::Crashed;
                             result.signal = exitCode - 128;
                         } else {
                             result.outcome = RunResult::Outcome::Finished;
                         }
                         result.exitCode = exitCode;
                         wait.finish();
                     });
    // A process that cannot start reports only this, never finished().
    QObject::connect(&process, &QProcess::errorOccurred, wait.context(),
                     [&](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         result.outcome = RunResult::Outcome::FailedToStart;
                         result.error = process.errorString();
                         wait.finish();
                     });

    QElapsedTimer clock;
    clock.start();
    process.start();
    const NestedWait::Result waited = wait.exec(timeoutMs);
    result.elapsedNs = clock.nsecsElapsed();
    result.elapsedMs = result.elapsedNs / 1000000;
    if (waited == NestedWait::Result::Finished)
        return result;

    killGroup(process);
    // A QStat that never ended may have filled the disk: its output goes at once.
    deleteOutput(folder);
    result.outcome = waited == NestedWait::Result::TimedOut ? RunResult::Outcome::TimedOut
                                                            : RunResult::Outcome::ProgramEnded;
    return result;
}

std::optional<QString> readOutput(const QString &folder)
{
    // Only a regular file: a FIFO would block the read until something writes to it.
    const QString path = QDir(folder).filePath(OutputFileName);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(MaxOutputBytes);
    if (!file.atEnd()) {
        // Cut at the limit, the output may end inside a character: that piece of a
        // character is left out, and the rest still reads as the UTF-8 it is.
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString text = utf8(bytes);
        if (!utf8.hasError())
            return text;
    }
    return text::utf8OrLatin1(bytes);
}

std::optional<ServerProblem> serverProblem(const QString &output)
{
    const qsizetype end = output.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    const QString first = end < 0 ? output : output.left(end);
    const QStringList fields = first.split(Module2::Delimiter);
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

std::optional<QString> runFailureMessage(const RunResult &run, const QString &host,
                                         const QString &folder)
{
    using Outcome = RunResult::Outcome;
    switch (run.outcome) {
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
    case Outcome::ProgramEnded: return std::nullopt;
    case Outcome::Finished: break;
    }
    if (run.exitCode == 127) {
        return QStringLiteral("QStat could not be found, so %1 could not be queried.\n\n"
                              "Install QStat (on Debian and Ubuntu the package \"qstat\", "
                              "whose program is named quakestat), or put a program named "
                              "\"qstat\" into:\n%2")
            .arg(host, QDir::toNativeSeparators(folder));
    }
    if (run.exitCode == 126)
        return QStringLiteral("QStat could not be run (it is not executable), so %1 could "
                              "not be queried.")
            .arg(host);
    return std::nullopt;
}

QString problemMessage(const ServerProblem &problem, const QString &host, int port)
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

QString noOutputMessage(const QString &host)
{
    return QStringLiteral("QStat gave no answer for %1, so no details can be shown.").arg(host);
}

QString unreadableOutputMessage(const QString &folder, const QString &host)
{
    const QString path = QDir(folder).filePath(OutputFileName);
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!info.exists() && !info.isSymLink())
        return noOutputMessage(host);
    if (info.isDir())
        return QStringLiteral("The answer of QStat for %1 cannot be read: %2 is a folder, "
                              "not a file. Remove the folder and query again.")
            .arg(host, shown);
    if (!info.exists())
        return QStringLiteral("The answer of QStat for %1 cannot be read: %2 is a "
                              "symbolic link to a missing file.")
            .arg(host, shown);
    if (!info.isFile())
        return QStringLiteral("The answer of QStat for %1 cannot be read: %2 is not a "
                              "regular file.")
            .arg(host, shown);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("The answer of QStat for %1 cannot be read from %2:\n%3")
            .arg(host, shown, file.errorString());
    return noOutputMessage(host);
}

std::optional<QString> incompleteOutputMessage(const QString &folder, const QString &output,
                                               const QString &host)
{
    // QStat ends every line it writes; an answer that stops inside a line, or one
    // written to a disk with no room left, was cut short.
    const QStorageInfo storage(folder);
    const bool full = storage.isValid() && storage.bytesAvailable() == 0;
    const bool cutLine = !output.isEmpty() && !output.endsWith(QLatin1Char('\n'))
        && QFileInfo(QDir(folder).filePath(OutputFileName)).size() <= MaxOutputBytes;
    if (!full && !cutLine)
        return std::nullopt;
    return QStringLiteral("The answer of QStat for %1 is incomplete%2, so the details "
                          "shown may be missing some players or settings.")
        .arg(host,
             full ? QStringLiteral(" (the disk holding %1 is full)")
                        .arg(QDir::toNativeSeparators(folder))
                  : QString());
}

Outcome query(const QString &host, int port, const Environment &env, int summaryColumns,
              int playerColumns)
{
    Outcome outcome;
    const auto fail = [&outcome](const QString &message) {
        outcome.kind = Outcome::Kind::Failed;
        outcome.message = message;
        return outcome;
    };

    outcome.folder = resolveFolder(env);
    const QString &folder = outcome.folder;
    if (folder.isEmpty())
        return fail(QStringLiteral("The details of %1 cannot be queried: neither the "
                                   "program's folder nor the cache folder is writable.")
                        .arg(Module1::IsPlainHost(host) ? host : QStringLiteral("the server")));

    // An answer left by an earlier query must never be read as this one's.
    deleteOutput(folder);

    if (!Module1::IsPlainHost(host))
        return fail(Module1::NotPlainHostText);
    if (const auto error = writeBatchFile(folder, host, port))
        return fail(
            QStringLiteral("The query file could not be written:\n%1\n%2")
                .arg(QDir::toNativeSeparators(QDir(folder).filePath(BatchFileName)), *error));

    QDir::setCurrent(folder);
    outcome.run = runBatch(folder, searchPath(env, folder), env.timeoutMs);
    if (Program::endRequested() || outcome.run->outcome == RunResult::Outcome::ProgramEnded) {
        outcome.kind = Outcome::Kind::ProgramEnded;
        return outcome;
    }
    if (const auto message = runFailureMessage(*outcome.run, host, folder))
        return fail(*message);

    const std::optional<QString> output = readOutput(folder);
    if (!output)
        return fail(unreadableOutputMessage(folder, host));
    if (output->trimmed().isEmpty())
        return fail(noOutputMessage(host));
    if (const auto problem = serverProblem(*output))
        return fail(problemMessage(*problem, host, port));

    outcome.kind = Outcome::Kind::Loaded;
    outcome.incomplete = incompleteOutputMessage(folder, *output, host);
    outcome.details = Module2::Parse(*output, summaryColumns, playerColumns);
    decodeHexFields(outcome.details);
    return outcome;
}

} // namespace tarvex::QStatQuery
