#include "core/details/Module2.h"

#include "core/grid/Grid.h"
#include "core/grid/List.h"

#include <QStringView>
#include <algorithm>

namespace tarvex::Module2 {

QString RawData;
QString ServerLine;
QString RulesLine;
QString PlayerLines;

namespace {

constexpr qsizetype DelimiterLength = 8;

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

} // namespace

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

void CutOutput()
{
    static_assert(DelimiterLength == 8, "the delimiter is eight characters long");
    // The first line runs through its CR; a text without line break is all first line.
    const qsizetype firstBreak = RawData.indexOf(u"\r\n");
    const qsizetype firstEnd = firstBreak < 0 ? RawData.size() : firstBreak + 1;

    QStringView first = trimBlanks(QStringView(RawData).first(firstEnd));
    // Drop the first field (the server type) with its delimiter. A line without
    // delimiter loses its first seven characters; what is left has no delimiter and so
    // shows nothing.
    const qsizetype q = first.indexOf(Delimiter);
    const qsizetype drop = q < 0 ? DelimiterLength - 1 : q + DelimiterLength;
    ServerLine = first.sliced(std::min(drop, first.size())).toString();

    RawData = RawData.mid(firstEnd); // starts with the first line's LF
    const qsizetype secondBreak = RawData.indexOf(u"\r\n");
    if (secondBreak < 0) {
        RulesLine.clear();
        PlayerLines = RawData;
        return;
    }
    RulesLine = trimBlanks(QStringView(RawData).first(secondBreak + 1)).toString();
    PlayerLines = RawData.mid(secondBreak + 1); // starts with the rules line's LF
}

// The parsers walk views of their text instead of copying the rest after every field,
// so a long hostile line costs time linear in its length.

void ParseServer(IGrid &grid)
{
    QStringView rest(ServerLine);
    for (int col = 0; col < grid.Cols(); ++col) {
        const qsizetype p = rest.indexOf(Delimiter);
        if (p <= 0) // no delimiter left, or an empty field
            break;
        grid.setTextMatrix(1, col, trimBlanks(rest.first(p)).toString());
        rest = trimBlanks(rest.sliced(p + DelimiterLength));
    }
    ServerLine = rest.toString();
}

void ParsePlayers(IGrid &grid)
{
    GridBatch batch(grid);
    QStringView rest(PlayerLines);
    int row = 1;
    for (;;) {
        const qsizetype cr = rest.indexOf(u'\r');
        if (cr < 0)
            break;
        // One line with its CR, less the LF of the line break before it.
        QStringView line = rest.first(cr + 1).sliced(1);
        rest = rest.sliced(cr + 1);
        if (line.isEmpty())
            break;
        for (int col = 0; col < grid.Cols(); ++col) {
            const qsizetype p = line.indexOf(Delimiter);
            if (p <= 0) {
                // The last field, or an empty one taking the rest of the line; either
                // way without the line's CR.
                const QStringView field = line.first(std::max<qsizetype>(line.size() - 1, 0));
                grid.setTextMatrix(row, col, trimBlanks(field).toString());
                break;
            }
            grid.setTextMatrix(row, col, trimBlanks(line.first(p)).toString());
            line = trimBlanks(line.sliced(p + DelimiterLength));
        }
        grid.AddItem(QString());
        ++row;
    }
    PlayerLines = rest.toString();
}

void ParseRules(IList &list)
{
    QStringView rest(RulesLine);
    if (!rest.isEmpty())
        rest = rest.sliced(1); // the LF of the first line break
    for (;;) {
        const qsizetype p = rest.indexOf(Delimiter);
        if (p <= 0)
            break;
        list.AddItem(rest.first(p).toString());
        rest = rest.sliced(p + DelimiterLength);
    }
    RulesLine = rest.toString();
}

} // namespace tarvex::Module2
