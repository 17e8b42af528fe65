// The About box: its texts, its two showings from the main window, and the start of
// the system information tool.
#include "TestRegistry.h"
#include "support/PromptRecorder.h"
#include "support/RecordingWindow.h"
#include "support/TestSupport.h"

#include "core/about/SystemInfo.h"
#include "about/frmAbout.h"
#include "core/net/HttpTransfer.h"
#include "browser/frmTarvex.h"
#include "tools/listservice/ListService.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using tarvex::frmAbout;
using tarvex::frmTarvex;
using tarvex::about::Registry;
using namespace tarvex::test;

namespace {

QList<frmAbout *> aboutBoxes()
{
    QList<frmAbout *> boxes;
    for (QWidget *w : QApplication::allWidgets()) {
        if (auto *box = qobject_cast<frmAbout *>(w))
            boxes << box;
    }
    return boxes;
}

// An executable script that appends its own name to marker when it runs.
void writeTool(const QString &path, const QString &marker, bool executable = true,
               const QByteArray &interpreter = "/bin/sh")
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!" + interpreter + "\necho '" + QFileInfo(path).fileName().toUtf8() + "' >> '"
               + marker.toUtf8() + "'\n");
    file.close();
    QFile::Permissions perms =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (executable)
        perms |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    QVERIFY(file.setPermissions(perms));
}

QString readMarker(const QString &marker)
{
    QFile file(marker);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void textsAndVersion();
    void escapeEndsTheSplash();

    void toolOnThePath_data();
    void toolOnThePath();
    void registryLookups_data();
    void registryLookups();

    void splashAtStartup();
    void aboutFromTheMenu();
    void aboutWhileTheSplashIsOpen();

private:
    void expectStarted(const QString &expected);

    QByteArray m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PromptRecorder> m_prompts;
    QString m_marker;
};

void TestAbout::initTestCase() { m_path = qgetenv("PATH"); }

void TestAbout::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_marker = m_dir->filePath(QStringLiteral("started.txt"));
    m_prompts = std::make_unique<PromptRecorder>();
}

void TestAbout::cleanup()
{
    qputenv("PATH", m_path);
    qDeleteAll(aboutBoxes());
    m_prompts.reset();
    m_dir.reset();
}

void TestAbout::textsAndVersion()
{
    frmAbout box;
    box.Form_Load();
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));

    QCOMPARE(box.windowTitle(), QStringLiteral("About Tarvex"));
    QCOMPARE(box.lblTitle->text(), QStringLiteral("Tarvex"));
    // Major and minor of the build's version; the revision is left out.
    const QString version = QStringLiteral(TARVEX_VERSION_STRING).section(QLatin1Char('.'), 0, 1);
    QCOMPARE(box.lblVersion->text(), QStringLiteral("Version ") + version);
    QVERIFY(!box.lblDescription->text().isEmpty());
    QCOMPARE(box.cmdOK->text(), QStringLiteral("OK"));
    QCOMPARE(box.cmdSysInfo->text(), QStringLiteral("&System Info..."));
    QVERIFY(box.findChild<QWidget *>(QStringLiteral("Line1")));
    QVERIFY(box.findChild<QWidget *>(QStringLiteral("picIcon")));

    const QStringList lines = box.lblDisclaimer->text().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].contains(QStringLiteral("Copyright"))
            && lines[0].contains(QStringLiteral("Tarvex")));
    QCOMPARE(lines[1], QString());
    QVERIFY(lines[2].contains(QStringLiteral("Thanks"))
            && lines[2].contains(QStringLiteral("QStat")));
    QVERIFY(lines[3].startsWith(QStringLiteral("QStat"))
            && lines[3].contains(QStringLiteral("1996-2014")));
    for (const QString &name : {QStringLiteral("Jankowski"), QStringLiteral("Hartland")})
        QVERIFY(!box.lblDisclaimer->text().contains(name));

    // Every text is shown whole.
    for (QLabel *label : {box.lblTitle, box.lblVersion, box.lblDescription, box.lblDisclaimer}) {
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
        QVERIFY2(label->height() >= label->sizeHint().height(), qPrintable(label->objectName()));
    }
    for (QPushButton *button : {box.cmdOK, box.cmdSysInfo})
        QVERIFY(button->width() >= button->sizeHint().width());
}

