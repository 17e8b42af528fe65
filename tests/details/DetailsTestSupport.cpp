#include "DetailsTestSupport.h"

#include <QFile>
#include <QStandardPaths>

namespace tarvex::test {

QStatStandIn::QStatStandIn() = default;

QStatStandIn::~QStatStandIn()
{
    if (m_pathSet)
        qputenv("PATH", m_savedPath);
}

bool QStatStandIn::exists(const QString &name) const { return QFile::exists(file(name)); }

QByteArray QStatStandIn::read(const QString &name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void QStatStandIn::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

void QStatStandIn::put(const QByteArray &shellBody) const
{
    write(QStringLiteral("quakestat"),
          "#!/bin/sh\ncd '" + QFile::encodeName(folder()) + "' || exit 99\n" + shellBody + '\n');
    QFile::setPermissions(program(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void QStatStandIn::putOnPath()
{
    if (!m_pathSet) {
        m_savedPath = qgetenv("PATH");
        m_pathSet = true;
    }
    qputenv("PATH", QFile::encodeName(folder()) + ':' + m_savedPath);
}

qint64 QStatStandIn::pid(const QString &name) const { return read(name).trimmed().toLongLong(); }

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
