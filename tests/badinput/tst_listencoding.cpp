// A server-list page in an encoding the list host does not name: UTF-16 (with or without a
// byte-order mark) and Shift-JIS bytes. The refresh goes as with any page: the status line,
// the buttons and the ping after it as usual, no message, nothing stored; the grid shows
// every row, and every cell as far as its bytes can be read.
#include "core/net/HttpTransfer.h"
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ListPages.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"
#include "ListService.h"
#include "support/RecordingWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QStringEncoder>
#include <QTest>

using namespace tarvex;
using namespace tarvex::test;
using tarvex::tools::ListService;

namespace {

QList<ServerRow> rowsWithNames(const QStringList &names)
{
    QList<ServerRow> rows = generatedRows(int(names.size()));
    for (int i = 0; i < rows.size(); ++i)
        rows[i].name = names[i];
    return rows;
}

QByteArray encoded(const QString &page, QStringConverter::Encoding encoding, bool withBom)
{
    QStringEncoder encoder(
        encoding, withBom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
    return encoder(page);
}

// "サーバー" and "東京 Frag" in Shift-JIS: neither is UTF-8.
const QByteArray ShiftJisServer("\x83\x54\x81\x5B\x83\x6F\x81\x5B");
const QByteArray ShiftJisTokyo("\x93\x8C\x8B\x9E Frag");

} // namespace

class ListEncodingTest : public QObject
{
    Q_OBJECT

private slots:
    void pageInAnUnnamedEncoding_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QStringList>("names"); // as the grid shows them

        const QStringList names{QStringLiteral("Caf\u00e9 Frag"), QStringLiteral("\u03a9 Arena"),
                                QStringLiteral("Plain Deathmatch")};
        const QString page = listPage(rowsWithNames(names));
        QTest::newRow("UTF-16LE with byte-order mark")
            << encoded(page, QStringConverter::Utf16LE, true) << names;
        QTest::newRow("UTF-16BE with byte-order mark")
            << encoded(page, QStringConverter::Utf16BE, true) << names;
        QTest::newRow("UTF-16LE without byte-order mark")
            << encoded(page, QStringConverter::Utf16LE, false) << names;

        // Shift-JIS is read as single bytes (Latin-1): the names come out as those
        // characters, everything in ASCII exactly.
        QByteArray sjis = listPage(rowsWithNames({"@0@", "@1@", "Plain Deathmatch"})).toUtf8();
        sjis.replace("@0@", ShiftJisServer);
        sjis.replace("@1@", ShiftJisTokyo);
        QTest::newRow("Shift-JIS names")
            << sjis
            << QStringList{QString::fromLatin1(ShiftJisServer), QString::fromLatin1(ShiftJisTokyo),
                           QStringLiteral("Plain Deathmatch")};
    }
    void pageInAnUnnamedEncoding()
    {
        QFETCH(QByteArray, page);
        QFETCH(QStringList, names);

        TempSettings settings;
        PromptRecorder prompts;
        EndRecorder end;
        ListService service;
        QVERIFY(service.listen());
        service.setPage(page);
        const QByteArray ini = "[Endpoints]\nServerListHost=" + service.baseUrl().toUtf8()
            + "\n[Data]\nQuakeLocation=x\n";
        settings.writeIni(ini);

        QStringList log;
        RecordingWindow w(log);
        w.Form_Load();
        QVERIFY(settle(w));

        QVERIFY2(prompts.messages().isEmpty(),
                 qPrintable(prompts.messages().join(QLatin1Char('\n'))));
        QCOMPARE(w.Label1->text(), frmTarvex::RefreshedText);
        for (QPushButton *b : {w.cmdRefresh, w.cmdPing, w.Command1, w.cmdMoreInfo, w.cmdPingSelect})
            QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
        QCOMPARE(log, (QStringList{"about", "ping"}));

        const QList<ServerRow> expected = rowsWithNames(names);
        QCOMPARE(w.Grid1->Rows(), 1 + int(expected.size()));
        for (int r = 0; r < expected.size(); ++r) {
            const ServerRow &row = expected[r];
            QCOMPARE(w.Grid1->TextMatrix(r + 1, frmTarvex::ColName), row.name);
            QCOMPARE(w.Grid1->TextMatrix(r + 1, frmTarvex::ColAddress), row.address);
            QCOMPARE(w.Grid1->TextMatrix(r + 1, frmTarvex::ColPlayers), row.players);
            QCOMPARE(w.Grid1->TextMatrix(r + 1, frmTarvex::ColMap), row.map);
            QCOMPARE(w.Grid1->TextMatrix(r + 1, frmTarvex::ColPing), QString());
        }

        // Nothing else: one request, nothing submitted, the settings as they were.
        QCOMPARE(service.listRequests(), 1);
        QVERIFY(service.submissions().isEmpty());
        QCOMPARE(settings.readIni(), ini);
        QCOMPARE(end.count(), 0);
    }

    // The decoding on its own: a page names its UTF-16 by a byte-order mark or by the
    // zero bytes around its first "<"; anything else is UTF-8, or single bytes when it is
    // not valid UTF-8.
    void bodyDecoding_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        const QString html = QStringLiteral("<p>Caf\u00e9 \u03a9</p>");
        QTest::newRow("UTF-8") << html.toUtf8() << html;
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray("\xef\xbb\xbf") + html.toUtf8() << html;
        QTest::newRow("UTF-16LE, mark") << encoded(html, QStringConverter::Utf16LE, true) << html;
        QTest::newRow("UTF-16BE, mark") << encoded(html, QStringConverter::Utf16BE, true) << html;
        QTest::newRow("UTF-16LE, no mark")
            << encoded(html, QStringConverter::Utf16LE, false) << html;
        QTest::newRow("UTF-16BE, no mark")
            << encoded(html, QStringConverter::Utf16BE, false) << html;
        QTest::newRow("Latin-1") << QByteArray("<p>Caf\xe9</p>")
                                 << QStringLiteral("<p>Caf\u00e9</p>");
        QTest::newRow("ASCII with zero bytes, not UTF-16")
            << QByteArray("ab\0cd", 5) << QString::fromLatin1("ab\0cd", 5);
        QTest::newRow("empty") << QByteArray() << QString();
    }
    void bodyDecoding()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QCOMPARE(HttpTransfer::decodeBody(body), text);
    }
};

QTEST_MAIN(ListEncodingTest)
#include "tst_listencoding.moc"
