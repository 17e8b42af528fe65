// The Ping control as a component: loading by program identifier and every failing step of
// the loader, registration, the members by name and by dispatch identifier, property-change
// reports, persistence, the fixed face, the address arithmetic and the status tables, and
// the "Socket Error" message. Needs no network: nothing here sends a packet off loopback.

#include "PingTestSupport.h"

#include "Address.h"
#include "Conversions.h"
#include "icmp/IpStatus.h"

#include "hosting/PingLoader.h"
#include "hosting/ControlServer.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QJsonObject>
#include <QLibrary>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QPluginLoader>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <arpa/inet.h>
#include <cerrno>

using namespace tarvex;
using namespace pingtest;

namespace {

const QUuid kFakeClass{QStringLiteral("{0B5E2F1A-1111-4222-8333-944455556666}")};

QString fixture(const char *name)
{
    return QStringLiteral(PINGTEST_FIXTURE_DIR "/lib%1.so").arg(QLatin1String(name));
}

QMetaMethod propertyChangedSignal(const QObject *o)
{
    const QMetaObject *mo = o->metaObject();
    return mo->method(mo->indexOfSignal("PropertyChanged(QString)"));
}

QStringList reported(const QSignalSpy &spy)
{
    QStringList names;
    for (const QList<QVariant> &args : spy)
        names << args.at(0).toString();
    return names;
}

// Runs one of the library's registration entry points, as an installer would.
int32_t registration(const char *entry)
{
    QLibrary library(libraryPath());
    const auto run = reinterpret_cast<hosting::DllRegisterServerFn>(library.resolve(entry));
    return run ? run() : hosting::E_FAIL;
}

// A call by dispatch identifier through the control's Invoke member.
struct Dispatched
{
    bool ok = false;
    QVariant value;
    QString error;
};
Dispatched dispatch(QObject *ping, qint32 id, qint32 flags, const QVariantList &args = {})
{
    QVariantMap answer;
    const bool called = QMetaObject::invokeMethod(
        ping, "Invoke", Qt::DirectConnection, Q_RETURN_ARG(QVariantMap, answer), Q_ARG(qint32, id),
        Q_ARG(qint32, flags), Q_ARG(QVariantList, args));
    return {called && answer.value(QStringLiteral("hr")).toInt() == hosting::S_OK,
            answer.value(QStringLiteral("value")),
            answer.value(QStringLiteral("error")).toString()};
}

QVariantMap writeProperties(QObject *ping)
{
    QVariantMap bag;
    QMetaObject::invokeMethod(ping, "WriteProperties", Qt::DirectConnection,
                              Q_RETURN_ARG(QVariantMap, bag));
    return bag;
}

// Closes the next modal message box that appears within 5 s; *seen tells whether one did.
void closeNextModal(bool *seen)
{
    auto *poll = new QTimer;
    auto rounds = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, rounds, seen] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *seen = true;
            box->button(QMessageBox::Ok)->click();
            poll->deleteLater();
        } else if (++*rounds > 500) {
            poll->deleteLater();
        }
    });
    poll->start(10);
}

} // namespace

class tst_PingControl : public QObject
{
    Q_OBJECT

private slots:
    void loadsByProgIdBesideTheProgram();
    void registersAndUnregistersExactlyItsEntries();
    void registrationReportsAnUnwritableRegistry();
    void loaderReportsTheFailingStep_data();
    void loaderReportsTheFailingStep();
    void versionTextsAreQueryable();
    void classObjectAndUnloading();

    void interfaceKeepsEveryMember_data();
    void interfaceKeepsEveryMember();
    void dispatchIdentifiersReachTheMembers();
    void settersReportChanges_data();
    void settersReportChanges();

    void newInstanceDefaults();
    void loadsFromPropertyBag_data();
    void loadsFromPropertyBag();
    void typeMismatchStopsLoading();
    void savesAndReloads();

    void faceStaysA510TwipSquare();

    void dottedIpToAddress_data();
    void dottedIpToAddress();
    void classicInetAddr_data();
    void classicInetAddr();
    void icmpErrorsMapToStatus_data();
    void icmpErrorsMapToStatus();
    void sendErrorsMapToStatus_data();
    void sendErrorsMapToStatus();
    void statusTexts_data();
    void statusTexts();

    void badAddressesSendNothing_data();
    void badAddressesSendNothing();
    void socketErrorGoesToTheHost();
    void socketErrorShowsABoxWhenNobodyTakesIt();
};

void tst_PingControl::loadsByProgIdBesideTheProgram()
{
    test::TempSettings settings; // an empty component registry
    QWidget parent;
    const hosting::Loaded loaded = hosting::loadPing(&parent);
    QVERIFY2(loaded.ping, qPrintable(loaded.error));
    QCOMPARE(loaded.source, QStringLiteral("program folder"));
    QCOMPARE(loaded.ping->widget()->parentWidget(), &parent);
    const QMetaObject *mo = loaded.ping->widget()->metaObject();
    QCOMPARE(QString::fromLatin1(mo->classInfo(mo->indexOfClassInfo("ClassID")).value()), kClassId);
    QVERIFY(loaded.libraryPath.startsWith(QCoreApplication::applicationDirPath()));

    // The order of the search: registry, the program's folder, the installed folder.
    const hosting::SearchPath search = hosting::defaultSearch();
    QCOMPARE(search.registryFile, hosting::componentRegistryPath());
    QCOMPARE(search.folders.size(), 2);
    QCOMPARE(search.folders.first(), QCoreApplication::applicationDirPath());
    QVERIFY(search.folders.last().endsWith(QStringLiteral("/tarvex")));
}

