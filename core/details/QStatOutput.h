#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QStringList>

namespace tarvex {

// QStat's raw output and the three parsers that turn it into the details window's
// display. The output is cut into three texts (the server line, the rules line and the
// player lines) which the parsers read.
namespace QStatOutput {

// Separates the fields of QStat's raw output; the details query passes it to QStat.
inline const QString Delimiter = QStringLiteral("^^VRAX^^");

// The text with a CR put before every LF that has none. QStat writes LF line ends on
// Linux; the cut and the parsers work on CR LF lines, so both forms display alike.
QString WithCrLf(const QString &text);

// The three texts of one output and what is left of the output itself.
struct Cut
{
    QString rawData; // the text that follows the first line
    // The server line without its first field (the server type); ends with its CR.
    QString serverLine;
    // The rules line: the LF before it, the line, and its CR.
    QString rulesLine;
    // The player lines: everything after the rules line's CR, starting with its LF.
    QString playerLines;
};

// Cuts rawData (CR LF lines) into the server line, the rules line and the player
// lines. Output without any CR LF is taken as a server line alone; output of one line
// gives empty rules and players.
Cut CutOutput(const QString &rawData);

// Each parser returns what it found and the rest of its text, the part it did not read.
struct ServerFields
{
    QStringList fields;
    QString rest;
};
struct PlayerRows
{
    QList<QStringList> rows;
    QString rest;
};
struct RuleList
{
    QStringList rules;
    QString rest;
};

// The server line's fields, at most columns of them: address, name, map, maximum
// players, players, ping. Fields are trimmed of blanks. An empty field ends the list,
// and the line's last field (after the last delimiter) is not shown.
ServerFields ParseServer(const QString &serverLine, int columns);

// One row per player line, at most columns fields each (name, frags, ping). Fields
// are trimmed of blanks; the last field of a line is shown; an empty field takes the
// rest of the line.
PlayerRows ParsePlayers(const QString &playerLines, int columns);

// Each rule of the rules line, unchanged (blanks kept), the piece after the last
// delimiter included (less the line's CR). An empty piece ends the list.
RuleList ParseRules(const QString &rulesLine);

// One output made CR LF, cut and parsed for grids of the given column counts. texts
// holds the cut texts as the parsers left them (what they did not show).
struct Details
{
    Cut texts;
    QStringList summary;
    QList<QStringList> players;
    QStringList rules;
};
Details Parse(const QString &output, int summaryColumns, int playerColumns);

// Removes leading and trailing space characters only: CR and LF stay, as the line
// ends that the parsers strip themselves rely on.
QStringView trimBlanks(QStringView text);

} // namespace QStatOutput
} // namespace tarvex
