#pragma once

#include <QString>
#include <optional>

// Helpers shared by the main window and the details window.
namespace tarvex::Module1 {

// Host part of an address text: everything before its first ":", or the whole text.
QString HostPart(const QString &address);

// Port of an address text: the number after its first ":", or defaultPort when the
// text names none. Meant for addresses that IsPlainAddress() accepts.
int PortPart(const QString &address, int defaultPort);

// The stored form of a chosen file's path: absolute and cleaned, symbolic links left
// as they are. No value (the "file not found" failure) when no such file exists, when
// it is a folder, or when the path holds a NUL.
std::optional<QString> ShortPathOf(const QString &path);

// True for a text that can only be a host: a dotted address or a host name made of
// ASCII letters, digits, "." and "-", not empty and not starting with "-". Anything
// else could be read as an option or a command by the programs it is handed to.
bool IsPlainHost(const QString &host);

// Why a server address that is not a plain host was not queried, for the window's message.
extern const QString NotPlainHostText;

// True for a plain host optionally followed by ":" and a port number (1 to 65535).
bool IsPlainAddress(const QString &address);

} // namespace tarvex::Module1