void tst_PingControl::registersAndUnregistersExactlyItsEntries()
{
    test::TempSettings settings;
    const QString registryFile = hosting::componentRegistryPath();
    QVERIFY(registryFile.startsWith(settings.dir()));
    {
        // Somebody else's entries, and another version of the same type library.
        QSettings other(registryFile, QSettings::IniFormat);
        other.setValue(QStringLiteral("ProgID/Other.Thing/CLSID"),
                       QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
        other.setValue(QStringLiteral("CLSID/11111111-2222-3333-4444-555555555555/InprocServer32"),
                       QStringLiteral("/x/libOther.so"));
        other.setValue(QStringLiteral("TypeLib/39C1A67F-CD1A-11D0-8F45-400040000490/3.0/Path"),
                       QStringLiteral("/old/libPingOCX.so"));
    }

    QCOMPARE(registration("DllRegisterServer"), hosting::S_OK);
    {
        QSettings reg(registryFile, QSettings::IniFormat);
        const QString cls = QStringLiteral("CLSID/ED37E54C-E24F-11D0-B680-0000F654079F/");
        QCOMPARE(reg.value(QStringLiteral("ProgID/PingOCX.Ping/CLSID")).toString(), kClassId);
        QCOMPARE(reg.value(cls + QStringLiteral("ProgID")).toString(),
                 QStringLiteral("PingOCX.Ping"));
        QCOMPARE(reg.value(cls + QStringLiteral("Control")).toBool(), true);
        QCOMPARE(reg.value(cls + QStringLiteral("TypeLib")).toString(),
                 QStringLiteral("{39C1A67F-CD1A-11D0-8F45-400040000490}"));
        QCOMPARE(reg.value(cls + QStringLiteral("Version")).toString(), QStringLiteral("4.0"));
        const QString library = reg.value(cls + QStringLiteral("InprocServer32")).toString();
        QVERIFY2(QFileInfo(library).isAbsolute() && QFile::exists(library), qPrintable(library));
        QCOMPARE(QFileInfo(library).canonicalFilePath(),
                 QFileInfo(libraryPath()).canonicalFilePath());
        QCOMPARE(
            reg.value(QStringLiteral("TypeLib/39C1A67F-CD1A-11D0-8F45-400040000490/4.0/HelpString"))
                .toString(),
            QStringLiteral("ICMP Ping ActiveX Control"));
    }

    // With a registry entry the loader takes it before the program's folder.
    hosting::SearchPath registryOnly;
    registryOnly.registryFile = registryFile;
    hosting::Loaded loaded = hosting::loadPing(nullptr, registryOnly);
    QVERIFY2(loaded.ping, qPrintable(loaded.error));
    QCOMPARE(loaded.source, QStringLiteral("registry"));
    delete loaded.ping->widget();

    QCOMPARE(registration("DllUnregisterServer"), hosting::S_OK);
    QSettings reg(registryFile, QSettings::IniFormat);
    QVERIFY(!reg.contains(QStringLiteral("ProgID/PingOCX.Ping/CLSID")));
    reg.beginGroup(QStringLiteral("CLSID/ED37E54C-E24F-11D0-B680-0000F654079F"));
    QVERIFY(reg.allKeys().isEmpty());
    reg.endGroup();
    QVERIFY(!reg.contains(QStringLiteral("TypeLib/39C1A67F-CD1A-11D0-8F45-400040000490/4.0/Path")));
    // Nothing else went.
    QCOMPARE(reg.value(QStringLiteral("ProgID/Other.Thing/CLSID")).toString(),
             QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
    QCOMPARE(reg.value(QStringLiteral("CLSID/11111111-2222-3333-4444-555555555555/InprocServer32"))
                 .toString(),
             QStringLiteral("/x/libOther.so"));
    QCOMPARE(reg.value(QStringLiteral("TypeLib/39C1A67F-CD1A-11D0-8F45-400040000490/3.0/Path"))
                 .toString(),
             QStringLiteral("/old/libPingOCX.so"));

    loaded = hosting::loadPing(nullptr, registryOnly);
    QVERIFY(!loaded.ping);
    QVERIFY2(loaded.error.contains(QStringLiteral("registry: no entry for PingOCX.Ping")),
             qPrintable(loaded.error));
}

void tst_PingControl::registrationReportsAnUnwritableRegistry()
{
    test::TempSettings settings;
    // A file where the registry's folder should be: no user, root included, can write there.
    QFile blocker(settings.dir() + QStringLiteral("/ComponentRegistry"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QCOMPARE(registration("DllRegisterServer"), hosting::SELFREG_E_CLASS);
}

void tst_PingControl::loaderReportsTheFailingStep_data()
{
    QTest::addColumn<QString>("registeredLibrary"); // empty: no registry entry
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no entry, no folders")
        << QString() << QStringList() << QStringLiteral("registry: no entry for Fake.Control");
    QTest::newRow("file missing") << QStringLiteral("/nonexistent/libFake.so") << QStringList()
                                  << QStringLiteral("/nonexistent/libFake.so: file missing");
    QTest::newRow("not a library")
        << QStringLiteral("@text") << QStringList() << QStringLiteral("not a loadable library");
    QTest::newRow("missing entry point") << fixture("fake_no_entry") << QStringList()
                                         << QStringLiteral("missing entry point DllGetClassObject");
    QTest::newRow("class refused")
        << fixture("fake_refuse_class") << QStringList()
        << QStringLiteral("DllGetClassObject refused the class "
                          "{0B5E2F1A-1111-4222-8333-944455556666} (0x80040111)");
    QTest::newRow("factory refusal")
        << fixture("fake_factory_refuses") << QStringList()
        << QStringLiteral("refused to create an instance (0x80040110)");
    QTest::newRow("wrong class")
        << fixture("fake_wrong_class") << QStringList()
        << QStringLiteral(
               "wrong class: asked for {0B5E2F1A-1111-4222-8333-944455556666}, got QLabel");
    // A library of another make under the same identifier: refused before any call.
    QTest::newRow("control without the members")
        << fixture("fake_other_control") << QStringList()
        << QStringLiteral("the control lacks the member StartEchoes(QStringList)");
    // Bound at load, so the report names the symbol instead of the program dying at a call.
    QTest::newRow("unresolved function")
        << fixture("fake_unresolved") << QStringList()
        << QStringLiteral("undefined symbol: tarvexFakeMissingFunction");
    QTest::newRow("relative path: beside the registry")
        << QStringLiteral("@relative") << QStringList()
        << QStringLiteral("/rel/libFake.so: wrong class");
    QTest::newRow("folder without the library")
        << QString() << QStringList{QStringLiteral("@empty")}
        << QStringLiteral("libFake.so: file missing");
    QTest::newRow("library without a class table")
        << QString() << QStringList{QStringLiteral("@fake")}
        << QStringLiteral("no class table naming Fake.Control");
}

void tst_PingControl::loaderReportsTheFailingStep()
{
    QFETCH(QString, registeredLibrary);
    QFETCH(QStringList, folders);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (registeredLibrary == QLatin1String("@text")) {
        registeredLibrary = dir.filePath(QStringLiteral("libText.so"));
        QFile text(registeredLibrary);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is no shared library\n");
    } else if (registeredLibrary == QLatin1String("@relative")) {
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("rel"))));
        QVERIFY(QFile::copy(fixture("fake_wrong_class"),
                            dir.filePath(QStringLiteral("rel/libFake.so"))));
        registeredLibrary = QStringLiteral("rel/libFake.so");
    }
    for (QString &folder : folders) {
        const QString made = dir.filePath(folder.mid(1));
        QVERIFY(QDir().mkpath(made));
        if (folder == QLatin1String("@fake"))
            QVERIFY(QFile::copy(fixture("fake_wrong_class"), made + QStringLiteral("/libFake.so")));
        folder = made;
    }
    hosting::SearchPath search;
    search.registryFile = dir.filePath(QStringLiteral("classes.ini"));
    search.folders = folders;
    if (!registeredLibrary.isEmpty()) {
        QSettings reg(search.registryFile, QSettings::IniFormat);
        reg.setValue(QStringLiteral("ProgID/Fake.Control/CLSID"),
                     hosting::registryTextOf(kFakeClass));
        reg.setValue(
            QStringLiteral("CLSID/%1/InprocServer32").arg(hosting::registryKeyOf(kFakeClass)),
            registeredLibrary);
    }

    QWidget parent;
    const hosting::Loaded loaded =
        hosting::loadPing(&parent, search, QStringLiteral("Fake.Control"));
    QVERIFY(!loaded.ping);
    QVERIFY2(loaded.error.contains(expected), qPrintable(loaded.error));
    QVERIFY(loaded.error.startsWith(QStringLiteral("Cannot create Fake.Control")));
    QVERIFY2(parent.children().isEmpty(), "a refused instance must not stay behind");
}

void tst_PingControl::versionTextsAreQueryable()
{
    QLibrary library(libraryPath());
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    const auto getVersion =
        reinterpret_cast<hosting::DllGetVersionFn>(library.resolve("DllGetVersion"));
    QVERIFY(getVersion);
    hosting::DllVersionInfo info;
    QCOMPARE(getVersion(&info), hosting::S_OK);
    QCOMPARE(QStringLiteral("%1.%2.%3")
                 .arg(info.dwMajorVersion)
                 .arg(info.dwMinorVersion)
                 .arg(info.dwBuildNumber),
             QStringLiteral("2.2.1"));

    const QJsonObject meta =
        QPluginLoader(libraryPath()).metaData().value(QStringLiteral("MetaData")).toObject();
    QCOMPARE(meta.value(QStringLiteral("FileDescription")).toString(),
             QStringLiteral("ICMP Ping ActiveX Control"));
    QCOMPARE(meta.value(QStringLiteral("FileVersion")).toString(), QStringLiteral("2.02.0001"));
    QCOMPARE(meta.value(QStringLiteral("ProductVersion")).toString(), QStringLiteral("2.02.0001"));
    QCOMPARE(meta.value(QStringLiteral("ProductName")).toString(), QStringLiteral("Ping.ocx"));
    QCOMPARE(meta.value(QStringLiteral("InternalName")).toString(), QStringLiteral("Ping"));
    QVERIFY(meta.contains(QStringLiteral("OLESelfRegister")));

    // The file itself: libPingOCX.so -> libPingOCX.so.2 (the SONAME) -> libPingOCX.so.2.2.1.
    QCOMPARE(QFileInfo(QFileInfo(libraryPath()).symLinkTarget()).fileName(),
             QStringLiteral("libPingOCX.so.2"));
    QCOMPARE(QFileInfo(libraryPath()).canonicalFilePath(),
             binDir() + QStringLiteral("/libPingOCX.so.2.2.1"));
}

void tst_PingControl::classObjectAndUnloading()
{
    QLibrary library(libraryPath());
    QVERIFY(library.load());
    const auto getClassObject =
        reinterpret_cast<hosting::DllGetClassObjectFn>(library.resolve("DllGetClassObject"));
    const auto canUnload =
        reinterpret_cast<hosting::DllCanUnloadNowFn>(library.resolve("DllCanUnloadNow"));
    QVERIFY(getClassObject && canUnload);

    void *object = reinterpret_cast<void *>(1);
    QCOMPARE(getClassObject(&kFakeClass, &hosting::IID_IClassFactory, &object),
             hosting::CLASS_E_CLASSNOTAVAILABLE);
    QCOMPARE(object, nullptr);
    const QUuid ping(kClassId);
    QCOMPARE(getClassObject(&ping, &kFakeClass, &object), hosting::E_NOINTERFACE);
    QCOMPARE(getClassObject(&ping, &hosting::IID_IClassFactory, nullptr), hosting::E_POINTER);
    QCOMPARE(getClassObject(&ping, &hosting::IID_IClassFactory, &object), hosting::S_OK);
    auto *factory = static_cast<hosting::IClassFactory *>(object);

    QCOMPARE(canUnload(), hosting::S_OK);
    QObject *instance = nullptr;
    QCOMPARE(factory->CreateInstance(nullptr, &instance), hosting::S_OK);
    QVERIFY(instance);
    QCOMPARE(canUnload(), hosting::S_FALSE);
    delete instance;
    QCOMPARE(canUnload(), hosting::S_OK);
    factory->LockServer(true);
    QCOMPARE(canUnload(), hosting::S_FALSE);
    factory->LockServer(false);
    QCOMPARE(canUnload(), hosting::S_OK);
}

void tst_PingControl::interfaceKeepsEveryMember_data()
{
    // The methods a host calls by name (the properties are read and written by name in
    // dispatchIdentifiersReachTheMembers).
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("type"); // return type
    QTest::newRow("Send") << QByteArray("Send()") << QByteArray("QVariant");
    QTest::newRow("WSAAsyncGetHostByNameAlias")
        << QByteArray("WSAAsyncGetHostByNameAlias(qint16&,qint16&,QString&)") << QByteArray("int");
    QTest::newRow("AsyncPortNumber") << QByteArray("AsyncPortNumber()") << QByteArray("short");
    QTest::newRow("LookUpIpFromHostName")
        << QByteArray("LookUpIpFromHostName()") << QByteArray("void");
}

void tst_PingControl::interfaceKeepsEveryMember()
{
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, type);
    const auto ping = createPing();
    QVERIFY(ping);
    const QMetaObject *mo = ping->metaObject();
    const int index = mo->indexOfMethod(signature.constData());
    QVERIFY2(index >= 0, signature.constData());
    const QMetaMethod m = mo->method(index);
    QCOMPARE(QByteArray(m.returnMetaType().name()), type);
    QCOMPARE(m.access(), QMetaMethod::Public);
}

