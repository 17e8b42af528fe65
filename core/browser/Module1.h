#pragma once

#include <QString>
#include <optional>

// Helpers shared by the main window and the details window.
namespace tarvex::Module1 {

// Host part of the server chosen for "More Server Info": written by the main window,
// read by the details window's load step.
extern QString ServerIP;

// Host part of an address text: everything before its first ":", or the whole text.
QString HostPart(const QString &address);

// The part of text before its first NUL character (the whole text when it has none).
QString CutAtNull(const QString &text);

// The stored form of a chosen file's path: absolute and cleaned, symbolic links left
// as they are. No value (the "file not found" failure) when no such file exists, when
// it is a folder, or when the path holds a NUL.
std::optional<QString> ShortPathOf(const QString &path);

// True for a text that can only be a host: a dotted address or a host name made of
// ASCII letters, digits, "." and "-", not empty and not starting with "-". Anything
// else could be read as an option or a command by the programs it is handed to.
bool IsPlainHost(const QString &host);

// True for a plain host optionally followed by ":" and a port number (1 to 65535).
bool IsPlainAddress(const QString &address);

} // namespace tarvex::Module1
