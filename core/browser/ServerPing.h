#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace tarvex {
class IGrid;

// Pinging the servers of the server grid: the rows pinged, the host cut out of each
// address, the result written into the "Ping" column and the progress texts.
namespace ServerPing {

inline const QString ListStatusPrefix = QStringLiteral("Pinging Servers - ");
inline const QString SelectedStatusPrefix = QStringLiteral("Pinging Server - ");
inline const QString FinishedText =
    QStringLiteral("Finished pinging.  Double-click a server to join game.");

// row / rows as a whole percentage with "%" appended ("0%" format); exact halves round
// up (1 of 8 is 12.5 and shows "13%").
QString percentText(int row, int rows);

// What a ping cell shows for a result: the milliseconds as digits, a failure text
// unchanged, nothing for an empty result.
QString resultText(const QVariant &result);

// One ping of many rows at once, all answers awaited together: which row each host came
// from and what its address cell held, and the progress as answers come in any order.
class Run
{
public:
    // Rows 1 to the last row the grid has now (the list ping), or the one server row given
    // (the selected ping; nothing for a row that is no server row).
    static Run list(const IGrid &grid);
    static Run selected(const IGrid &grid, int row);

    // The hosts to ping, in row order: each address cut at its first ":".
    QStringList hosts() const;
    bool isEmpty() const { return m_targets.isEmpty(); }
    bool finished() const { return m_done >= m_targets.size(); }

    // The answer for hosts()[index]: written into its row's "Ping" cell only while that row
    // still holds the address that was pinged (a refresh may have refilled it). Returns the
    // progress text to show: "Pinging Servers - N%" with N = answers so far / Rows, or for
    // the selected ping "Pinging Server - N%" with N = its row / Rows. Empty for an index
    // that is not awaited (out of range, or answered already).
    QString answer(IGrid &grid, int index, const QVariant &result);

private:
    struct Target
    {
        int row;
        QString address;
    };
    QList<Target> m_targets;
    QList<bool> m_answered;
    int m_done = 0;
    bool m_selected = false;
};

} // namespace ServerPing
} // namespace tarvex
