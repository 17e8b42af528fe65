#include "hosting/ControlLoader.h"

#include "hosting/ControlServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QObject>
#include <QPluginLoader>
#include <QSettings>
#include <QWidget>
#include <vector>

#ifndef TARVEX_CONTROL_DIR
#define TARVEX_CONTROL_DIR "/usr/local/lib/tarvex"
#endif

namespace tarvex::hosting {

namespace {

QString hex(int32_t code)
{
    return QStringLiteral("0x%1").arg(quint32(code), 8, 16, QLatin1Char('0'));
}

QString libraryBaseName(const QString &progId) { return progId.section(QLatin1Char('.'), 0, 0); }

// The library file of a control library in a folder: lib<Base>.so, else lib<Base>.so.<n...>.
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
    const QJsonArray classes = meta.value(QStringLiteral("Classes")).toArray();
    for (const QJsonValue &c : classes) {
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

template<typename Fn> Fn resolve(QLibrary &library, const char *name)
{
    return reinterpret_cast<Fn>(library.resolve(name));
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

Created createControlFromLibrary(const QString &libraryPath, const QUuid &clsid, QWidget *parent)
{
    Created created;
    created.libraryPath = libraryPath;
    const QFileInfo file(libraryPath);
    if (!file.exists()) {
        created.error = QStringLiteral("%1: file missing").arg(libraryPath);
        return created;
    }
    QLibrary library(file.absoluteFilePath());
    // Every symbol is bound now: a library with a function the system cannot resolve
    // fails here with the linker's reason, instead of ending the program at its first call.
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library.load()) {
        created.error = QStringLiteral("%1: not a loadable library (%2)")
                            .arg(libraryPath, library.errorString());
        return created;
    }
    // The library stays loaded: controls made by it may live as long as the program.
    const auto getClassObject = resolve<DllGetClassObjectFn>(library, "DllGetClassObject");
    if (!getClassObject) {
        created.error =
            QStringLiteral("%1: missing entry point DllGetClassObject").arg(libraryPath);
        return created;
    }
    void *object = nullptr;
    const int32_t hr = getClassObject(&clsid, &IID_IClassFactory, &object);
    if (hr != S_OK || !object) {
        created.error = QStringLiteral("%1: DllGetClassObject refused the class %2 (%3)")
                            .arg(libraryPath, registryTextOf(clsid), hex(hr));
        return created;
    }
    auto *factory = static_cast<IClassFactory *>(object);
    QObject *instance = nullptr;
    const int32_t made = factory->CreateInstance(parent, &instance);
    if (made != S_OK || !instance) {
        created.error = QStringLiteral("%1: the class object refused to create an instance (%2)")
                            .arg(libraryPath, hex(made));
        return created;
    }
    const QString actual = classIdOf(instance);
    if (!instance->isWidgetType() || QUuid(actual) != clsid) {
        created.error = QStringLiteral("%1: wrong class: asked for %2, got %3 (class id %4)")
                            .arg(libraryPath, registryTextOf(clsid),
                                 QString::fromLatin1(instance->metaObject()->className()),
                                 actual.isEmpty() ? QStringLiteral("none") : actual);
        delete instance;
        return created;
    }
    created.control = static_cast<QWidget *>(instance);
    return created;
}

Created createControl(const QString &progId, QWidget *parent)
{
    return createControl(progId, parent, defaultSearch());
}

Created createControl(const QString &progId, QWidget *parent, const SearchPath &search)
{
    QStringList failures;

    if (!search.registryFile.isEmpty()) {
        const QSettings registry(search.registryFile, QSettings::IniFormat);
        const QString clsidText =
            registry.value(QStringLiteral("ProgID/%1/CLSID").arg(progId)).toString();
        const QUuid clsid(clsidText);
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
            Created created = createControlFromLibrary(path, clsid, parent);
            if (created.control) {
                created.source = QStringLiteral("registry");
                return created;
            }
            failures << QStringLiteral("registry: ") + created.error;
        }
    }

    const QString base = libraryBaseName(progId);
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
        Created created = createControlFromLibrary(path, clsid, parent);
        if (created.control) {
            if (QCoreApplication::instance() && folder == QCoreApplication::applicationDirPath())
                created.source = QStringLiteral("program folder");
            else if (folder == QLatin1String(TARVEX_CONTROL_DIR))
                created.source = QStringLiteral("installed folder");
            else
                created.source = QStringLiteral("folder");
            return created;
        }
        failures << created.error;
    }

