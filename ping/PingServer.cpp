// The component side of libPingOCX: its class object, its self-registration in the per-user
// component registry, and the exported entry points (C linkage) that hosts look up by name.

#include "EchoMeans.h"
#include "Identifiers.h"
#include "Ping.h"
#include "Resolver.h"
#include "ServerState.h"

#include "hosting/ControlServer.h"

#include <QApplication>
#include <QFileInfo>
#include <QObject>
#include <QSettings>
#include <atomic>

using namespace tarvex::hosting;

namespace pingocx {

namespace server {
namespace {
std::atomic<int> g_instances{0};
std::atomic<int> g_locks{0};
} // namespace

void instanceCreated() { ++g_instances; }
void instanceDestroyed() { --g_instances; }
int liveInstances() { return g_instances.load(); }
} // namespace server

// The class object of Ping. It is also the library's Qt plugin root, which carries the
// component's metadata (version texts, classes) where a host can read it without loading
// the library: QPluginLoader(path).metaData().
class PingClassFactory final : public QObject, public IClassFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.tarvex.ControlServer/1.0" FILE "PingOCX.json")

public:
    int32_t CreateInstance(QWidget *parent, QObject **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        // Widgets need a QApplication; without one creating the control would abort.
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return E_FAIL;
        *object = new Ping(parent);
        return S_OK;
    }

    int32_t LockServer(bool lock) override
    {
        if (lock)
            ++server::g_locks;
        else if (server::g_locks.load() > 0)
            --server::g_locks;
        return S_OK;
    }
};

namespace {

PingClassFactory &classObject()
{
    static PingClassFactory factory;
    return factory;
}

// The path this library was loaded from, made absolute.
QString libraryFile()
{
    const std::string path = libraryPath();
    if (path.empty())
        return QString();
    return QFileInfo(QString::fromLocal8Bit(path.c_str())).absoluteFilePath();
}

QString progIdGroup() { return QStringLiteral("ProgID/") + QLatin1String(kProgId); }
QString classGroup() { return QStringLiteral("CLSID/") + registryKeyOf(CLSID_Ping); }
QString typeLibGroup() { return QStringLiteral("TypeLib/") + registryKeyOf(LIBID_PingOCX); }

} // namespace

} // namespace pingocx

using namespace pingocx;

extern "C" Q_DECL_EXPORT int32_t DllRegisterServer()
{
    const QString library = libraryFile();
    if (library.isEmpty())
        return SELFREG_E_CLASS;
    QSettings registry(componentRegistryPath(), QSettings::IniFormat);
    registry.setValue(progIdGroup() + QStringLiteral("/CLSID"), registryTextOf(CLSID_Ping));
    registry.setValue(classGroup() + QStringLiteral("/ProgID"), QLatin1String(kProgId));
    registry.setValue(classGroup() + QStringLiteral("/InprocServer32"), library);
    registry.setValue(classGroup() + QStringLiteral("/Control"), true);
    registry.setValue(classGroup() + QStringLiteral("/TypeLib"), registryTextOf(LIBID_PingOCX));
    registry.setValue(classGroup() + QStringLiteral("/Version"), QLatin1String(kTypeLibVersion));
    const QString typeLib = typeLibGroup() + QLatin1Char('/') + QLatin1String(kTypeLibVersion);
    registry.setValue(typeLib + QStringLiteral("/HelpString"), QLatin1String(kTypeLibHelp));
    registry.setValue(typeLib + QStringLiteral("/Path"), library);
    registry.sync();
    return registry.status() == QSettings::NoError ? S_OK : SELFREG_E_CLASS;
}

extern "C" Q_DECL_EXPORT int32_t DllUnregisterServer()
{
    QSettings registry(componentRegistryPath(), QSettings::IniFormat);
    registry.remove(progIdGroup());
    registry.remove(classGroup());
    registry.remove(typeLibGroup() + QLatin1Char('/') + QLatin1String(kTypeLibVersion));
    registry.beginGroup(typeLibGroup());
    const bool typeLibEmpty = registry.allKeys().isEmpty();
    registry.endGroup();
    if (typeLibEmpty)
        registry.remove(typeLibGroup());
    registry.sync();
    return registry.status() == QSettings::NoError ? S_OK : SELFREG_E_CLASS;
}

extern "C" Q_DECL_EXPORT int32_t DllGetClassObject(const QUuid *clsid, const QUuid *iid,
                                                   void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!clsid || !iid)
        return E_POINTER;
    if (*clsid != CLSID_Ping)
        return CLASS_E_CLASSNOTAVAILABLE;
    if (*iid != IID_IClassFactory)
        return E_NOINTERFACE;
    *object = static_cast<IClassFactory *>(&classObject());
    return S_OK;
}

extern "C" Q_DECL_EXPORT int32_t DllCanUnloadNow()
{
    const bool idle =
        server::liveInstances() == 0 && server::g_locks.load() == 0 && pendingLookups() == 0;
    return idle ? S_OK : S_FALSE;
}

// The version as numbers, the same as in the library's file name.
extern "C" Q_DECL_EXPORT int32_t DllGetVersion(DllVersionInfo *info)
{
    if (!info)
        return E_POINTER;
    if (info->cbSize < sizeof(DllVersionInfo))
        return E_FAIL;
    info->dwMajorVersion = PINGOCX_VERSION_MAJOR;
    info->dwMinorVersion = PINGOCX_VERSION_MINOR;
    info->dwBuildNumber = PINGOCX_VERSION_BUILD;
    info->dwPlatformID = 0;
    return S_OK;
}

#include "PingServer.moc"