void tst_PingControl::dispatchIdentifiersReachTheMembers()
{
    using namespace hosting;
    const auto ping = createPing();
    QVERIFY(ping);
    QObject *o = ping.get();

    struct Row
    {
        qint32 id;
        const char *name;
        QVariant value;
    };
    const Row properties[] = {
        {0x40030003, "Sock", QVariant::fromValue<qint16>(-7)},
        {0x4003000A, "Handle", 123456},
        {0x68030004, "IPAddress", QStringLiteral("10.0.0.1")},
        {0x68030003, "HostName", QStringLiteral("example.test")},
        {0x68030002, "TimeOut", 1500},
        {0x68030001, "Alias", QStringLiteral("alias.test")},
        {0x68030000, "ResolveNames", true},
    };
    for (const Row &row : properties) {
        const Dispatched put = dispatch(o, row.id, DISPATCH_PROPERTYPUT, {row.value});
        QVERIFY2(put.ok, qPrintable(put.error));
        QCOMPARE(get(o, row.name), row.value);
        const Dispatched read = dispatch(o, row.id, DISPATCH_PROPERTYGET);
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.value, row.value);
    }

    Dispatched port = dispatch(o, 0x6003000C, DISPATCH_METHOD);
    QVERIFY(port.ok);
    QCOMPARE(port.value.toInt(), 0);
    QVERIFY(set(o, "HostName", QStringLiteral("1.2.3")));
    QVERIFY(set(o, "ResolveNames", false));
    Dispatched sent = dispatch(o, 0x60030005, DISPATCH_METHOD);
    QVERIFY(sent.ok);
    QCOMPARE(sent.value, QVariant(QStringLiteral("Bad IP Address")));

    // Failures carry their HRESULT-style reason.
    QVERIFY(!dispatch(o, 0x12345678, DISPATCH_METHOD).ok);
    QVERIFY(!dispatch(o, 0x60030005, DISPATCH_METHOD, {1}).ok); // argument count
    QVERIFY(!dispatch(o, 0x60030005, DISPATCH_PROPERTYPUT, {1}).ok); // put on a method
    const Dispatched mismatch =
        dispatch(o, 0x68030002, DISPATCH_PROPERTYPUT, {QStringLiteral("soon")});
    QVERIFY(!mismatch.ok);
    QVERIFY2(mismatch.error.contains(QStringLiteral("Type mismatch")), qPrintable(mismatch.error));
    const Dispatched overflow = dispatch(o, 0x40030003, DISPATCH_PROPERTYPUT, {70000});
    QVERIFY(!overflow.ok);
    QVERIFY2(overflow.error.contains(QStringLiteral("Overflow")), qPrintable(overflow.error));
    QCOMPARE(get(o, "TimeOut").toInt(), 1500);
    QCOMPARE(get(o, "Sock").toInt(), -7);
}