void TestAbout::escapeEndsTheSplash()
{
    // A splash dismissed with Escape is gone like a closed one, not left hidden.
    frmTarvex window{nullptr, frmTarvex::PingControl::Skip};
    window.showAboutSplash();
    QCOMPARE(aboutBoxes().size(), 1);
    QPointer<frmAbout> splash = aboutBoxes().first();
    QTest::keyClick(splash, Qt::Key_Escape);
    QTRY_VERIFY(splash.isNull());
}

void TestAbout::expectStarted(const QString &expected)
{
    if (expected.isEmpty()) {
        QCOMPARE(m_prompts->prompts().size(), 1);
        const tarvex::ui::Prompt &shown = m_prompts->prompts().first();
        QCOMPARE(shown.kind, tarvex::ui::Prompt::Kind::Message);
        QCOMPARE(shown.text, QStringLiteral("System Information Is Unavailable At This Time"));
        QCOMPARE(shown.title, QStringLiteral("Tarvex"));
        QCOMPARE(shown.icon, tarvex::ui::MsgIcon::None);
        QCOMPARE(readMarker(m_marker), QString());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(readMarker(m_marker), expected, 5000);
        QCOMPARE(m_prompts->messages(), QStringList());
    }
}

void TestAbout::toolOnThePath_data()
{
    QTest::addColumn<QStringList>("tools"); // "name" or "name:noexec" or "name:broken"
    QTest::addColumn<QString>("expected"); // the tool started; empty: the message

    QTest::newRow("hardinfo") << QStringList{QStringLiteral("hardinfo")}
                              << QStringLiteral("hardinfo");
    QTest::newRow("an information centre before a monitor")
        << QStringList{QStringLiteral("gnome-system-monitor"), QStringLiteral("kinfocenter")}
        << QStringLiteral("kinfocenter");
    QTest::newRow("only a monitor") << QStringList{QStringLiteral("mate-system-monitor")}
                                    << QStringLiteral("mate-system-monitor");
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("not executable") << QStringList{QStringLiteral("hardinfo:noexec")} << QString();
    QTest::newRow("found but cannot start")
        << QStringList{QStringLiteral("hardinfo:broken")} << QString();
}

void TestAbout::toolOnThePath()
{
    QFETCH(QStringList, tools);
    QFETCH(QString, expected);

    const QString bin = m_dir->filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(bin));
    for (const QString &tool : tools) {
        const QString name = tool.section(QLatin1Char(':'), 0, 0);
        const QString how = tool.section(QLatin1Char(':'), 1);
        writeTool(bin + QLatin1Char('/') + name, m_marker, how != QLatin1String("noexec"),
                  how == QLatin1String("broken") ? "/nonexistent/interpreter" : "/bin/sh");
    }
    qputenv("PATH", bin.toLocal8Bit());

    frmAbout box; // reads this machine's registry: the tools on the PATH
    box.Form_Load();
    box.show();
    box.cmdSysInfo->click();

    expectStarted(expected);
    QVERIFY(box.isVisible());
}

void TestAbout::registryLookups_data()
{
    QTest::addColumn<int>("pathType"); // type of the tool's path value; 0: absent
    QTest::addColumn<QString>("pathValue");
    QTest::addColumn<int>("folderType"); // type of the folder value; 0: absent
    QTest::addColumn<QString>("folderValue");
    QTest::addColumn<QString>("expected");

    // "$" stands for the test's folder, which holds "tool" and "tools/MSINFO32.EXE".
    QTest::newRow("the path is started at once")
        << 1 << QStringLiteral("$/tool") << 1 << QStringLiteral("$/tools")
        << QStringLiteral("tool");
    QTest::newRow("a path naming no file fails without trying the folder")
        << 1 << QStringLiteral("$/missing") << 1 << QStringLiteral("$/tools") << QString();
    QTest::newRow("the folder holding the program")
        << 0 << QString() << 1 << QStringLiteral("$/tools") << QStringLiteral("MSINFO32.EXE");
    QTest::newRow("a folder without the program")
        << 0 << QString() << 1 << QStringLiteral("$") << QString();
    QTest::newRow("a path of another type")
        << 2 << QStringLiteral("$/tool") << 0 << QString() << QString();
    QTest::newRow("neither key") << 0 << QString() << 0 << QString() << QString();
}

