#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

namespace tarvex {
class IGrid;

// Pinging the servers of the server grid: the walk over the rows, the host cut out of
// each address, the result written into the "Ping" column and the progress texts.
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

// How the walk reaches the world outside the grid.
struct Hooks
{
    // Pings host; no value when the ping itself failed (the control is missing or
    // the call could not be made), so the row's cell keeps what it had.
    std::function<std::optional<QVariant>(const QString &host)> send;
    // Shows a progress text in the status line.
    std::function<void(const QString &text)> status;
    // Lets pending window events run; false when the program is ending and nothing
    // more may run.
    std::function<bool()> pump;
};

// Pings rows 1 to the last row that the grid has when the walk starts, in order. A
// step that fails (a row that has gone since, a failed ping) is skipped and the walk
// goes on; it ends with the finish text unless the program ends meanwhile. Returns
// false when it stopped because the program is ending.
bool pingList(IGrid &grid, const Hooks &hooks);

// Pings the one row given, with the singular progress text. A row that is not a
// server row pings nothing.
bool pingRow(IGrid &grid, int row, const Hooks &hooks);

} // namespace ServerPing
} // namespace tarvex
