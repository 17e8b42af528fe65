// The remote console window and the password dialog, against a loopback stand-in.
#include "console/PasswordDialog.h"
#include "console/RemoteConsole.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

using namespace tarvex;

class ConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    // A command goes out, its two-packet answer shows in the pane, a refused command
    // is explained and not sent, and Up/Down walk the history.
    void console()
    {
        QUdpSocket server;
        QVERIFY(server.bind(QHostAddress::LocalHost, 0));
        QList<QByteArray> received;
        connect(&server, &QUdpSocket::readyRead, this, [&] {
            while (server.hasPendingDatagrams()) {
                QHostAddress from;
                quint16 port = 0;
                QByteArray data(int(server.pendingDatagramSize()), '\0');
                server.readDatagram(data.data(), data.size(), &from, &port);
                received << data;
                const QByteArray print = QByteArray(4, '\xff') + "print\n";
                server.writeDatagram(print + "first half, ", from, port);
                server.writeDatagram(print + "second half\n", from, port);
            }
        });
        RemoteConsole window(QHostAddress::LocalHost, server.localPort());
        window.client()->setTimings(1000, 100);
        auto *password = window.findChild<QLineEdit *>();
        QVERIFY(password && password->echoMode() == QLineEdit::Password);
        const QList<QLineEdit *> lines = window.findChildren<QLineEdit *>();
        QLineEdit *command = lines.last();
        for (QWidget *w : window.findChildren<QWidget *>())
            if (w->isWidgetType() && (w->focusPolicy() != Qt::NoFocus))
                QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());

        password->setText("s3cret");
        command->setText("say a\nquit");
        window.sendCommand();
        QVERIFY(window.output().contains("line break"));
        QTest::qWait(100);
        QVERIFY(received.isEmpty());

        QSignalSpy done(window.client(), &RconClient::finished);
        for (const char *text : {"status", "map q2dm2"}) {
            command->setText(text);
            window.sendCommand();
            QVERIFY(done.wait(3000));
        }
        QCOMPARE(received.size(), 2);
        QCOMPARE(received[1], QByteArray(4, '\xff') + "rcon s3cret map q2dm2");
        QVERIFY2(window.output().contains("first half, second half"), qPrintable(window.output()));
        QCOMPARE(window.history(), QStringList({"status", "map q2dm2"}));
        QTest::keyClick(command, Qt::Key_Up);
        QCOMPARE(command->text(), QString("map q2dm2"));
        QTest::keyClick(command, Qt::Key_Up);
        QTest::keyClick(command, Qt::Key_Up);
        QCOMPARE(command->text(), QString("status"));
        QTest::keyClick(command, Qt::Key_Down);
        QTest::keyClick(command, Qt::Key_Down);
        QCOMPARE(command->text(), QString());
    }

    // The dialog keeps a password the game would split and says why.
    void passwordDialog()
    {
        PasswordDialog dialog("Stand-in");
        dialog.setPassword("a;quit", false);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        dialog.setPassword("fine", false);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.password(), QString("fine"));
    }
};

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