void TestAbout::registryLookups()
{
    QFETCH(int, pathType);
    QFETCH(QString, pathValue);
    QFETCH(int, folderType);
    QFETCH(QString, folderValue);
    QFETCH(QString, expected);

    const QString root = m_dir->path();
    writeTool(root + QStringLiteral("/tool"), m_marker);
    QVERIFY(QDir().mkpath(root + QStringLiteral("/tools")));
    writeTool(root + QStringLiteral("/tools/MSINFO32.EXE"), m_marker);

    TestRegistry registry;
    const auto stored = [&](const QString &text) {
        return QString(text).replace(QLatin1Char('$'), root).toLocal8Bit() + '\0';
    };
    if (pathType)
        registry.setValue(tarvex::about::MsInfoKey, tarvex::about::MsInfoPathValue,
                          std::uint32_t(pathType), stored(pathValue));
    if (folderType)
        registry.setValue(tarvex::about::SharedToolsKey, tarvex::about::SharedToolsMsInfoValue,
                          std::uint32_t(folderType), stored(folderValue));

    frmAbout box;
    box.setRegistry(&registry);
    box.Form_Load();
    box.show();
    box.cmdSysInfo->click();

    expectStarted(expected);
    QVERIFY(box.isVisible());
    QCOMPARE(registry.closed().size(), registry.opens()); // every key closed
}

void TestAbout::splashAtStartup()
{
    // The load step shows the box modeless and without owner before the list fetch, and
    // it stays open while the fetch waits and after.
    TempSettings settings;
    EndRecorder end;
    tarvex::tools::ListService service;
    QVERIFY(service.listen());
    service.setDelayMs(300);
    const QString game = m_dir->filePath(QStringLiteral("quake2"));
    writeTool(game, m_marker);
    settings.writeIni("[Data]\nQuakeLocation=" + game.toUtf8()
                      + "\nmnuPing=False\n"
                        "[Endpoints]\nServerListHost="
                      + service.baseUrl().toUtf8() + "\n");

    frmTarvex window{nullptr, frmTarvex::PingControl::Skip};
    QList<frmAbout *> duringFetch;
    QTimer::singleShot(100, &window, [&] { duringFetch = aboutBoxes(); });
    window.Form_Load();
    QVERIFY(tarvex::test::settle(window));

    QCOMPARE(service.listRequests(), 1);
    QCOMPARE(duringFetch.size(), 1);
    QPointer<frmAbout> splash = duringFetch.first();
    QVERIFY(splash);
    QVERIFY(splash->isVisible());
    QCOMPARE(splash->parentWidget(), nullptr);
    QVERIFY(!splash->isModal());
    QCOMPARE(splash->lblVersion->text().left(8), QStringLiteral("Version "));
    QVERIFY(window.isEnabled());

    splash->cmdOK->click();
    QTRY_VERIFY(splash.isNull());
}

void TestAbout::aboutFromTheMenu()
{
    frmTarvex window{nullptr, frmTarvex::PingControl::Skip};
    window.show();
    QPointer<frmAbout> seen;
    bool modal = false;
    bool owned = false;
    QString version;
    m_prompts->onPrompt([&](const tarvex::ui::Prompt &p) {
        owned = p.dialog->parentWidget() == &window;
        seen = qobject_cast<frmAbout *>(p.dialog);
        modal = p.dialog->isModal() && p.dialog->isVisible();
        if (seen) {
            version = seen->lblVersion->text();
            seen->cmdOK->click();
        }
    });

    window.mnuAbout->trigger();

    QCOMPARE(m_prompts->prompts().size(), 1);
    QCOMPARE(version.left(8), QStringLiteral("Version "));
    QVERIFY(modal);
    QVERIFY(owned);
    QTRY_VERIFY(seen.isNull()); // closed and gone
    QCOMPARE(aboutBoxes().size(), 0);
}

void TestAbout::aboutWhileTheSplashIsOpen()
{
    frmTarvex window{nullptr, frmTarvex::PingControl::Skip};
    window.show();
    window.showAboutSplash();
    QCOMPARE(aboutBoxes().size(), 1);
    QPointer<frmAbout> splash = aboutBoxes().first();

    bool sameBox = false;
    int boxes = 0;
    bool modal = false;
    bool owned = false;
    m_prompts->onPrompt([&](const tarvex::ui::Prompt &p) {
        sameBox = p.dialog == splash.data();
        boxes = int(aboutBoxes().size());
        modal = p.dialog->isModal() && p.dialog->isVisible();
        owned = p.dialog->parentWidget() == &window;
    });

    window.mnuAbout->trigger();

    QCOMPARE(m_prompts->prompts().size(), 1);
    QVERIFY(sameBox); // the open box, not a second one
    QCOMPARE(boxes, 1);
    QVERIFY(modal);
    QVERIFY(owned);
    QTRY_VERIFY(splash.isNull());
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
