#include "core/browser/ServerListParser.h"

#include "core/grid/Grid.h"

#include <QStringView>

#include <algorithm>

namespace tarvex::ServerList {

namespace {

const QLatin1StringView NotesMarker("Notes");
const QLatin1StringView RetriesMarker("retries");
const QLatin1StringView RowEnd("</tr>");
const QLatin1StringView CellMarker("arial");
const QLatin1StringView CellEnd("</font>");

// Position of the first case-insensitive occurrence of an ASCII marker in text, or -1:
// the same matches as QStringView::indexOf with Qt::CaseInsensitive (letters compare
// by their case folding, so a non-ASCII letter that folds to an ASCII one matches too),
// without the copy of the marker and the folding of every character that it makes.
qsizetype indexOfFolded(QStringView text, QLatin1StringView marker)
{
    const qsizetype n = marker.size();
    if (n == 0)
        return 0;
    const auto fold = [](char16_t c) -> char16_t {
        if (c < 0x80)
            return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
        return QChar::toCaseFolded(c);
    };
    char16_t folded[16];
    if (n > 16)
        return text.indexOf(marker, 0, Qt::CaseInsensitive);
    for (qsizetype i = 0; i < n; ++i)
        folded[i] = fold(marker[i].unicode());
    const char16_t first = folded[0];
    const char16_t firstUpper = (first >= u'a' && first <= u'z') ? char16_t(first - 32) : first;
    const char16_t *p = text.utf16();
    const qsizetype last = text.size() - n;
    for (qsizetype at = 0; at <= last; ++at) {
        const char16_t c = p[at];
        if (c != first && c != firstUpper && (c < 0x80 || fold(c) != first))
            continue;
        qsizetype i = 1;
        while (i < n && fold(p[at + i]) == folded[i])
            ++i;
        if (i == n)
            return at;
    }
    return -1;
}

// Position of the first exact occurrence of an ASCII marker in text at or after from,
// or -1.
qsizetype indexOfExact(QStringView text, QLatin1StringView marker, qsizetype from = 0)
{
    const qsizetype n = marker.size();
    const char16_t *p = text.utf16();
    const char16_t first = marker[0].unicode();
    const qsizetype last = text.size() - n;
    for (qsizetype at = std::max<qsizetype>(from, 0); at <= last; ++at) {
        if (p[at] != first)
            continue;
        qsizetype i = 1;
        while (i < n && p[at + i] == marker[i].unicode())
            ++i;
        if (i == n)
            return at;
    }
    return -1;
}

// The page is one text that shrinks from the front as rows are cut off. Rather than
// copying what remains after every cut, the remaining text is kept as the range
// [begin, end) of the original, and every search runs over that range only.
struct Range
{
    QStringView text; // the whole page
    qsizetype begin;
    qsizetype end;

    qsizetype length() const { return end - begin; }
    QStringView view() const { return text.sliced(begin, end - begin); }

    // 1-based position of the first occurrence of marker, or 0.
    qsizetype find(QLatin1StringView marker, Qt::CaseSensitivity cs) const
    {
        const qsizetype at = cs == Qt::CaseInsensitive ? indexOfFolded(view(), marker)
                                                       : indexOfExact(view(), marker);
        return at < 0 ? 0 : at + 1;
    }

    // Keep the first n characters: fails (no change) when n < 0.
    bool keepFirst(qsizetype n)
    {
        if (n < 0)
            return false;
        if (n < length())
            end = begin + n;
        return true;
    }

    // Drop the first n characters: no change when n <= 0, fails when n > length.
    bool dropFirst(qsizetype n)
    {
        if (n > length())
            return false;
        if (n > 0)
            begin += n;
        return true;
    }
};

} // namespace

QString failureMessage(const QString &error)
{
    return QStringLiteral("Unable to connect to main server database.  ") + error
        + QStringLiteral("  Try again by pressing the REFRESH LIST button.");
}

ParseOutcome parsePage(const QString &pageText, IGrid &grid, int maxRows)
{
    ParseOutcome outcome;
    GridBatch batch(grid);
    Range page{QStringView(pageText), 0, pageText.size()};
    int rowCounter = 1;

    // The tail: from 63 characters before the first "Notes" on. When "Notes" is
    // missing or stands too near the start, the page stays whole.
    page.keepFirst(page.find(NotesMarker, Qt::CaseInsensitive) - 63);

    // The head: up to and including the "</tr>" that closes the header row. When the
    // header or its "</tr>" is missing, only the first four characters go.
    {
        const qsizetype retries = page.find(RetriesMarker, Qt::CaseInsensitive);
        qsizetype headerEnd = 0;
        if (retries > 0) {
            const qsizetype at = indexOfExact(page.view(), RowEnd, retries - 1);
            headerEnd = at < 0 ? 0 : at + 1;
        }
        page.dropFirst(headerEnd + 4);
    }

    // Position (in the whole page) of the next "</tr>" at or after page.begin, found
    // once and reused until the rows pass it, so that a page without one is not
    // searched again for every four characters it loses.
    const QStringView remaining = QStringView(pageText).first(page.end);
    qsizetype nextRowEnd = indexOfExact(remaining, RowEnd, page.begin);

    QString cellText; // keeps its value from one cell to the next
    while (page.length() > 50) {
        if (outcome.rows >= maxRows) {
            outcome.cut = true;
            break;
        }
        if (nextRowEnd >= 0 && nextRowEnd < page.begin)
            nextRowEnd = indexOfExact(remaining, RowEnd, page.begin);
        const qsizetype rowLength = (nextRowEnd < 0 ? 0 : nextRowEnd - page.begin + 1) + 4;
        Range row{page.text, page.begin, page.begin + rowLength};
        page.dropFirst(rowLength);

        for (int col = 0; col <= 3; ++col) {
            row.dropFirst(row.find(CellMarker, Qt::CaseInsensitive) + 6);
            const qsizetype cellLength = row.find(CellEnd, Qt::CaseInsensitive) - 1;
            if (cellLength >= 0)
                cellText = row.view().first(cellLength).toString();
            grid.setTextMatrix(rowCounter, col, cellText);
            row.dropFirst(cellLength);
        }
        grid.AddItem(PlaceholderText);
        ++rowCounter;
        ++outcome.rows;
    }

    // The placeholder after the last server row goes; a grid that received no server
    // keeps its title row and one empty data row.
    if (grid.Rows() > 2)
        grid.RemoveItem(grid.Rows() - 1);
    return outcome;
}

} // namespace tarvex::ServerList