void tst_PingControl::settersReportChanges_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QStringList>("reports");
    QTest::newRow("HostName") << QByteArray("HostName") << QVariant(QStringLiteral("h"))
                              << QStringList{QStringLiteral("HostName")};
    QTest::newRow("IPAddress") << QByteArray("IPAddress") << QVariant(QStringLiteral("1.2.3.4"))
                               << QStringList{QStringLiteral("IPAddress")};
    QTest::newRow("TimeOut") << QByteArray("TimeOut") << QVariant(1500)
                             << QStringList{QStringLiteral("TimeOut")};
    QTest::newRow("ResolveNames") << QByteArray("ResolveNames") << QVariant(true)
                                  << QStringList{QStringLiteral("ResolveNames")};
    QTest::newRow("HostName unchanged (empty)")
        << QByteArray("HostName") << QVariant(QString()) << QStringList{QStringLiteral("HostName")};
    QTest::newRow("Alias reports nothing")
        << QByteArray("Alias") << QVariant(QStringLiteral("a")) << QStringList();
    QTest::newRow("Sock reports nothing") << QByteArray("Sock") << QVariant(3) << QStringList();
    QTest::newRow("Handle reports nothing") << QByteArray("Handle") << QVariant(3) << QStringList();
}

void tst_PingControl::settersReportChanges()
{
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);
    QFETCH(QStringList, reports);
    const auto ping = createPing();
    QVERIFY(ping);
    QSignalSpy spy(ping.get(), propertyChangedSignal(ping.get()));
    QVERIFY(spy.isValid());
    QVERIFY(set(ping.get(), name.constData(), value));
    QCOMPARE(reported(spy), reports);
    QCOMPARE(get(ping.get(), name.constData()), value);
}