    Created failed;
    failed.error = QStringLiteral("Cannot create %1:\n- %2")
                       .arg(progId, failures.join(QStringLiteral("\n- ")));
    return failed;
}

namespace {

bool runRegistration(const QString &libraryPath, const char *entry, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QFileInfo::exists(libraryPath))
        return fail(QStringLiteral("%1: file missing").arg(libraryPath));
    QLibrary library(QFileInfo(libraryPath).absoluteFilePath());
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library.load())
        return fail(QStringLiteral("%1: not a loadable library (%2)")
                        .arg(libraryPath, library.errorString()));
    const auto fn = reinterpret_cast<DllRegisterServerFn>(library.resolve(entry));
    if (!fn)
        return fail(
            QStringLiteral("%1: missing entry point %2").arg(libraryPath, QLatin1String(entry)));
    const int32_t hr = fn();
    if (hr != S_OK)
        return fail(
            QStringLiteral("%1: %2 failed (%3)").arg(libraryPath, QLatin1String(entry), hex(hr)));
    if (error)
        error->clear();
    return true;
}

} // namespace

bool registerServer(const QString &libraryPath, QString *error)
{
    return runRegistration(libraryPath, "DllRegisterServer", error);
}

bool unregisterServer(const QString &libraryPath, QString *error)
{
    return runRegistration(libraryPath, "DllUnregisterServer", error);
}

bool setProperty(QObject *control, const char *name, const QVariant &value, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!control)
        return fail(QStringLiteral("no control"));
    const QMetaObject *mo = control->metaObject();
    const int index = mo->indexOfProperty(name);
    if (index < 0)
        return fail(QStringLiteral("%1 has no property %2")
                        .arg(QLatin1String(mo->className()), QLatin1String(name)));
    const QMetaProperty prop = mo->property(index);
    if (!prop.isWritable())
        return fail(QStringLiteral("property %1 is read-only").arg(QLatin1String(name)));
    QVariant converted = value;
    if (converted.metaType() != prop.metaType() && !converted.convert(prop.metaType()))
        return fail(QStringLiteral("property %1: cannot convert %2 to %3")
                        .arg(QLatin1String(name), QLatin1String(value.typeName()),
                             QLatin1String(prop.typeName())));
    if (!prop.write(control, converted))
        return fail(QStringLiteral("property %1: write refused").arg(QLatin1String(name)));
    if (error)
        error->clear();
    return true;
}

Invoked property(const QObject *control, const char *name)
{
    Invoked result;
    if (!control) {
        result.error = QStringLiteral("no control");
        return result;
    }
    const QMetaObject *mo = control->metaObject();
    const int index = mo->indexOfProperty(name);
    if (index < 0) {
        result.error = QStringLiteral("%1 has no property %2")
                           .arg(QLatin1String(mo->className()), QLatin1String(name));
        return result;
    }
    result.value = mo->property(index).read(control);
    result.ok = true;
    return result;
}

