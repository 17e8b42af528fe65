#include "core/details/QStatOutput.h"

#include <QStringView>
#include <algorithm>

namespace tarvex::QStatOutput {

namespace {

constexpr qsizetype DelimiterLength = 8;

} // namespace

// Removes leading and trailing space characters only: CR and LF stay, as the line
// ends that the parsers strip themselves rely on.
QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin);
}

QString WithCrLf(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.count(u'\n'));
    QChar previous;
    for (const QChar c : text) {
        if (c == u'\n' && previous != u'\r')
            out += u'\r';
        out += c;
        previous = c;
    }
    return out;
}

Cut CutOutput(const QString &rawData)
{
    static_assert(DelimiterLength == 8, "the delimiter is eight characters long");
    Cut cut;
    // The first line runs through its CR; a text without line break is all first line.
    const qsizetype firstBreak = rawData.indexOf(u"\r\n");
    const qsizetype firstEnd = firstBreak < 0 ? rawData.size() : firstBreak + 1;

    QStringView first = trimBlanks(QStringView(rawData).first(firstEnd));
    // Drop the first field (the server type) with its delimiter. A line without
    // delimiter loses its first seven characters; what is left has no delimiter and so
    // shows nothing.
    const qsizetype q = first.indexOf(Delimiter);
    const qsizetype drop = q < 0 ? DelimiterLength - 1 : q + DelimiterLength;
    cut.serverLine = first.sliced(std::min(drop, first.size())).toString();

    cut.rawData = rawData.mid(firstEnd); // starts with the first line's LF
    const qsizetype secondBreak = cut.rawData.indexOf(u"\r\n");
    if (secondBreak < 0) {
        cut.playerLines = cut.rawData;
        return cut;
    }
    cut.rulesLine = trimBlanks(QStringView(cut.rawData).first(secondBreak + 1)).toString();
    cut.playerLines = cut.rawData.mid(secondBreak + 1); // starts with the rules line's LF
    return cut;
}

// The parsers walk views of their text instead of copying the rest after every field,
// so a long hostile line costs time linear in its length.

ServerFields ParseServer(const QString &serverLine, int columns)
{
    ServerFields found;
    QStringView rest(serverLine);
    for (int col = 0; col < columns; ++col) {
        const qsizetype p = rest.indexOf(Delimiter);
        if (p <= 0) // no delimiter left, or an empty field
            break;
        found.fields.append(trimBlanks(rest.first(p)).toString());
        rest = trimBlanks(rest.sliced(p + DelimiterLength));
    }
    found.rest = rest.toString();
    return found;
}

PlayerRows ParsePlayers(const QString &playerLines, int columns)
{
    PlayerRows found;
    QStringView rest(playerLines);
    for (;;) {
        const qsizetype cr = rest.indexOf(u'\r');
        if (cr < 0)
            break;
        // One line with its CR, less the LF of the line break before it.
        QStringView line = rest.first(cr + 1).sliced(1);
        rest = rest.sliced(cr + 1);
        if (line.isEmpty())
            break;
        QStringList row;
        for (int col = 0; col < columns; ++col) {
            const qsizetype p = line.indexOf(Delimiter);
            if (p <= 0) {
                // The last field, or an empty one taking the rest of the line; either
                // way without the line's CR.
                const QStringView field = line.first(std::max<qsizetype>(line.size() - 1, 0));
                row.append(trimBlanks(field).toString());
                break;
            }
            row.append(trimBlanks(line.first(p)).toString());
            line = trimBlanks(line.sliced(p + DelimiterLength));
        }
        found.rows.append(row);
    }
    found.rest = rest.toString();
    return found;
}

RuleList ParseRules(const QString &rulesLine)
{
    RuleList found;
    QStringView rest(rulesLine);
    if (!rest.isEmpty())
        rest = rest.sliced(1); // the LF of the first line break
    for (;;) {
        const qsizetype p = rest.indexOf(Delimiter);
        if (p == 0) // an empty piece ends the list
            break;
        if (p < 0) {
            // QStat ends the line without a delimiter: the text after the last one is
            // the last rule (often the version or the admin's contact), less the CR.
            QStringView last = rest;
            if (last.endsWith(u'\r'))
                last.chop(1);
            if (!last.isEmpty()) {
                found.rules.append(last.toString());
                rest = rest.sliced(last.size());
            }
            break;
        }
        found.rules.append(rest.first(p).toString());
        rest = rest.sliced(p + DelimiterLength);
    }
    found.rest = rest.toString();
    return found;
}

Details Parse(const QString &output, int summaryColumns, int playerColumns)
{
    Details details;
    details.texts = CutOutput(WithCrLf(output));
    ServerFields server = ParseServer(details.texts.serverLine, summaryColumns);
    details.summary = std::move(server.fields);
    details.texts.serverLine = std::move(server.rest);
    PlayerRows players = ParsePlayers(details.texts.playerLines, playerColumns);
    details.players = std::move(players.rows);
    details.texts.playerLines = std::move(players.rest);
    RuleList rules = ParseRules(details.texts.rulesLine);
    details.rules = std::move(rules.rules);
    details.texts.rulesLine = std::move(rules.rest);
    return details;
}

} // namespace tarvex::QStatOutput