void tst_PingControl::newInstanceDefaults()
{
    const auto ping = createPing();
    QVERIFY(ping);
    QCOMPARE(get(ping.get(), "TimeOut").toInt(), 0);
    QCOMPARE(get(ping.get(), "ResolveNames").toBool(), false);
    QCOMPARE(get(ping.get(), "HostName").toString(), QString());
    QCOMPARE(get(ping.get(), "Sock").toInt(), 0);
    QCOMPARE(get(ping.get(), "Handle").toInt(), 0);
    QCOMPARE(writeProperties(ping.get()), (QVariantMap{{QStringLiteral("TimeOut"), 0}}));
}

void tst_PingControl::loadsFromPropertyBag_data()
{
    QTest::addColumn<QVariantMap>("bag");
    QTest::addColumn<QString>("ipAddress");
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<int>("timeOut");
    QTest::addColumn<bool>("resolveNames");

    QTest::newRow("empty bag: defaults, TimeOut 200")
        << QVariantMap() << QString() << QString() << 200 << false;
    QTest::newRow("the main window's bag") << QVariantMap{{QStringLiteral("TimeOut"), 1500}}
                                           << QString() << QString() << 1500 << false;
    QTest::newRow("texts from a settings file")
        << QVariantMap{{QStringLiteral("TimeOut"), QStringLiteral(" 750 ")},
                       {QStringLiteral("ResolveNames"), QStringLiteral("true")},
                       {QStringLiteral("HostName"), QStringLiteral("q2.example")}}
        << QString() << QStringLiteral("q2.example") << 750 << true;
    QTest::newRow("fractions round half to even")
        << QVariantMap{{QStringLiteral("TimeOut"), 1500.5}} << QString() << QString() << 1500
        << false;
    QTest::newRow("1501.5 rounds up") << QVariantMap{{QStringLiteral("TimeOut"), 1501.5}}
                                      << QString() << QString() << 1502 << false;
    QTest::newRow("numbers as text and Boolean") << QVariantMap{{QStringLiteral("IPAddress"), 42},
                                                                {QStringLiteral("ResolveNames"), 1},
                                                                {QStringLiteral("TimeOut"), true}}
                                                 << QStringLiteral("42") << QString() << -1 << true;
    QTest::newRow("ResolveNames False text")
        << QVariantMap{{QStringLiteral("ResolveNames"), QStringLiteral("False")}} << QString()
        << QString() << 200 << false;
}

