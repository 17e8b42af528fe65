// The cut of QStat's output and the three parsers, in the cells the details window shows.
#include "core/details/QStatOutput.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

using namespace tarvex;

using Rows = QList<QStringList>;

namespace {

struct Shown
{
    QStringList summary; // Grid1 row 1
    Rows players; // Grid2 rows 1 and on
    QStringList rules; // List1
};

const QStringList Blank{QString(), QString(), QString()};

QStringList padded(QStringList fields, int columns)
{
    while (fields.size() < columns)
        fields.append(QString());
    return fields;
}

// The cells the window shows: the summary row, the player rows and the blank row
// after them.
Shown parse(const QString &output)
{
    const QStatOutput::Details details = QStatOutput::Parse(output, 6, 3);
    Shown d;
    d.summary = padded(details.summary, 6);
    for (const QStringList &player : details.players)
        d.players.append(padded(player, 3));
    d.players.append(Blank);
    d.rules = details.rules;
    return d;
}
const QString WorkedServer =
    QStringLiteral("T^^VRAX^^10.0.0.5:27910^^VRAX^^Test "
                   "Server^^VRAX^^base1^^VRAX^^16^^VRAX^^2^^VRAX^^45^^VRAX^^0\r\n");
const QStringList WorkedSummary{"10.0.0.5:27910", "Test Server", "base1", "16", "2", "45"};
const QString WorkedRules = QStringLiteral("first rule^^VRAX^^second rule^^VRAX^^third rule\r\n");
const QString WorkedPlayers =
    QStringLiteral("alpha^^VRAX^^12^^VRAX^^50\r\nbeta ^^VRAX^^3^^VRAX^^120\r\n");

} // namespace

class QStatOutputTest : public QObject
{
    Q_OBJECT

private slots:
    // Every case runs twice: with CR LF line ends and with QStat's LF ends on Linux.
    void display_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("summary");
        QTest::addColumn<Rows>("players");
        QTest::addColumn<QStringList>("rules");

        const QStringList none(6);
        // The last rule, after the last delimiter, is listed too.
        const QStringList rules3{"first rule", "second rule", "third rule"};
        const Rows twoPlayers{{"alpha", "12", "50"}, {"beta", "3", "120"}, Blank};

