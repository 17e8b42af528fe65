// Find Player and Buddies dialogs: results follow the typing, a bad expression shows
// its message, choosing a line names the server, the buddy list edits and is stored.
#include "core/filter/BuddyList.h"
#include "find/frmBuddies.h"
#include "find/frmFindPlayer.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

using namespace tarvex;

namespace {
// Every control of the dialog has an accessible name.
void checkAccessibleNames(QWidget *dialog)
{
    for (QWidget *w : dialog->findChildren<QWidget *>()) {
        if (qobject_cast<QLineEdit *>(w) || qobject_cast<QAbstractButton *>(w)
            || qobject_cast<QListWidget *>(w))
            QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());
    }
}
} // namespace

class TestFindDialogs : public QObject
{
    Q_OBJECT

private slots:
    void findPlayer()
    {
        int asked = 0;
        frmFindPlayer dialog([&asked] {
            ++asked;
            return QList<filter::SearchServer>{{QStringLiteral("k1"),
                                                QStringLiteral("One"),
                                                QStringLiteral("127.0.0.1:1"),
                                                {QStringLiteral("Rocket"), QStringLiteral("grunt")},
                                                {},
                                                {}},
                                               {QStringLiteral("k2"),
                                                QStringLiteral("Two"),
                                                QStringLiteral("127.0.0.1:2"),
                                                {QStringLiteral("rocketman")},
                                                {},
                                                {}}};
        });
        checkAccessibleNames(&dialog);
        QSignalSpy chosen(&dialog, &frmFindPlayer::serverChosen);

        QTest::keyClicks(dialog.searchField(), QStringLiteral("rock"));
        QCOMPARE(dialog.results()->count(), 2);
        QTest::keyClicks(dialog.searchField(), QStringLiteral("etm"));
        QCOMPARE(dialog.results()->count(), 1);
        QVERIFY(dialog.results()->item(0)->text().contains(QStringLiteral("Two")));
        QVERIFY(asked >= 7); // asked afresh on every keystroke

        dialog.searchField()->setText(QStringLiteral("/(unclosed"));
        QCOMPARE(dialog.results()->count(), 0);
        QVERIFY(
            dialog.message()->text().startsWith(QStringLiteral("Invalid regular expression: ")));

        dialog.searchField()->setText(QStringLiteral("/^g"));
        QCOMPARE(dialog.results()->count(), 1);
        QTest::keyClick(dialog.searchField(), Qt::Key_Return);
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toString(), QStringLiteral("k1"));
    }

    void buddies()
    {
        test::TempSettings settings;
        QCOMPARE(filter::loadBuddies(), QStringList());
        frmBuddies dialog({QStringLiteral("Zed"), QStringLiteral(" zed ")});
        checkAccessibleNames(&dialog);
        QCOMPARE(dialog.names(), QStringList{QStringLiteral("Zed")});

        for (const char *name : {"Rocket", "  rocket ", "", "Amy"}) {
            dialog.nameField()->setText(QString::fromLatin1(name));
            QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        }
        QCOMPARE(
            dialog.names(),
            QStringList({QStringLiteral("Zed"), QStringLiteral("Rocket"), QStringLiteral("Amy")}));
        dialog.list()->item(0)->setSelected(true);
        QTest::mouseClick(dialog.removeButton(), Qt::LeftButton);
        QCOMPARE(dialog.names(), QStringList({QStringLiteral("Rocket"), QStringLiteral("Amy")}));

        // Stored and read back; a shorter list leaves nothing of the longer one.
        const QStringList odd{QStringLiteral("a=b;c"), QStringLiteral("[x]\\y"),
                              QStringLiteral("3")};
        QVERIFY(filter::saveBuddies(odd));
        QCOMPARE(filter::loadBuddies(), odd);
        QVERIFY(filter::saveBuddies(dialog.names()));
        QCOMPARE(filter::loadBuddies(), dialog.names());
    }
};

QTEST_MAIN(TestFindDialogs)
#include "tst_finddialogs.moc"
