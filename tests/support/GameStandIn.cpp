#include "support/GameStandIn.h"

#include <QDir>
#include <QFile>

namespace tarvex::test {

QString writeGameStandIn(const QString &file, const QString &runsDir, bool executable)
{
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\nr='" + runsDir.toLocal8Bit()
            + "'/run.$$\n"
              "{ echo \"program=${0##*/}\"; echo \"cwd=$(pwd -P)\";"
              " for a in \"$@\"; do echo \"arg=$a\"; done; } > \"$r.tmp\" && /bin/mv "
              "\"$r.tmp\" \"$r\"\n");
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFile::ExeOwner);
    return file;
}

QList<QStringList> gameRuns(const QString &runsDir)
{
    QList<QStringList> out;
    const QDir dir(runsDir);
    for (const QString &name : dir.entryList({QStringLiteral("run.*")}, QDir::Files)) {
        if (name.endsWith(QLatin1String(".tmp")))
            continue;
        QFile f(dir.filePath(name));
        f.open(QIODevice::ReadOnly);
        out << QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return out;
}

} // namespace tarvex::test
