#include "hosting/PingLoader.h"

#include "hosting/ControlServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QSettings>
#include <QWidget>

#ifndef TARVEX_CONTROL_DIR
#define TARVEX_CONTROL_DIR "/usr/local/lib/tarvex"
#endif

namespace tarvex::hosting {

namespace {

QString hex(int32_t code)
{
    return QStringLiteral("0x%1").arg(quint32(code), 8, 16, QLatin1Char('0'));
}

// The library file in a folder: lib<Base>.so, else the highest lib<Base>.so.<n...>.
QString libraryInFolder(const QString &folder, const QString &base)
{
    const QDir dir(folder);
    const QString plain = QStringLiteral("lib%1.so").arg(base);
    if (dir.exists(plain))
        return dir.absoluteFilePath(plain);
    const QStringList versioned =
        dir.entryList({plain + QStringLiteral(".*")}, QDir::Files, QDir::Name | QDir::Reversed);
    return dir.absoluteFilePath(versioned.isEmpty() ? plain : versioned.first());
}

// The class id of progId from a library's metadata ("Classes" table), read without loading.
QUuid classIdFromMetadata(const QString &libraryPath, const QString &progId)
{
    const QJsonObject meta =
        QPluginLoader(libraryPath).metaData().value(QStringLiteral("MetaData")).toObject();
    for (const QJsonValue &c : meta.value(QStringLiteral("Classes")).toArray()) {
        const QJsonObject entry = c.toObject();
        if (entry.value(QStringLiteral("ProgID")).toString() == progId)
            return QUuid(entry.value(QStringLiteral("CLSID")).toString());
    }
    return QUuid();
}

QString classIdOf(const QObject *object)
{
    const QMetaObject *mo = object->metaObject();
    const int index = mo->indexOfClassInfo("ClassID");
    return index < 0 ? QString() : QString::fromLatin1(mo->classInfo(index).value());
}

// PingControl over the library's control, as its child: every member is found once, by
// its signature, when the control is created; a control that lacks one is refused then.
class LoadedPing final : public PingControl
{
public:
    // Null, with *missing naming the first member not found, when the control lacks one.
    static LoadedPing *bind(QWidget *control, QString *missing)
    {
        auto *ping = new LoadedPing(control);
        *missing = ping->resolve();
        if (missing->isEmpty())
            return ping;
        delete ping;
        return nullptr;
    }

    QWidget *widget() const override { return m_control; }
    qint32 startEchoes(const QStringList &hosts) override
    {
        qint32 run = 0;
        m_startEchoes.invoke(m_control, Qt::DirectConnection, Q_RETURN_ARG(qint32, run),
                             Q_ARG(QStringList, hosts));
        return run;
    }
    bool cancelEchoes(qint32 run) override
    {
        bool cancelled = false;
        m_cancelEchoes.invoke(m_control, Qt::DirectConnection, Q_RETURN_ARG(bool, cancelled),
                              Q_ARG(qint32, run));
        return cancelled;
    }
    bool readProperties(const QVariantMap &bag, QString *error) override
    {
        bool loaded = false;
        QString why;
        m_readProperties.invoke(m_control, Qt::DirectConnection, Q_RETURN_ARG(bool, loaded),
                                Q_ARG(QVariantMap, bag));
        if (!loaded)
            m_lastError.invoke(m_control, Qt::DirectConnection, Q_RETURN_ARG(QString, why));
        if (error)
            *error = loaded ? QString() : why;
        return loaded;
    }

protected:
    // The control shows its own message box while nobody takes its messages: they are
    // passed on only once a host listens to messageBoxRequested.
    void connectNotify(const QMetaMethod &signal) override
    {
        if (signal == QMetaMethod::fromSignal(&PingControl::messageBoxRequested) && !m_boxesTaken)
            m_boxesTaken = connect(m_control, m_messageBoxRequested, this, signal);
    }

private:
    explicit LoadedPing(QWidget *control)
        : PingControl(control),
          m_control(control)
    { }

    QString resolve()
    {
        const QMetaObject *mo = m_control->metaObject();
        QMetaMethod echoResult, echoesFinished;
        const struct
        {
            const char *signature;
            QMetaMethod *into;
        } methods[] = {{"StartEchoes(QStringList)", &m_startEchoes},
                       {"CancelEchoes(qint32)", &m_cancelEchoes},
                       {"ReadProperties(QVariantMap)", &m_readProperties},
                       {"LastError()", &m_lastError},
                       {"EchoResult(qint32,qint32,QVariant)", &echoResult},
                       {"EchoesFinished(qint32)", &echoesFinished},
                       {"MessageBoxRequested(QString,QString)", &m_messageBoxRequested}};
        for (const auto &m : methods) {
            *m.into = mo->method(mo->indexOfMethod(m.signature));
            if (!m.into->isValid() || m.into->access() != QMetaMethod::Public)
                return QLatin1String(m.signature);
        }
        connect(m_control, echoResult, this, QMetaMethod::fromSignal(&PingControl::echoResult));
        connect(m_control, echoesFinished, this,
                QMetaMethod::fromSignal(&PingControl::echoesFinished));
        return QString();
    }

