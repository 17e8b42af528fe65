#include "support/ReferenceParser.h"

#include "core/grid/Grid.h"

namespace tarvex::test {

namespace {

// 1-based position of the first occurrence of marker at or after 1-based start, or 0.
qsizetype inStr(qsizetype start, const QString &text, const QString &marker, Qt::CaseSensitivity cs)
{
    const qsizetype at = text.indexOf(marker, start - 1, cs);
    return at < 0 ? 0 : at + 1;
}

// Keep the first n characters; false (text unchanged) when n < 0.
bool left(QString &text, qsizetype n)
{
    if (n < 0)
        return false;
    text = text.left(n);
    return true;
}

// Drop the first n characters; false (text unchanged) when n > length.
bool dropFirst(QString &text, qsizetype n)
{
    if (n > text.size())
        return false;
    if (n > 0)
        text = text.right(text.size() - n);
    return true;
}

} // namespace

void referenceParsePage(const QString &pageIn, IGrid &grid)
{
    QString page = pageIn;
    QString rowText;
    QString cellText;
    int rowCounter = 1;

    left(page, inStr(1, page, QStringLiteral("Notes"), Qt::CaseInsensitive) - 63);

    const qsizetype r = inStr(1, page, QStringLiteral("retries"), Qt::CaseInsensitive);
    qsizetype e = 0;
    if (r >= 1) // a search from position 0 fails and leaves e as it was
        e = inStr(r, page, QStringLiteral("</tr>"), Qt::CaseSensitive);
    e += 4;
    dropFirst(page, e);

    while (page.size() > 50) {
        const qsizetype t = inStr(1, page, QStringLiteral("</tr>"), Qt::CaseSensitive) + 4;
        rowText = page.left(t);
        dropFirst(page, t);
        for (int col = 0; col <= 3; ++col) {
            const qsizetype v = inStr(1, rowText, QStringLiteral("arial"), Qt::CaseInsensitive) + 6;
            dropFirst(rowText, v);
            const qsizetype a =
                inStr(1, rowText, QStringLiteral("</font>"), Qt::CaseInsensitive) - 1;
            QString cut = rowText;
            if (left(cut, a))
                cellText = cut;
            grid.setTextMatrix(rowCounter, col, cellText);
            dropFirst(rowText, a);
        }
        grid.AddItem(QStringLiteral("END LIST!"));
        ++rowCounter;
    }
    if (grid.Rows() > 2)
        grid.RemoveItem(grid.Rows() - 1);
}

} // namespace tarvex::test
