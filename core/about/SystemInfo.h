#pragma once

#include "core/about/Registry.h"

#include <QString>
#include <QStringList>

namespace tarvex::about {

// Where the About box looks for the system information tool: the tool's full path
// under the first key; failing that, a folder holding MsInfoProgram under the second.
inline const QString MsInfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
inline const QString MsInfoPathValue = QStringLiteral("PATH");
inline const QString SharedToolsKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
inline const QString SharedToolsMsInfoValue = QStringLiteral("MSINFO");
inline const QString MsInfoProgram = QStringLiteral("MSINFO32.EXE");

// System information tools of the common Linux desktops, most thorough first.
QStringList systemInfoTools();

// The absolute path of the first of systemInfoTools() found as an executable on the
// PATH, or an empty text when none is.
QString findSystemInfoTool();

// This machine's registry. Linux has none: the tool's path under MsInfoKey is the first
// system information tool found on the PATH at the moment it is read, and every other
// key and value is absent.
class SystemRegistry final : public Registry
{
public:
    long openKey(Handle root, const QByteArray &subKey, std::uint32_t access, Handle *key) override;
    long queryValue(Handle key, const QByteArray &name, std::uint32_t *type, char *data,
                    std::uint32_t *size) override;
    long closeKey(Handle key) override;
};

// The one SystemRegistry of the program.
Registry &systemRegistry();

} // namespace tarvex::about
