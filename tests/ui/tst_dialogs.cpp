#include "support/PromptRecorder.h"
#include "support/TestSupport.h"
#include "ui/Dialogs.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvex;

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    // The open dialog shows the game's file however its name is spelt, and the
    // all-files entry shows everything.
    void openDialogFiltersIgnoreLetterCase()
    {
        QTemporaryDir dir;
        for (const char *name : {"QUAKE2.EXE", "quake2.exe", "yquake2", "readme.txt"}) {
            QFile file(dir.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const auto dialog = ui::makeOpenFileDialog(
            nullptr, QStringLiteral("Find Quake2"), dir.filePath(QStringLiteral("quake2.exe")),
            {QStringLiteral("Quake2 (Quake2.exe)"), QStringLiteral("All files (*)")});
        dialog->setDirectory(dir.path());
        dialog->show();
        QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("Quake2 (Quake2.exe)"));
        auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        QVERIFY(list);
        const auto shown = [&] {
            QStringList names;
            const QModelIndex root = list->rootIndex();
            for (int r = 0; r < list->model()->rowCount(root); ++r)
                names << list->model()->index(r, 0, root).data().toString();
            names.sort();
            return names;
        };
        QTRY_COMPARE(shown(), (QStringList{"QUAKE2.EXE", "quake2.exe"}));
        dialog->selectNameFilter(QStringLiteral("All files (*)"));
        QTRY_COMPARE(shown().size(), 4);
    }

    // Text from the network must not be read as markup in a real box.
    void messageBoxShowsPlainText()
    {
        Qt::TextFormat format = Qt::AutoText;
        QString shownText;
        QTimer closer;
        int polls = 0;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                format = box->textFormat();
                shownText = box->text();
                box->button(QMessageBox::Ok)->click();
            } else if (++polls > 300) {
                closer.stop();
            }
        });
        closer.start(10);
        ui::messageBox(nullptr, QStringLiteral("<b>1.2.3.4</b> is not a host"));
        closer.stop();
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shownText, QStringLiteral("<b>1.2.3.4</b> is not a host"));
    }

    void boxesGoToTheResponder()
    {
        test::PromptRecorder prompts;
        prompts.answerNext(QStringLiteral("typed"));
        QCOMPARE(ui::inputBox(nullptr, QStringLiteral("Server IP Address:"),
                              QStringLiteral("Server IP Address"),
                              QStringLiteral("000.000.000.000")),
                 ui::Answer(QStringLiteral("typed")));
        QCOMPARE(ui::inputBox(nullptr, QStringLiteral("p"), QStringLiteral("t"), QString()),
                 ui::Answer());
        ui::messageBox(nullptr, QStringLiteral("hello"), ui::MsgIcon::Critical);
        QCOMPARE(prompts.prompts().size(), 3);
        QCOMPARE(prompts.prompts().at(0).defaultText, QStringLiteral("000.000.000.000"));
        QCOMPARE(prompts.messages(), QStringList{"hello"});
        QCOMPARE(prompts.prompts().at(2).title, QStringLiteral("Tarvex"));
    }
};

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