void tst_PingControl::loadsFromPropertyBag()
{
    QFETCH(QVariantMap, bag);
    QFETCH(QString, ipAddress);
    QFETCH(QString, hostName);
    QFETCH(int, timeOut);
    QFETCH(bool, resolveNames);
    const auto ping = createPing();
    QVERIFY(ping);
    QSignalSpy spy(ping.get(), propertyChangedSignal(ping.get()));
    QString error;
    QVERIFY2(typed(ping.get())->readProperties(bag, &error), qPrintable(error));
    QCOMPARE(get(ping.get(), "IPAddress").toString(), ipAddress);
    QCOMPARE(get(ping.get(), "HostName").toString(), hostName);
    QCOMPARE(get(ping.get(), "TimeOut").toInt(), timeOut);
    QCOMPARE(get(ping.get(), "ResolveNames").toBool(), resolveNames);
    QVERIFY2(spy.isEmpty(), "loading does not go through the setters");
}

void tst_PingControl::typeMismatchStopsLoading()
{
    const auto ping = createPing();
    QVERIFY(ping);
    const QVariantMap bag{{QStringLiteral("IPAddress"), QStringLiteral("10.1.2.3")},
                          {QStringLiteral("HostName"), QStringLiteral("h.example")},
                          {QStringLiteral("TimeOut"), QStringLiteral("fast")},
                          {QStringLiteral("ResolveNames"), true}};
    QString error;
    QVERIFY(!typed(ping.get())->readProperties(bag, &error));
    QVERIFY2(error.contains(QStringLiteral("Type mismatch"))
                 && error.contains(QStringLiteral("TimeOut")),
             qPrintable(error));
    // Loaded before the failure: kept. After it: untouched.
    QCOMPARE(get(ping.get(), "IPAddress").toString(), QStringLiteral("10.1.2.3"));
    QCOMPARE(get(ping.get(), "HostName").toString(), QStringLiteral("h.example"));
    QCOMPARE(get(ping.get(), "TimeOut").toInt(), 0);
    QCOMPARE(get(ping.get(), "ResolveNames").toBool(), false);

    QVERIFY(!typed(ping.get())->readProperties({{QStringLiteral("TimeOut"), 3.0e9}}, &error));
    QVERIFY2(error.contains(QStringLiteral("Overflow")), qPrintable(error));
    QVERIFY(
        !typed(ping.get())
             ->readProperties({{QStringLiteral("ResolveNames"), QStringLiteral("maybe")}}, &error));
    QVERIFY2(error.contains(QStringLiteral("ResolveNames")), qPrintable(error));
}

void tst_PingControl::savesAndReloads()
{
    const auto first = createPing();
    QVERIFY(first);
    QVERIFY(set(first.get(), "HostName", QStringLiteral("q2.example")));
    QVERIFY(set(first.get(), "IPAddress", QStringLiteral("192.0.2.7")));
    QVERIFY(set(first.get(), "TimeOut", 1500));
    QVERIFY(set(first.get(), "ResolveNames", true));
    QVERIFY(set(first.get(), "Alias", QStringLiteral("not saved")));
    const QVariantMap bag = writeProperties(first.get());
    QCOMPARE(bag.keys(),
             (QStringList{QStringLiteral("HostName"), QStringLiteral("IPAddress"),
                          QStringLiteral("ResolveNames"), QStringLiteral("TimeOut")}));

    const auto second = createPing();
    QVERIFY(second);
    QVERIFY(typed(second.get())->readProperties(bag, nullptr));
    for (const char *name : {"HostName", "IPAddress", "TimeOut", "ResolveNames"})
        QCOMPARE(get(second.get(), name), get(first.get(), name));
    QCOMPARE(get(second.get(), "Alias").toString(), QString());
}

void tst_PingControl::faceStaysA510TwipSquare()
{
    QWidget container;
    const auto ping = createPing(&container);
    QVERIFY(ping);
    const int side = qRound(510 * ping->logicalDpiX() / 1440.0);
    if (ping->logicalDpiX() == 96)
        QCOMPARE(side, 34);
    QCOMPARE(ping->size(), QSize(side, side));
    ping->resize(200, 100);
    QCOMPARE(ping->size(), QSize(side, side));
    ping->setGeometry(5, 5, 10, 400);
    QCOMPARE(ping->size(), QSize(side, side));
    auto *button = ping->findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(button);
    QCOMPARE(button->geometry(), QRect(0, 0, side, side));
    QCOMPARE(button->text(), QString());
    QCOMPARE(button->iconSize(), QSize(32, 32));
    QVERIFY(!button->icon().isNull());
}

