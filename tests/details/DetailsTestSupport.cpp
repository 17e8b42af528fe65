#include "DetailsTestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace tarvex::test {

QueryFolders::QueryFolders()
    : m_saved(QStatQuery::environment())
{
    QDir().mkpath(folder());
    QDir().mkpath(emptyFolder());
    QStatQuery::Environment &env = QStatQuery::environment();
    env.folder = folder();
    env.toolFolder = toolFolder();
    env.quakestat.reset();
    env.userPath = QStringLiteral("/usr/bin:/bin");
    env.timeoutMs = QStatQuery::DefaultTimeoutMs;
}

QueryFolders::~QueryFolders() { QStatQuery::environment() = m_saved; }

bool QueryFolders::exists(const QString &name) const { return QFile::exists(file(name)); }

QByteArray QueryFolders::read(const QString &name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void QueryFolders::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

void QueryFolders::putStandIn(const QByteArray &shellBody) const
{
    write(QStringLiteral("qstat"), "#!/bin/sh\n" + shellBody + '\n');
    QFile::setPermissions(file(QStringLiteral("qstat")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                              | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

void QueryFolders::hideQStat() const
{
    QStatQuery::Environment &env = QStatQuery::environment();
    env.quakestat = QString();
    env.userPath = emptyFolder();
}

QString quakestatBinary()
{
    return QStandardPaths::findExecutable(
        QStringLiteral("quakestat"),
        {QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")});
}

bool processRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "pid (name) S ...": a zombie (Z) or dead (X) process has ended.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const char state = close >= 0 && close + 2 < line.size() ? line[close + 2] : '?';
    return state != 'Z' && state != 'X';
}

} // namespace tarvex::test