    QWidget *const m_control; // the parent: it outlives this object
    QMetaMethod m_startEchoes, m_cancelEchoes, m_readProperties, m_lastError, m_messageBoxRequested;
    bool m_boxesTaken = false;
};

// The control of class clsid from one library file; on failure the reason, prefixed by
// the file.
Loaded loadFromLibrary(const QString &libraryPath, const QUuid &clsid, QWidget *parent)
{
    Loaded loaded;
    loaded.libraryPath = libraryPath;
    const auto fail = [&](const QString &why) {
        loaded.error = libraryPath + QStringLiteral(": ") + why;
        return loaded;
    };
    const QFileInfo file(libraryPath);
    if (!file.exists())
        return fail(QStringLiteral("file missing"));
    QLibrary library(file.absoluteFilePath());
    // Every symbol is bound now: a library with a function the system cannot resolve
    // fails here with the linker's reason, instead of ending the program at its first call.
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library.load())
        return fail(QStringLiteral("not a loadable library (%1)").arg(library.errorString()));
    // The library stays loaded: its controls may live as long as the program.
    const auto getClassObject =
        reinterpret_cast<DllGetClassObjectFn>(library.resolve("DllGetClassObject"));
    if (!getClassObject)
        return fail(QStringLiteral("missing entry point DllGetClassObject"));
    void *object = nullptr;
    const int32_t hr = getClassObject(&clsid, &IID_IClassFactory, &object);
    if (hr != S_OK || !object)
        return fail(QStringLiteral("DllGetClassObject refused the class %1 (%2)")
                        .arg(registryTextOf(clsid), hex(hr)));
    QObject *instance = nullptr;
    const int32_t made = static_cast<IClassFactory *>(object)->CreateInstance(parent, &instance);
    if (made != S_OK || !instance)
        return fail(
            QStringLiteral("the class object refused to create an instance (%1)").arg(hex(made)));
    const QString actual = classIdOf(instance);
    if (!instance->isWidgetType() || QUuid(actual) != clsid) {
        const QString className = QString::fromLatin1(instance->metaObject()->className());
        delete instance;
        return fail(QStringLiteral("wrong class: asked for %1, got %2 (class id %3)")
                        .arg(registryTextOf(clsid), className,
                             actual.isEmpty() ? QStringLiteral("none") : actual));
    }
    QString missing;
    loaded.ping = LoadedPing::bind(static_cast<QWidget *>(instance), &missing);
    if (!loaded.ping) {
        delete instance;
        return fail(QStringLiteral("the control lacks the member %1").arg(missing));
    }
    return loaded;
}

} // namespace

SearchPath defaultSearch()
{
    SearchPath search;
    search.registryFile = componentRegistryPath();
    if (QCoreApplication::instance())
        search.folders << QCoreApplication::applicationDirPath();
    search.folders << QStringLiteral(TARVEX_CONTROL_DIR);
    return search;
}

Loaded loadPing(QWidget *parent, const SearchPath &search, const QString &progId)
{
    QStringList failures;

    if (!search.registryFile.isEmpty()) {
        const QSettings registry(search.registryFile, QSettings::IniFormat);
        const QUuid clsid(registry.value(QStringLiteral("ProgID/%1/CLSID").arg(progId)).toString());
        QString path = clsid.isNull()
            ? QString()
            : registry.value(QStringLiteral("CLSID/%1/InprocServer32").arg(registryKeyOf(clsid)))
                  .toString();
        // A relative library path names a file beside the registry file, never one in
        // whatever folder the program was started from.
        if (!path.isEmpty() && QFileInfo(path).isRelative())
            path = QFileInfo(search.registryFile).absoluteDir().filePath(path);
        if (clsid.isNull()) {
            failures << QStringLiteral("registry: no entry for %1 in %2")
                            .arg(progId, search.registryFile);
        } else if (path.isEmpty()) {
            failures << QStringLiteral(
                            "registry: %1 has no library path (CLSID/%2/InprocServer32) in %3")
                            .arg(progId, registryKeyOf(clsid), search.registryFile);
        } else {
            Loaded loaded = loadFromLibrary(path, clsid, parent);
            if (loaded.ping) {
                loaded.source = QStringLiteral("registry");
                return loaded;
            }
            failures << QStringLiteral("registry: ") + loaded.error;
        }
    }

    const QString base = progId.section(QLatin1Char('.'), 0, 0);
    for (const QString &folder : search.folders) {
        const QString path = libraryInFolder(folder, base);
        if (!QFileInfo::exists(path)) {
            failures << QStringLiteral("%1: file missing").arg(path);
            continue;
        }
        const QUuid clsid = classIdFromMetadata(path, progId);
        if (clsid.isNull()) {
            failures
                << QStringLiteral("%1: no class table naming %2 in its metadata").arg(path, progId);
            continue;
        }
        Loaded loaded = loadFromLibrary(path, clsid, parent);
        if (loaded.ping) {
            if (QCoreApplication::instance() && folder == QCoreApplication::applicationDirPath())
                loaded.source = QStringLiteral("program folder");
            else if (folder == QLatin1String(TARVEX_CONTROL_DIR))
                loaded.source = QStringLiteral("installed folder");
            else
                loaded.source = QStringLiteral("folder");
            return loaded;
        }
        failures << loaded.error;
    }

    Loaded failed;
    failed.error = QStringLiteral("Cannot create %1:\n- %2")
                       .arg(progId, failures.join(QStringLiteral("\n- ")));
    return failed;
}

} // namespace tarvex::hosting
