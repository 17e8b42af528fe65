// QStat writing megabytes for one server (a hostile or broken server can make it): the
// details window keeps the first MiB only and shows what that holds, promptly, in the
// characters they are, with no message; the main window's list stays as it was.
#include "DetailsTestSupport.h"
#include "browser/frmTarvex.h"
#include "details/ListBox.h"
#include "core/details/QStatOutput.h"
#include "details/frmMoreInfo.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ServerRows.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QTest>

using namespace tarvex;

namespace {

template<typename Grid> QStringList row(const Grid &grid, int r)
{
    QStringList cells;
    for (int c = 0; c < grid.Cols(); ++c)
        cells << grid.TextMatrix(r, c);
    return cells;
}

const QByteArray D = QStatOutput::Delimiter.toUtf8();

// One player line of about a KiB: a name of Greek capitals (two bytes each in UTF-8).
QByteArray playerLine(int n)
{
    return QStringLiteral("%1 %2").arg(QString(480, QChar(0x03A9))).arg(n).toUtf8() + D + "12" + D
        + "50\n";
}

} // namespace

class QStatMegabytesTest : public QObject
{
    Q_OBJECT

private slots:
    // The first MiB ends inside a character of a player line (one of its two bytes
    // falls on each side of the limit); the output goes on for 6 MiB.
    void megabytesOfOutput()
    {
        const QByteArray server = "Q2S" + D + "10.0.0.5:27910" + D + "Caf\xc3\xa9 \xce\xa9 Server"
            + D + "q2dm1" + D + "16" + D + "2" + D + "12" + D + "0\n";
        const QByteArray rules = "timelimit=20" + D + "fraglimit=30" + D + "version=3.20\n";
        QByteArray output = server + rules;
        int players = 0;
        while (output.size() + playerLine(players).size() <= QStatQuery::MaxOutputBytes)
            output += playerLine(players++);
        // The line across the limit: ASCII up to its last byte, then a two-byte character.
        const qsizetype room = QStatQuery::MaxOutputBytes - output.size();
        QVERIFY(room >= 1);
        output += QByteArray(room - 1, 'x') + "\xce\xa9 cut" + D + "1" + D + "2\n";
        QCOMPARE(quint8(output.at(QStatQuery::MaxOutputBytes - 1)), quint8(0xCE));
        for (int n = 0; output.size() < 6 * (1 << 20); ++n)
            output += playerLine(100000 + n);

        test::QStatStandIn standIn;
        test::PromptRecorder prompts;
        test::EndRecorder end;
        standIn.write(QStringLiteral("answer.txt"), output);
        standIn.put("cat answer.txt && touch written.txt");
        standIn.putOnPath();

        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        test::setCell(w, 1, frmTarvex::ColAddress, QStringLiteral("10.0.0.5"));
        test::setCell(w, 1, frmTarvex::ColName, QStringLiteral("listed"));
        w.Grid1->setRow(1);
        const QStringList listed = row(*w.Grid1, 1);

        QElapsedTimer clock;
        clock.start();
        w.cmdMoreInfo_Click();
        auto *details = w.findChild<frmMoreInfo *>();
        QVERIFY(details);
        QTRY_VERIFY_WITH_TIMEOUT(details->state() != frmMoreInfo::State::Loading, 15000);
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(prompts.messages().isEmpty(),
                 qPrintable(prompts.messages().join(QLatin1Char('\n'))));
        QVERIFY(details->isVisible());
        // All of it written: the rest was read and dropped, so QStat never stalled.
        QVERIFY(standIn.exists(QStringLiteral("written.txt")));
        QCOMPARE(details->lastRun().outcome, QStatQuery::RunResult::Outcome::Finished);

        // Shown as UTF-8, also the server's name before the cut.
        QCOMPARE(row(*details->Grid1, 1),
                 (QStringList{"10.0.0.5:27910", QStringLiteral("Caf\u00e9 \u03a9 Server"), "q2dm1",
                              "16", "2", "12"}));
        QCOMPARE(details->List1->ListCount(), 3); // the last rule included
        QCOMPARE(details->List1->List(1), QStringLiteral("fraglimit=30"));
        QCOMPARE(details->List1->List(2), QStringLiteral("version=3.20"));
        // Every whole player line of the first MiB, the cut one not; then the blank row.
        QCOMPARE(details->Grid2->Rows(), 1 + players + 1);
        const QString lastName = QString::fromUtf8(playerLine(players - 1).split('^').first());
        QCOMPARE(row(*details->Grid2, players), (QStringList{lastName, "12", "50"}));
        QCOMPARE(row(*details->Grid2, players + 1), (QStringList{"", "", ""}));

        // Nothing else: the list as it was, no end of the program, no answer kept.
        QCOMPARE(row(*w.Grid1, 1), listed);
        QCOMPARE(w.Grid1->Rows(), 2);
        QCOMPARE(end.count(), 0);
    }

    // The limit's cut on its own: a character cut in two is left out, and only then;
    // output that is not UTF-8 is still read as single bytes.
    void readingTheFirstMiB_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const qsizetype limit = QStatQuery::MaxOutputBytes;
        QTest::newRow("two-byte character across the limit")
            << QByteArray(limit - 1, 'a') + "\xc3\xa9 more" << QString(limit - 1, u'a');
        QTest::newRow("three-byte character, two bytes inside")
            << QByteArray(limit - 2, 'a') + "\xe2\x82\xac" << QString(limit - 2, u'a');
        QTest::newRow("character ending at the limit") << QByteArray(limit - 2, 'a') + "\xc3\xa9"
                + "b" << QString(limit - 2, u'a') + u'\u00e9';
        QTest::newRow("Latin-1 output over the limit")
            << QByteArray("caf\xe9 ") + QByteArray(limit - 6, 'a') + "\xe9\xe9"
            << QStringLiteral("caf\u00e9 ") + QString(limit - 6, u'a') + u'\u00e9';
        QTest::newRow("cut character within the limit, not at it") << QByteArray("a\xc3")
                + QByteArray(limit, 'b') << QStringLiteral("a\u00c3") + QString(limit - 2, u'b');
    }
    void readingTheFirstMiB()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QStatQuery::OutputBuffer output;
        output.append(bytes);
        const QString read = output.text();
        QCOMPARE(read.size(), text.size());
        QVERIFY(read == text);
    }
};

QTEST_MAIN(QStatMegabytesTest)
#include "tst_qstatmegabytes.moc"