void tst_PingControl::dottedIpToAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("value");
    QTest::addColumn<QString>("dotted"); // the address it stands for
    QTest::newRow("192.168.0.1") << QStringLiteral("192.168.0.1") << qint32(0x0100A8C0)
                                 << QStringLiteral("192.168.0.1");
    QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1") << qint32(0x0100007F)
                               << QStringLiteral("127.0.0.1");
    QTest::newRow("fourth part >= 128 is negative")
        << QStringLiteral("10.0.0.200") << qint32(0xC800000A) << QStringLiteral("10.0.0.200");
    QTest::newRow("255.255.255.255")
        << QStringLiteral("255.255.255.255") << qint32(-1) << QStringLiteral("255.255.255.255");
    QTest::newRow("256 counts as 0")
        << QStringLiteral("256.1.1.1") << qint32(0x01010100) << QStringLiteral("0.1.1.1");
    QTest::newRow("300 counts as 44")
        << QStringLiteral("300.0.0.1") << qint32(0x0100002C) << QStringLiteral("44.0.0.1");
    QTest::newRow("negative part: its low 8 bits")
        << QStringLiteral("1.0.0.-1") << qint32(0xFF000001) << QStringLiteral("1.0.0.255");
    QTest::newRow("trailing blank")
        << QStringLiteral("1.2.3.4 ") << qint32(0x04030201) << QStringLiteral("1.2.3.4");
    QTest::newRow("three parts") << QStringLiteral("1.2.3") << qint32(0) << QString();
    QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5") << qint32(0) << QString();
    QTest::newRow("0.0.0.0") << QStringLiteral("0.0.0.0") << qint32(0) << QString();
    QTest::newRow("empty part") << QStringLiteral("1..2.3") << qint32(0) << QString();
    QTest::newRow("letters") << QStringLiteral("1a.b.c.d") << qint32(0) << QString();
    QTest::newRow("two parts") << QStringLiteral("3com.example") << qint32(0) << QString();
    QTest::newRow("beyond 32 bits") << QStringLiteral("4294967296.1.1.1") << qint32(0) << QString();
    QTest::newRow("empty") << QString() << qint32(0) << QString();
}

void tst_PingControl::dottedIpToAddress()
{
    QFETCH(QString, text);
    QFETCH(qint32, value);
    QFETCH(QString, dotted);
    QCOMPARE(pingocx::DottedIpToAddress(text), value);
    // The value is the address in network byte order: its bytes read a.b.c.d.
    if (value != 0)
        QCOMPARE(pingocx::dottedText(pingocx::addressValueToNetwork(value)), dotted);
}

void tst_PingControl::classicInetAddr_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address"); // empty: not an address
    QTest::newRow("dotted") << QStringLiteral("10.0.0.1") << QStringLiteral("10.0.0.1");
    QTest::newRow("three parts") << QStringLiteral("1.2.3") << QStringLiteral("1.2.0.3");
    QTest::newRow("trailing blank") << QStringLiteral("1.2.3.4 ") << QStringLiteral("1.2.3.4");
    QTest::newRow("high byte") << QStringLiteral("10.0.0.200") << QStringLiteral("10.0.0.200");
    QTest::newRow("broadcast is the failure value")
        << QStringLiteral("255.255.255.255") << QString();
    QTest::newRow("name") << QStringLiteral("localhost") << QString();
    QTest::newRow("leading zero: octal")
        << QStringLiteral("010.0.0.1") << QStringLiteral("8.0.0.1");
}

void tst_PingControl::classicInetAddr()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    quint32 value = 0;
    const bool ok = pingocx::classicInetAddr(text, &value);
    QCOMPARE(ok, !address.isEmpty());
    if (ok)
        QCOMPARE(pingocx::dottedText(value), address);
}

void tst_PingControl::icmpErrorsMapToStatus_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("status"); // -1: not final
    const struct
    {
        int type, code, status;
    } rows[] = {
        {3, 0, 11002},  {3, 6, 11002},  {3, 9, 11002},  {3, 11, 11002}, {3, 1, 11003},
        {3, 7, 11003},  {3, 8, 11003},  {3, 10, 11003}, {3, 12, 11003}, {3, 13, 11003},
        {3, 14, 11003}, {3, 15, 11003}, {3, 99, 11003}, {3, 2, 11004},  {3, 3, 11005},
        {3, 4, 11009},  {3, 5, 11012},  {4, 0, 11016},  {5, 1, -1},     {11, 0, 11013},
        {11, 1, 11014}, {12, 0, 11015}, {0, 0, -1},     {8, 0, -1},
    };
    for (const auto &r : rows)
        QTest::addRow("%d/%d", r.type, r.code) << r.type << r.code << r.status;
}

void tst_PingControl::icmpErrorsMapToStatus()
{
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, status);
    const auto mapped = pingocx::icmp::statusFromIcmpError(uint8_t(type), uint8_t(code));
    QCOMPARE(mapped.has_value(), status >= 0);
    if (mapped)
        QCOMPARE(int(*mapped), status);
}

void tst_PingControl::sendErrorsMapToStatus_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status");
    QTest::newRow("ENETUNREACH") << ENETUNREACH << 11002;
    QTest::newRow("EHOSTUNREACH") << EHOSTUNREACH << 11003;
    QTest::newRow("EACCES") << EACCES << 11018;
    QTest::newRow("EMSGSIZE") << EMSGSIZE << 11009;
    QTest::newRow("ENOBUFS") << ENOBUFS << 11006;
    QTest::newRow("ENOMEM") << ENOMEM << 11006;
    QTest::newRow("EINVAL (blackhole)") << EINVAL << 11050;
    QTest::newRow("EPERM") << EPERM << 11050;
}

void tst_PingControl::sendErrorsMapToStatus()
{
    QFETCH(int, error);
    QFETCH(int, status);
    QCOMPARE(int(pingocx::icmp::statusFromSendErrno(error)), status);
}

void tst_PingControl::statusTexts_data()
{
    // A status without a text of its own is reported with its number.
    QTest::addColumn<int>("status");
    QTest::newRow("host unreachable") << 11003;
    QTest::newRow("general failure") << 11050;
    QTest::newRow("not an IP status") << 7;
}