        struct Case
        {
            const char *name;
            QString output;
            QStringList summary;
            Rows players;
            QStringList rules;
        };
        const QList<Case> cases = {
            {"worked example",
             QString::fromLatin1(test::testData("details/worked-example-crlf.txt")), WorkedSummary,
             twoPlayers, rules3},
            {"trailing empty line", WorkedServer + WorkedRules + WorkedPlayers + "\r\n",
             WorkedSummary, twoPlayers + Rows{Blank}, rules3},
            {"no players", WorkedServer + WorkedRules, WorkedSummary, {Blank}, rules3},
            {"two-field player line",
             WorkedServer + WorkedRules + "alpha^^VRAX^^12\r\n",
             WorkedSummary,
             {{"alpha", "12", ""}, Blank},
             rules3},
            {"empty name field",
             "T^^VRAX^^10.0.0.5:27910^^VRAX^^^^VRAX^^base1^^VRAX^^16^^VRAX^^2^^VRAX^^45^^VRAX^^"
             "0\r\n"
                 + WorkedRules,
             {"10.0.0.5:27910", "", "", "", "", ""},
             {Blank},
             rules3},
            {"rules line without delimiter",
             WorkedServer + "just one rule\r\n" + WorkedPlayers,
             WorkedSummary,
             twoPlayers,
             {"just one rule"}},
            {"blanks kept in rules, trimmed elsewhere",
             "T^^VRAX^^ 10.0.0.5:27910 ^^VRAX^^  Spaced Name  "
             "^^VRAX^^base1^^VRAX^^16^^VRAX^^2^^VRAX^^45^^VRAX^^0\r\n"
             "  padded rule ^^VRAX^^x\r\n"
             "  gamma  ^^VRAX^^ 7 ^^VRAX^^ 80 \r\n",
             WorkedSummary.mid(0, 1) + QStringList{"Spaced Name", "base1", "16", "2", "45"},
             {{"gamma", "7", "80"}, Blank},
             {"  padded rule ", "x"}},
            {"empty player field takes the rest of the line",
             WorkedServer + WorkedRules + "^^VRAX^^12^^VRAX^^50\r\n",
             WorkedSummary,
             {{"^^VRAX^^12^^VRAX^^50", "", ""}, Blank},
             rules3},
            {"empty player line in between",
             WorkedServer + WorkedRules
                 + "alpha^^VRAX^^12^^VRAX^^50\r\n\r\nbeta^^VRAX^^3^^VRAX^^120\r\n",
             WorkedSummary,
             {{"alpha", "12", "50"}, Blank, {"beta", "3", "120"}, Blank},
             rules3},
            {"empty rule ends the list",
             WorkedServer + "a^^VRAX^^^^VRAX^^b^^VRAX^^c\r\n",
             WorkedSummary,
             {Blank},
             {"a"}},
            {"rules line starting with a delimiter",
             WorkedServer + "^^VRAX^^a^^VRAX^^b\r\n",
             WorkedSummary,
             {Blank},
             {}},
            {"extra fields dropped",
             WorkedServer.chopped(2) + "^^VRAX^^x^^VRAX^^y^^VRAX^^z\r\n" + WorkedRules
                 + "alpha^^VRAX^^12^^VRAX^^50^^VRAX^^9^^VRAX^^8\r\n",
             WorkedSummary,
             {{"alpha", "12", "50"}, Blank},
             rules3},
            {"server line alone", WorkedServer, WorkedSummary, {Blank}, {}},
            {"no line break at all", WorkedServer.chopped(2), WorkedSummary, {Blank}, {}},
            {"truncated inside the server line",
             "T^^VRAX^^10.0.0.5:27910^^VRAX^^Test Se",
             {"10.0.0.5:27910", "", "", "", "", ""},
             {Blank},
             {}},
            {"first line without delimiter",
             "garbage\r\nrule one^^VRAX^^rule two\r\nalpha^^VRAX^^1^^VRAX^^2\r\n",
             none,
             {{"alpha", "1", "2"}, Blank},
             {"rule one", "rule two"}},
            {"short first line without delimiter", "ab\r\n", none, {Blank}, {}},
            {"empty output", "", none, {Blank}, {}},
            {"line breaks only", "\r\n\r\n\r\n", none, {Blank, Blank}, {}},
            {"QStat's DOWN line",
             "Q2S^^VRAX^^10.0.0.5:27910^^VRAX^^DOWN\r\n",
             {"10.0.0.5:27910", "", "", "", "", ""},
             {Blank},
             {}},
        };
        for (const Case &c : cases) {
            QTest::addRow("%s / CR LF", c.name) << c.output << c.summary << c.players << c.rules;
            QString lf = c.output;
            lf.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            QTest::addRow("%s / LF", c.name) << lf << c.summary << c.players << c.rules;
        }
    }

    void display()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, summary);
        QFETCH(Rows, players);
        QFETCH(QStringList, rules);
        const Shown d = parse(output);
        QCOMPARE(d.summary, summary);
        QCOMPARE(d.players, players);
        QCOMPARE(d.rules, rules);
    }

    void cutLeavesTheLineBreakLeftovers()
    {
        const QStatOutput::Cut cut = QStatOutput::CutOutput(
            QString::fromLatin1(test::testData("details/worked-example-crlf.txt")));
        QCOMPARE(cut.serverLine,
                 QStringLiteral("10.0.0.5:27910^^VRAX^^Test Server^^VRAX^^base1^^VRAX^^16"
                                "^^VRAX^^2^^VRAX^^45^^VRAX^^0\r"));
        QCOMPARE(cut.rulesLine, QStringLiteral("\n") + WorkedRules.chopped(1));
        QCOMPARE(cut.playerLines, QStringLiteral("\n") + WorkedPlayers);
    }

    void withCrLf_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("LF") << "a\nb\n"
                            << "a\r\nb\r\n";
        QTest::newRow("CR LF kept") << "a\r\nb\r\n"
                                    << "a\r\nb\r\n";
        QTest::newRow("mixed") << "a\r\nb\nc"
                               << "a\r\nb\r\nc";
        QTest::newRow("leading LF and empty lines") << "\n\n"
                                                    << "\r\n\r\n";
        QTest::newRow("lone CR untouched") << "a\rb"
                                           << "a\rb";
    }
    void withCrLf()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(QStatOutput::WithCrLf(text), expected);
    }

    // Random mixtures of delimiters, fragments and line breaks: the parsers stay inside
    // their grids and never leave a line break in a player cell.
    void arbitraryOutputStaysInBounds()
    {
        const QStringList pieces{"^^VRAX^^", "^^VRAX", "\r", "\n", "\r\n", " ",
                                 "a",        "12",     "",   "^",  "VRAX", "\t"};
        QRandomGenerator rng(6);
        for (int round = 0; round < 3000; ++round) {
            QString output;
            const int n = rng.bounded(60);
            for (int i = 0; i < n; ++i)
                output += pieces[rng.bounded(int(pieces.size()))];
            const QStatOutput::Details details = QStatOutput::Parse(output, 6, 3);
            QVERIFY(details.summary.size() <= 6);
            for (const QStringList &player : details.players) {
                QVERIFY(player.size() <= 3);
                for (const QString &cell : player)
                    QVERIFY2(!cell.contains(u'\r') && !cell.contains(u'\n'), qPrintable(output));
            }
        }
    }

    // A hostile server can fill the whole 1 MiB that is read: the parse must stay
    // linear, not copy the rest of a line after every field.
    void largeOutputParsesInLinearTime_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("players");
        QTest::addColumn<int>("rules");
        const int count = (1 << 20) / 10;
        QTest::newRow("server line of fields") << QStringLiteral("T^^VRAX^^").repeated(count) + "\n"
                                               << 0 << 0;
        QTest::newRow("one long player line")
            << WorkedServer + WorkedRules + QStringLiteral("a^^VRAX^^").repeated(count) + "\n"
            << 1 << 3;
        QTest::newRow("many rules") << WorkedServer + QStringLiteral("r^^VRAX^^").repeated(count)
                + "\n" << 0 << count;
        QTest::newRow("many player lines") << WorkedServer + WorkedRules
                + QStringLiteral("p^^VRAX^^1^^VRAX^^2\n").repeated(count / 2)
                                           << count / 2 << 3;
    }
    void largeOutputParsesInLinearTime()
    {
        QFETCH(QString, output);
        QFETCH(int, players);
        QFETCH(int, rules);
        QElapsedTimer clock;
        clock.start();
        const Shown d = parse(output);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(d.players.size(), players + 1);
        QCOMPARE(d.rules.size(), rules);
    }
};

QTEST_GUILESS_MAIN(QStatOutputTest)
#include "tst_qstatoutput.moc"
