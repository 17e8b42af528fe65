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

QString passwordProblem(const QString &password)
{
    if (password.isEmpty())
        return QStringLiteral("The password is empty.");
    if (password.size() > 256)
        return QStringLiteral("The password is longer than 256 characters.");
    for (const QChar c : password) {
        const char16_t u = c.unicode();
        if (u == u';' || u == u'"')
            return QStringLiteral("The password holds %1, which the game's console would read "
                                  "as the end of a command; it is not used.")
                .arg(u == u';' ? QStringLiteral("a semicolon") : QStringLiteral("a double quote"));
        if (u == u'\n' || u == u'\r')
            return QStringLiteral("The password holds a line break, which the game's console "
                                  "would read as the end of a command; it is not used.");
        if (u < 0x20 || u == 0x7f)
            return QStringLiteral("The password holds a control character (code %1); it is not "
                                  "used.")
                .arg(int(u));
        if (u == u' ' || u == u'+' || u == u'-')
            return QStringLiteral("The password holds \"%1\", which the game's command line "
                                  "would cut it at; it is not used.")
                .arg(c);
        if (u > 0xff)
            return QStringLiteral("The password holds \"%1\", a character the game cannot "
                                  "receive; it is not used.")
                .arg(c);
    }
    return {};
}

Launch planWithPassword(const QString &location, const QString &address, const QString &password,
                        const QString &wine)
{
    const QString problem = passwordProblem(password);
    if (!problem.isEmpty()) {
        Launch refused;
        refused.error = problem;
        return refused;
    }
    Launch launch = plan(location, address, wine);
    if (!launch.error.isEmpty())
        return launch;
    // The password is set before the connect command reads it.
    const int at = launch.arguments.indexOf(QStringLiteral("+connect"));
    launch.arguments.insert(at, password);
    launch.arguments.insert(at, QStringLiteral("password"));
    launch.arguments.insert(at, QStringLiteral("+set"));
    return launch;
}

} // namespace tarvex::GameLaunch