void tst_PingControl::statusTexts()
{
    QFETCH(int, status);
    const QString text =
        QString::fromStdString(pingocx::icmp::resultTextForStatus(uint32_t(status)));
    QCOMPARE(text, QStringLiteral("Failed, Error: %1").arg(status));
    // The statuses that have texts of their own have different ones.
    QSet<QString> named;
    for (const uint32_t known : {0u, 11002u, 11010u, 11018u})
        named.insert(QString::fromStdString(pingocx::icmp::resultTextForStatus(known)));
    QCOMPARE(named.size(), 4);
    QVERIFY(!named.contains(text));
}

void tst_PingControl::badAddressesSendNothing_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3");
    QTest::newRow("1.2.3.4.5") << QStringLiteral("1.2.3.4.5");
    QTest::newRow("3com.example") << QStringLiteral("3com.example");
    QTest::newRow("1..2.3") << QStringLiteral("1..2.3");
    QTest::newRow("1a.b.c.d") << QStringLiteral("1a.b.c.d");
    QTest::newRow("256.256.256.256") << QStringLiteral("256.256.256.256");
}

void tst_PingControl::badAddressesSendNothing()
{
    QFETCH(QString, host);
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "HostName", host));
    QVERIFY(set(ping.get(), "ResolveNames", false));
    QVERIFY(set(ping.get(), "Alias", QStringLiteral("old")));
    QSignalSpy spy(ping.get(), propertyChangedSignal(ping.get()));
    QCOMPARE(send(ping.get()), QVariant(QStringLiteral("Bad IP Address")));
    QCOMPARE(get(ping.get(), "IPAddress").toString(), host);
    QCOMPARE(get(ping.get(), "Alias").toString(), QString());
    QCOMPARE(get(ping.get(), "LastMeans").toString(), QString()); // nothing was sent
    QCOMPARE(reported(spy),
             (QStringList{QStringLiteral("IPAddress"), QStringLiteral("IPAddress")}));
}

void tst_PingControl::socketErrorGoesToTheHost()
{
    // A copy of the library with no helper beside it, loaded through the registry by a
    // fresh host process: asked to use the helper, the control has no means at all.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString libDir = dir.filePath(QStringLiteral("lib"));
    QVERIFY(QDir().mkpath(libDir));
    const QString copy = libDir + QStringLiteral("/libPingOCX.so");
    QVERIFY(QFile::copy(QFileInfo(libraryPath()).canonicalFilePath(), copy));
    const QString config = dir.filePath(QStringLiteral("config"));
    {
        QSettings reg(config + QStringLiteral("/ComponentRegistry/classes.ini"),
                      QSettings::IniFormat);
        reg.setValue(QStringLiteral("ProgID/PingOCX.Ping/CLSID"), kClassId);
        reg.setValue(QStringLiteral("CLSID/ED37E54C-E24F-11D0-B680-0000F654079F/InprocServer32"),
                     copy);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    const ProbeRun run = runProbe(
        {QStringLiteral("--means"), QStringLiteral("helper"), QStringLiteral("127.0.0.1")}, env);
    QVERIFY2(run.exitCode == 0, qPrintable(run.lines.join('\n') + run.errors));
    QVERIFY2(run.lines.value(0).startsWith(QStringLiteral("LOADED registry ") + copy),
             qPrintable(run.lines.value(0)));
    const QStringList boxes = run.boxes();
    QCOMPARE(boxes.size(), 1);
    const QStringList lines = boxes.first().split(QLatin1Char('|'));
    QCOMPARE(lines.value(0), QStringLiteral("Socket Error"));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.value(1).contains(libDir + QStringLiteral("/pingocx-icmp-helper is missing"))
                 && lines.value(1).contains(QStringLiteral("ping_group_range")),
             qPrintable(lines.value(1)));
    const QStringList result = run.result(QStringLiteral("127.0.0.1"));
    QCOMPARE(result.value(2), QStringLiteral("nothing"));
}

void tst_PingControl::socketErrorShowsABoxWhenNobodyTakesIt()
{
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "IcmpMeans", QStringLiteral("datagram")));
    QVERIFY(set(ping.get(), "HostName", QStringLiteral("127.0.0.1")));
    QVERIFY(set(ping.get(), "TimeOut", 200));
    bool box = false;
    closeNextModal(&box);
    QVariant result = send(ping.get());
    if (result.isValid())
        QSKIP("ping sockets are allowed for this user here: no Socket Error to show");
    QVERIFY2(box, "a modal QMessageBox was shown and answered");

    // With a host handler connected, the same message goes to it and no box appears.
    QStringList routed;
    QVERIFY(QObject::connect(typed(ping.get()), &hosting::PingControl::messageBoxRequested,
                             [&routed](const QString &text, const QString &caption) {
                                 QCOMPARE(caption, QString());
                                 routed << text;
                             }));
    result = send(ping.get());
    QVERIFY(!result.isValid());
    QCOMPARE(routed.size(), 1);
    QVERIFY2(
        routed.first().startsWith(QStringLiteral("Socket Error\nPing sockets are not allowed")),
        qPrintable(routed.first()));
}

QTEST_MAIN(tst_PingControl)
#include "tst_pingcontrol.moc"
