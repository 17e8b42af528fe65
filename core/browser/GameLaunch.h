#pragma once

#include <QString>
#include <QStringList>

// Starting the game: which file to run, whether it needs wine, and the command that
// joins a server. Everything here returns a value; the main window shows the messages.
namespace tarvex::GameLaunch {

inline const QString GameFileName = QStringLiteral("quake2.exe");

// The executable to start in folder (ending in a separator): the regular file named
// quake2.exe there in any letter case (the exact lower-case name first), else chosen.
QString gameExecutable(const QString &folder, const QString &chosen);

// True for a Windows executable: a regular file starting with the "MZ" signature.
// Never blocks: anything but a regular file is not opened.
bool isWindowsProgram(const QString &path);

// The message for a chosen game file that cannot be started because it is not a
// regular file (a folder, FIFO, socket or device), or empty when it is one or missing.
QString notRegularFileMessage(const QString &path);

// What to start: the program, its arguments (one by one, never through a shell) and
// its working folder, or the reason nothing can be started.
struct Launch
{
    QString program;
    QStringList arguments;
    QString folder;
    bool windowsProgram = false; // needs wine
    bool wineMissing = false; // a Windows program and no wine on the search path
    QString error; // set: nothing is started
};

// The start of the game at location joining address (a plain host[:port], checked by
// the caller). wine is the path of wine, or empty when there is none.
Launch plan(const QString &location, const QString &address, const QString &wine);

// Why password cannot be handed to the game's command line, or empty when it can.
// The game joins its arguments into one console line and cuts it at `;`, `"`, line
// breaks and other control bytes, at spaces between words and at `+`/`-`, which start
// a new command; a password holding one would run the rest as commands of its own or
// arrive cut short. Only Latin-1 text reaches the game unchanged.
QString passwordProblem(const QString &password);

// As plan(), joining a server that asks for password: `+set password PASSWORD` before
// `+connect ADDRESS`, each word a separate argument. A refused password sets error and
// starts nothing.
Launch planWithPassword(const QString &location, const QString &address, const QString &password,
                        const QString &wine);

} // namespace tarvex::GameLaunch