Invoked call(QObject *control, const char *method, const QVariantList &args)
{
    Invoked result;
    if (!control) {
        result.error = QStringLiteral("no control");
        return result;
    }
    constexpr int kMaxArgs = 10;
    const QMetaObject *mo = control->metaObject();
    QMetaMethod found;
    bool nameSeen = false;
    for (int i = 0; i < mo->methodCount(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (m.name() != method || m.access() != QMetaMethod::Public
            || m.methodType() == QMetaMethod::Signal)
            continue;
        nameSeen = true;
        if (m.parameterCount() == args.size()) {
            found = m;
            break;
        }
    }
    if (!found.isValid()) {
        result.error = nameSeen ? QStringLiteral("method %1 does not take %2 argument(s)")
                                      .arg(QLatin1String(method))
                                      .arg(args.size())
                                : QStringLiteral("%1 has no method %2")
                                      .arg(QLatin1String(mo->className()), QLatin1String(method));
        return result;
    }
    if (args.size() > kMaxArgs) {
        result.error = QStringLiteral("method %1: too many arguments").arg(QLatin1String(method));
        return result;
    }

    std::vector<QVariant> values(std::size_t(args.size()));
    QGenericArgument generic[kMaxArgs];
    for (int i = 0; i < args.size(); ++i) {
        QMetaType type = found.parameterMetaType(i);
        if (!type.isValid()) {
            // Qt records no meta-type for a by-reference parameter ("qint16&"): take the
            // referred type, and hand the method a reference to a converted copy.
            QByteArray name = found.parameterTypeName(i);
            if (name.endsWith('&'))
                name.chop(1);
            type = QMetaType::fromName(name);
        }
        QVariant &v = values[std::size_t(i)];
        v = args.at(i);
        if (type == QMetaType::fromType<QVariant>()) {
            generic[i] = QGenericArgument("QVariant", &v);
            continue;
        }
        if (!type.isValid() || (v.metaType() != type && !v.convert(type))) {
            result.error = QStringLiteral("method %1: argument %2 cannot be converted to %3")
                               .arg(QLatin1String(method))
                               .arg(i + 1)
                               .arg(QLatin1String(found.parameterTypeName(i)));
            return result;
        }
        generic[i] = QGenericArgument(type.name(), v.data());
    }

    QVariant returned;
    QGenericReturnArgument ret;
    const QMetaType returnType = found.returnMetaType();
    if (returnType == QMetaType::fromType<QVariant>()) {
        ret = QGenericReturnArgument(found.typeName(), &returned);
    } else if (returnType.isValid() && returnType.id() != QMetaType::Void) {
        returned = QVariant(returnType);
        ret = QGenericReturnArgument(found.typeName(), returned.data());
    }
    if (!found.invoke(control, Qt::DirectConnection, ret, generic[0], generic[1], generic[2],
                      generic[3], generic[4], generic[5], generic[6], generic[7], generic[8],
                      generic[9])) {
        result.error = QStringLiteral("method %1: the call failed").arg(QLatin1String(method));
        return result;
    }
    result.ok = true;
    result.value = returned;
    return result;
}

Invoked invokeByDispId(QObject *control, qint32 dispId, qint32 kind, const QVariantList &args)
{
    Invoked through = call(control, "Invoke", {dispId, kind, QVariant(args)});
    if (!through.ok)
        return through;
    const QVariantMap answer = through.value.toMap();
    Invoked result;
    const int32_t hr = answer.value(QStringLiteral("hr")).toInt();
    result.ok = hr == S_OK;
    result.value = answer.value(QStringLiteral("value"));
    result.error = answer.value(QStringLiteral("error")).toString();
    if (!result.ok && result.error.isEmpty())
        result.error = QStringLiteral("dispatch identifier %1: %2").arg(hex(dispId), hex(hr));
    return result;
}

bool readProperties(QObject *control, const QVariantMap &bag, QString *error)
{
    const Invoked read = call(control, "ReadProperties", {bag});
    QString why = read.error;
    bool ok = read.ok && read.value.toBool();
    if (read.ok && !ok) {
        const Invoked last = call(control, "LastError");
        why = last.ok ? last.value.toString() : QStringLiteral("ReadProperties failed");
    }
    if (error)
        *error = ok ? QString() : why;
    return ok;
}

Invoked writeProperties(QObject *control) { return call(control, "WriteProperties"); }

namespace {

// Receives a control's MessageBoxRequested and hands it to the host's handler.
class MessageRelay final : public QObject
{
    Q_OBJECT
public:
    MessageRelay(QObject *parent, MessageHandler handler)
        : QObject(parent),
          m_handler(std::move(handler))
    { }
    Q_INVOKABLE void relay(const QString &text, const QString &caption)
    {
        m_handler(text, caption);
    }

private:
    MessageHandler m_handler;
};

// Receives a control's echo results and hands them to the host's handlers.
class EchoRelay final : public QObject
{
    Q_OBJECT
public:
    EchoRelay(QObject *parent, EchoResultHandler onResult, EchoesFinishedHandler onFinished)
        : QObject(parent),
          m_onResult(std::move(onResult)),
          m_onFinished(std::move(onFinished))
    { }
    Q_INVOKABLE void result(qint32 run, qint32 index, const QVariant &value)
    {
        m_onResult(run, index, value);
    }
    Q_INVOKABLE void finished(qint32 run) { m_onFinished(run); }

private:
    EchoResultHandler m_onResult;
    EchoesFinishedHandler m_onFinished;
};

// Connects the control's signal (by signature) to the relay's method; false with the reason.
bool connectByName(QObject *control, const char *signal, QObject *relay, const char *method,
                   QString *why)
{
    const QMetaObject *mo = control->metaObject();
    const int index = mo->indexOfSignal(QMetaObject::normalizedSignature(signal).constData());
    if (index < 0) {
        *why = QStringLiteral("%1 has no signal %2")
                   .arg(QLatin1String(mo->className()), QLatin1String(signal));
        return false;
    }
    const QMetaObject *rmo = relay->metaObject();
    const QMetaMethod target =
        rmo->method(rmo->indexOfMethod(QMetaObject::normalizedSignature(method).constData()));
    if (!QObject::connect(control, mo->method(index), relay, target)) {
        *why = QStringLiteral("cannot connect %1").arg(QLatin1String(signal));
        return false;
    }
    return true;
}

} // namespace

bool bindEchoSignals(QObject *control, EchoResultHandler onResult, EchoesFinishedHandler onFinished,
                     QString *error)
{
    QString why;
    if (!control || !onResult || !onFinished) {
        why = QStringLiteral("no control or no handler");
    } else {
        auto *relay = new EchoRelay(control, std::move(onResult), std::move(onFinished));
        if (connectByName(control, "EchoResult(qint32,qint32,QVariant)", relay,
                          "result(qint32,qint32,QVariant)", &why)
            && connectByName(control, "EchoesFinished(qint32)", relay, "finished(qint32)", &why)) {
            if (error)
                error->clear();
            return true;
        }
        delete relay;
    }
    if (error)
        *error = why;
    return false;
}

bool routeMessageBoxes(QObject *control, MessageHandler handler, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!control || !handler)
        return fail(QStringLiteral("no control or no handler"));
    const QMetaObject *mo = control->metaObject();
    const int index = mo->indexOfSignal("MessageBoxRequested(QString,QString)");
    if (index < 0)
        return fail(QStringLiteral("%1 has no signal MessageBoxRequested(QString,QString)")
                        .arg(QLatin1String(mo->className())));
    auto *relay = new MessageRelay(control, std::move(handler));
    const QMetaMethod slot =
        relay->metaObject()->method(relay->metaObject()->indexOfMethod("relay(QString,QString)"));
    if (!QObject::connect(control, mo->method(index), relay, slot)) {
        delete relay;
        return fail(QStringLiteral("cannot connect MessageBoxRequested"));
    }
    if (error)
        error->clear();
    return true;
}

} // namespace tarvex::hosting

#include "ControlLoader.moc"
