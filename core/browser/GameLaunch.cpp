#include "core/browser/GameLaunch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarvex::GameLaunch {

QString gameExecutable(const QString &folder, const QString &chosen)
{
    // QDir::Files without QDir::System lists regular files (and links to them) only.
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    if (names.contains(GameFileName))
        return folder + GameFileName;
    for (const QString &name : names) {
        if (name.compare(GameFileName, Qt::CaseInsensitive) == 0)
            return folder + name;
    }
    return chosen;
}

bool isWindowsProgram(const QString &path)
{
    // Opening a FIFO for reading waits for a writer, so only regular files are read.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == QByteArrayLiteral("MZ");
}

QString notRegularFileMessage(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    return QStringLiteral("%1 is not a regular file (it is a %2), so it cannot be "
                          "started as the game.")
        .arg(QDir::toNativeSeparators(path),
             info.isDir() ? QStringLiteral("folder") : QStringLiteral("FIFO, socket or device"));
}

Launch plan(const QString &location, const QString &address, const QString &wine)
{
    Launch launch;
    // The folder is the location up to and including its last separator.
    const QString name = QFileInfo(location).fileName();
    launch.folder = location.left(location.size() - name.size());
    const QString executable = gameExecutable(launch.folder, location);
    launch.error = notRegularFileMessage(executable);
    if (!launch.error.isEmpty())
        return launch;
    launch.windowsProgram = isWindowsProgram(executable);
    if (launch.windowsProgram && !wine.isEmpty()) {
        launch.program = wine;
        launch.arguments = {executable, QStringLiteral("+connect"), address};
    } else {
        launch.program = executable;
        launch.arguments = {QStringLiteral("+connect"), address};
        launch.wineMissing = launch.windowsProgram;
    }
    return launch;
}

} // namespace tarvex::GameLaunch
