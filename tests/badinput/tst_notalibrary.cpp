// The component registry names a file that is not a library as the Ping control's server.
// With the library beside the program the window passes over the bad entry and gets its
// control from there; with nowhere else to look, a ping tells the user which step failed.
// Either way the list, the registry and the named file stay as they were.
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ServerRows.h"
#include "hosting/PingLoader.h"
#include "hosting/ControlServer.h"
#include "ping/Identifiers.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTest>

using namespace tarvex;
using namespace tarvex::test;

namespace {

class Window : public frmTarvex
{
public:
    void showAboutSplash() override { }
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList column(const frmTarvex &w, int col)
{
    QStringList cells;
    for (int r = 1; r < w.Grid1->Rows(); ++r)
        cells << w.Grid1->TextMatrix(r, col);
    return cells;
}

} // namespace

class NotALibraryTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempSettings> m_settings;
    QString m_text; // the file the registry names
    QString m_registry; // the registry file

private slots:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_registry = hosting::componentRegistryPath();
        QVERIFY(QDir().mkpath(QFileInfo(m_registry).path()));
        m_text = m_settings->dir() + QStringLiteral("/libPingOCX.so");
        QFile text(m_text);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is no shared library\n");
        text.close();
        {
            QSettings reg(m_registry, QSettings::IniFormat);
            reg.setValue(QStringLiteral("ProgID/%1/CLSID").arg(QLatin1String(pingocx::kProgId)),
                         hosting::registryTextOf(pingocx::CLSID_Ping));
            reg.setValue(QStringLiteral("CLSID/%1/InprocServer32")
                             .arg(hosting::registryKeyOf(pingocx::CLSID_Ping)),
                         m_text);
        }
        QVERIFY(contents(m_registry).contains("InprocServer32"));
    }
    void cleanup() { m_settings.reset(); }

    // The window's own search: the bad entry first, then the program's folder, which holds
    // the built library.
    void controlComesFromBesideTheProgram()
    {
        const QByteArray registry = contents(m_registry);
        Window w;
        QVERIFY2(w.pingControl(), qPrintable(w.pingControlError()));
        QCOMPARE(w.pingControlError(), QString());
        const hosting::Loaded loaded = hosting::loadPing(nullptr);
        QVERIFY2(loaded.ping, qPrintable(loaded.error));
        QCOMPARE(loaded.source, QStringLiteral("program folder"));
        delete loaded.ping->widget();
        QCOMPARE(contents(m_registry), registry);
        QCOMPARE(contents(m_text), QByteArray("this is no shared library\n"));
    }

    // Only the registry: no control, and each ping says why, once, and changes nothing.
    void pingSaysWhyWhenThereIsNoOtherPlace()
    {
        PromptRecorder prompts;
        EndRecorder end;
        const QByteArray registry = contents(m_registry);
        Window w;
        QStringList statuses;
        connect(&w, &frmTarvex::statusShown, this, [&](const QString &t) { statuses << t; });
        hosting::SearchPath search;
        search.registryFile = m_registry;
        QVERIFY(!w.createPingControl(search));
        QVERIFY(!w.pingControl());
        QVERIFY2(w.pingControlError().contains(m_text + QStringLiteral(": not a loadable library")),
                 qPrintable(w.pingControlError()));

        test::setCell(w, 1, frmTarvex::ColName, QStringLiteral("Listed"));
        test::setCell(w, 1, frmTarvex::ColAddress, QStringLiteral("127.0.0.2:27910"));
        w.cmdPing->click();
        QCOMPARE(prompts.messages().size(), 1);
        const QString message = prompts.messages().first();
        QVERIFY2(message.startsWith(
                     QStringLiteral("Pinging is not available: the Ping control \"PingOCX.Ping\"")),
                 qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("not a loadable library")), qPrintable(message));

        QCOMPARE(column(w, frmTarvex::ColPing), QStringList{QString()});
        QCOMPARE(column(w, frmTarvex::ColName), QStringList{QStringLiteral("Listed")});
        QVERIFY(statuses.isEmpty());
        QCOMPARE(end.count(), 0);
        QCOMPARE(contents(m_registry), registry);
        QCOMPARE(contents(m_text), QByteArray("this is no shared library\n"));
    }
};

QTEST_MAIN(NotALibraryTest)
#include "tst_notalibrary.moc"
