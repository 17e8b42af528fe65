#pragma once

#include <QString>

namespace tarvex {
class IGrid;
class IList;

// QStat's raw output and the three parsers that turn it into the details window's
// display. The output is cut into three texts (the server line, the rules line and the
// player lines) which the parsers read and consume: after a parser ran, its text holds
// what it did not show.
namespace Module2 {

// Separates the fields of QStat's raw output; the details query passes it to QStat.
inline const QString Delimiter = QStringLiteral("^^VRAX^^");

// The whole output as read; after CutOutput, the text that follows the first line.
extern QString RawData;
// The server line without its first field (the server type); ends with the line's CR.
extern QString ServerLine;
// The rules line: the LF before it, the line, and its CR.
extern QString RulesLine;
// The player lines: everything after the rules line's CR, starting with its LF.
extern QString PlayerLines;

// The text with a CR put before every LF that has none. QStat writes LF line ends on
// Linux; the cut and the parsers work on CR LF lines, so both forms display alike.
QString WithCrLf(const QString &text);

// Cuts RawData into ServerLine, RulesLine and PlayerLines. Output without any CR LF is
// taken as a server line alone; output of one line gives empty rules and players.
void CutOutput();

// Writes the server line's fields into row 1 of grid, one column each from column 0:
// address, name, map, maximum players, players, ping. Fields are trimmed of blanks. An
// empty field ends the row, and the line's last field (after the last delimiter) is
// not shown; fields beyond the grid's columns are dropped.
void ParseServer(IGrid &grid);

// Writes one grid row per player line, from row 1 on, and appends a blank row after
// each, so the grid ends with one blank row. Fields (name, frags, ping) are trimmed of
// blanks; the last field of a line is shown; an empty field takes the rest of the line
// into its column. Fields beyond the grid's columns are dropped.
void ParsePlayers(IGrid &grid);

// Appends each rule of the rules line to list, unchanged (blanks kept). The piece after
// the last delimiter is not listed, and an empty piece ends the list.
void ParseRules(IList &list);

} // namespace Module2
} // namespace tarvex
