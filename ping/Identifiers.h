#pragma once

// The fixed identity of the PingOCX component: identifiers, versions and the dispatch
// identifiers of the members of its interface _Ping. Callers bind to these; never change them.

#include <QUuid>
#include <QtGlobal>

namespace pingocx {

inline constexpr char kProgId[] = "PingOCX.Ping";
inline constexpr char kTypeLibName[] = "PingOCX";
inline constexpr char kTypeLibHelp[] = "ICMP Ping ActiveX Control";
inline constexpr char kTypeLibVersion[] = "4.0";

#define PINGOCX_CLSID_TEXT "{ED37E54C-E24F-11D0-B680-0000F654079F}"
#define PINGOCX_IID_TEXT "{ED37E54B-E24F-11D0-B680-0000F654079F}"
#define PINGOCX_SRCIID_TEXT "{ED37E54D-E24F-11D0-B680-0000F654079F}"
#define PINGOCX_TYPELIB_TEXT "{39C1A67F-CD1A-11D0-8F45-400040000490}"

inline const QUuid CLSID_Ping{QStringLiteral(PINGOCX_CLSID_TEXT)};
inline const QUuid IID__Ping{QStringLiteral(PINGOCX_IID_TEXT)};
inline const QUuid IID___Ping{QStringLiteral(PINGOCX_SRCIID_TEXT)};
inline const QUuid LIBID_PingOCX{QStringLiteral(PINGOCX_TYPELIB_TEXT)};

namespace dispid {
inline constexpr qint32 Sock = 0x40030003;
inline constexpr qint32 Handle = 0x4003000A;
inline constexpr qint32 Send = 0x60030005;
inline constexpr qint32 IPAddress = 0x68030004;
inline constexpr qint32 HostName = 0x68030003;
inline constexpr qint32 WSAAsyncGetHostByNameAlias = 0x6003000B;
inline constexpr qint32 AsyncPortNumber = 0x6003000C;
inline constexpr qint32 LookUpIpFromHostName = 0x6003000E;
inline constexpr qint32 TimeOut = 0x68030002;
inline constexpr qint32 Alias = 0x68030001;
inline constexpr qint32 ResolveNames = 0x68030000;
} // namespace dispid

} // namespace pingocx
