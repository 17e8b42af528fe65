// QStat's raw output through the details window's steps: the line ends made CR LF, the
// cut into server, rules and player lines, and the three parsers, for grids of mostly
// the window's 6 and 3 columns (by the input's length, now and then 1 and 1 or 9 and 5).
//
// Checked for every input:
//  - no row has more fields than its grid has columns;
//  - no cell or rule holds a line break (the players' grid not even a lone CR);
//  - the same output with LF line ends and with CR LF line ends displays alike;
//  - the display equals the one computed here on its own, line by line, from the rules
//    the parsers state (split at the delimiter rather than cut from the front).
// The input is taken byte for byte (as Latin-1), so the fuzzer controls every character.
#include "core/details/QStatOutput.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace tarvex;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

struct Display
{
    QStringList summary; // row 1 of the summary grid
    QList<QStringList> rows; // the players' grid, rows 1 and on
    QStringList rules;
    bool operator==(const Display &o) const
    {
        return summary == o.summary && rows == o.rows && rules == o.rules;
    }
};

// The parsed values in the window's cells: every row padded to its grid's columns, and
// the players' grid ending with a blank row. A row with more fields than its grid has
// columns aborts.
QStringList padded(QStringList fields, int columns)
{
    require(fields.size() <= columns);
    while (fields.size() < columns)
        fields.append(QString());
    return fields;
}

Display shown(const QString &output, int summaryCols, int playerCols)
{
    const QStatOutput::Details details = QStatOutput::Parse(output, summaryCols, playerCols);
    Display d;
    d.summary = padded(details.summary, summaryCols);
    for (const QStringList &player : details.players)
        d.rows.append(padded(player, playerCols));
    d.rows.append(QStringList(playerCols));
    d.rules = details.rules;
    return d;
}

// ---- The display worked out line by line -------------------------------------------

const QString D = QStatOutput::Delimiter;

QString trimBlanks(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == u' ')
        ++b;
    while (e > b && s[e - 1] == u' ')
        --e;
    return s.mid(b, e - b);
}

QString trimLeadingBlanks(const QString &s)
{
    qsizetype b = 0;
    while (b < s.size() && s[b] == u' ')
        ++b;
    return s.mid(b);
}

Display expected(const QString &output, int summaryCols, int playerCols)
{
    // Make every line end CR LF (a lone LF gains its CR; a lone CR stays as it is).
    QString text;
    for (qsizetype i = 0; i < output.size(); ++i) {
        if (output[i] == u'\n' && (i == 0 || output[i - 1] != u'\r'))
            text += u'\r';
        text += output[i];
    }
    const QStringList lines = text.split(QStringLiteral("\r\n"));

    Display d;
    d.summary = QStringList(summaryCols);
    d.rows.append(QStringList(playerCols));

    // The server line runs through its CR (or is the whole text when it has no line
    // break); the server type goes with the first delimiter, or with the first seven
    // characters when there is none.
    QString server = lines.size() == 1 ? trimBlanks(lines[0]) : trimLeadingBlanks(lines[0] + u'\r');
    const qsizetype q = server.indexOf(D);
    server = server.mid(q < 0 ? 7 : q + D.size());
    // Fields are the pieces between delimiters; the piece after the last is never shown,
    // and a field that is empty (after the blanks that follow a delimiter) ends the row.
    const QStringList fields = server.split(D);
    for (int col = 0; col < summaryCols && col + 1 < fields.size(); ++col) {
        const QString field = col == 0 ? fields[col] : trimLeadingBlanks(fields[col]);
        if (field.isEmpty())
            break;
        d.summary[col] = trimBlanks(field);
    }
    if (lines.size() < 2)
        return d;

    // The rules line is the second line; its pieces are listed as they are, up to the
    // first empty one; the last piece (after the last delimiter) is listed too, less the
    // CR that ends the line.
    if (lines.size() >= 3) {
        const QStringList rules = (lines[1] + u'\r').split(D);
        for (qsizetype i = 0; i < rules.size(); ++i) {
            QString piece = rules[i];
            if (i + 1 == rules.size() && piece.endsWith(u'\r'))
                piece.chop(1);
            if (piece.isEmpty())
                break;
            d.rules << piece;
        }
    }

    // Player lines: everything after the rules line's CR, cut at every CR. Each piece
    // but the last is a line, less its first character (the LF of the line break); an
    // empty line is a blank row, and only a CR right after a CR ends the list.
    const QString players = lines.size() == 2
        ? u'\n' + lines[1]
        : u'\n' + QStringList(lines.mid(2)).join(QStringLiteral("\r\n"));
    const QStringList pieces = players.split(u'\r');
    for (qsizetype p = 0; p + 1 < pieces.size(); ++p) {
        if (pieces[p].isEmpty())
            break;
        const QString line = pieces[p].mid(1);
        QStringList &row = d.rows.last();
        const QStringList parts = line.split(D);
        for (int col = 0; col < playerCols; ++col) {
            const QString part = col == 0 ? parts[col] : trimLeadingBlanks(parts[col]);
            if (col + 1 == parts.size()) { // the last field
                row[col] = trimBlanks(part);
                break;
            }
            if (part.isEmpty()) { // an empty field takes the rest of the line
                row[col] = trimBlanks(QStringList(parts.mid(col)).join(D));
                break;
            }
            row[col] = trimBlanks(part);
        }
        d.rows.append(QStringList(playerCols));
    }
    return d;
}

void checkBreaks(const Display &d)
{
    for (const QString &cell : d.summary)
        require(!cell.contains(u'\n'));
    for (const QString &rule : d.rules)
        require(!rule.contains(u'\n'));
    for (const QStringList &row : d.rows) {
        for (const QString &cell : row)
            require(!cell.contains(u'\n') && !cell.contains(u'\r'));
    }
    // The players' grid ends with its one blank row.
    for (const QString &cell : d.rows.last())
        require(cell.isEmpty());
}

void check(const QString &output, int summaryCols, int playerCols)
{
    const Display got = shown(output, summaryCols, playerCols);
    checkBreaks(got);
    require(got == expected(output, summaryCols, playerCols));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString output =
        QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    // Mostly the details window's grids; narrower and wider ones now and then.
    switch (size % 4) {
    case 2: check(output, 1, 1); break;
    case 3: check(output, 9, 5); break;
    default: check(output, 6, 3); break;
    }

    // QStat's LF line ends and the same lines ended CR LF display alike. The LF form
    // drops every CR that only CRs separate from the LF after it.
    QString lf;
    bool beforeLf = false;
    for (qsizetype i = output.size() - 1; i >= 0; --i) {
        if (output[i] == u'\r' && beforeLf)
            continue;
        beforeLf = output[i] == u'\n';
        lf += output[i];
    }
    std::reverse(lf.begin(), lf.end());
    QString crlf = lf;
    crlf.replace(u'\n', QStringLiteral("\r\n"));
    require(shown(lf, 6, 3) == shown(crlf, 6, 3));
    return 0;
}
