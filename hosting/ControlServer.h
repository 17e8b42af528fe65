#pragma once

// The binary contract between a control host and an in-process control server (a shared
// library such as libPingOCX.so). Header-only: a server includes it without linking
// anything of the host, and the host includes it without linking the server.
//
// A control server exports, with C linkage:
//   int32_t DllRegisterServer();      records its classes in the component registry
//   int32_t DllUnregisterServer();    removes exactly those records
//   int32_t DllGetClassObject(const QUuid *clsid, const QUuid *iid, void **object);
//                                     hands out the class object (an IClassFactory) of a class
//   int32_t DllCanUnloadNow();        S_OK when no instance, lock or pending work remains
// and may export DllGetVersion(DllVersionInfo *). Results are COM-style HRESULT codes.
//
// The component registry is one INI file per user (see componentRegistryPath()):
//   [ProgID]   <progId>\CLSID = {class id}
//   [CLSID]    <class id without braces>\ProgID, \InprocServer32 (library path),
//              \Control (true), \TypeLib ({type library id}), \Version (type library version)
//   [TypeLib]  <type library id without braces>\<version>\... (help string, library path)

#include <QStandardPaths>
#include <QString>
#include <QUuid>
#include <cstdint>

class QObject;
class QWidget;

namespace tarvex::hosting {

// HRESULT values used across the boundary.
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t S_FALSE = 1;
inline constexpr int32_t E_NOINTERFACE = int32_t(0x80004002u);
inline constexpr int32_t E_POINTER = int32_t(0x80004003u);
inline constexpr int32_t E_FAIL = int32_t(0x80004005u);
inline constexpr int32_t E_OUTOFMEMORY = int32_t(0x8007000Eu);
inline constexpr int32_t CLASS_E_NOAGGREGATION = int32_t(0x80040110u);
inline constexpr int32_t CLASS_E_CLASSNOTAVAILABLE = int32_t(0x80040111u);
inline constexpr int32_t SELFREG_E_TYPELIB = int32_t(0x80040200u);
inline constexpr int32_t SELFREG_E_CLASS = int32_t(0x80040201u);
inline constexpr int32_t DISP_E_MEMBERNOTFOUND = int32_t(0x80020003u);
inline constexpr int32_t DISP_E_TYPEMISMATCH = int32_t(0x80020005u);
inline constexpr int32_t DISP_E_OVERFLOW = int32_t(0x8002000Au);
inline constexpr int32_t DISP_E_BADPARAMCOUNT = int32_t(0x8002000Eu);

// Flags of a call by dispatch identifier (the control's Invoke entry).
inline constexpr int32_t DISPATCH_METHOD = 1;
inline constexpr int32_t DISPATCH_PROPERTYGET = 2;
inline constexpr int32_t DISPATCH_PROPERTYPUT = 4;

// The interface identifier of IClassFactory.
inline const QUuid IID_IClassFactory{QStringLiteral("{00000001-0000-0000-C000-000000000046}")};

// The class object of one control class. It lives as long as the library is loaded.
class IClassFactory
{
public:
    // Creates an instance as a child of parent (which may be null). On success *object is
    // the new control, a QWidget whose meta-object carries the class info "ClassID".
    virtual int32_t CreateInstance(QWidget *parent, QObject **object) = 0;
    // Keeps the library loaded (lock true) or releases one such lock.
    virtual int32_t LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

struct DllVersionInfo
{
    uint32_t cbSize = sizeof(DllVersionInfo);
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformID = 0;
};

using DllRegisterServerFn = int32_t (*)();
using DllUnregisterServerFn = int32_t (*)();
using DllGetClassObjectFn = int32_t (*)(const QUuid *clsid, const QUuid *iid, void **object);
using DllCanUnloadNowFn = int32_t (*)();
using DllGetVersionFn = int32_t (*)(DllVersionInfo *info);

// The per-user component registry file: $XDG_CONFIG_HOME/ComponentRegistry/classes.ini
// (else ~/.config/...). Read at every call, so a test may point XDG_CONFIG_HOME elsewhere.
inline QString componentRegistryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/ComponentRegistry/classes.ini");
}

// A class identifier as used in registry keys: upper case, without braces.
inline QString registryKeyOf(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// A class identifier as used in registry values: upper case, with braces.
inline QString registryTextOf(const QUuid &id) { return id.toString(QUuid::WithBraces).toUpper(); }

} // namespace tarvex::hosting
