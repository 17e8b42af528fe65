#pragma once

#include <QString>

namespace tarvex {
class IGrid;

namespace ServerList {

inline const QString ListPath = QStringLiteral("/q2servers");
inline const QString PlaceholderText = QStringLiteral("END LIST!");

// A page shorter than this is taken for a failed fetch.
constexpr int MinimumPageLength = 200;

// The most server rows taken from one page. A page without row ends is cut into a row
// per four characters; far more rows than any real list holds are read as a broken page.
constexpr int MaxRows = 50'000;

struct ParseOutcome
{
    int rows = 0; // server rows written
    bool cut = false; // the page held more than maxRows rows; the rest was not read
};

// The message shown when the list cannot be had; error is the transfer's description
// of the failure (empty when the page came but was too short).
QString failureMessage(const QString &error);

// Cuts the server rows out of a fetched page and writes the first four cells of each
// into grid rows 1, 2, ... (name, address, players, map), in page order. The page is
// at least MinimumPageLength characters long. The rules are the list format's:
// everything from 63 characters before the first "Notes" (any case) on is ignored;
// everything up to the "</tr>" that ends the header row (the row holding "retries")
// is skipped; then each row runs to its "</tr>", and each of its first four cells
// starts two characters after an "arial" and ends before a "</font>" (any case).
// A cut that cannot be made leaves its target as it was. Stops after maxRows rows.
// Runs in time linear in the page's length.
ParseOutcome parsePage(const QString &page, IGrid &grid, int maxRows = MaxRows);

} // namespace ServerList
} // namespace tarvex
