#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

// The answer a Quake 2 server gives to "status", read into values.
namespace tarvex::status {

// The query itself.
QByteArray statusQuery();

struct Player
{
    int frags = 0;
    int ping = 0;
    QString name; // decoded
};

struct ServerStatus
{
    QList<QPair<QByteArray, QByteArray>> info; // the info string's pairs, as sent
    QList<Player> players;
    bool truncated = false; // the datagram ended inside a line
    QByteArray datagram; // the answer as it came (shared with the caller's, not copied)

    // The decoded value of the first key of that name (keys compare exactly); empty
    // when absent.
    QString value(const char *key) const;
    // "n/max": n is the number of player lines, or the server's own "clients" or
    // "players" count when that is larger (long lists are cut to fit the datagram);
    // max is "maxclients". Empty when the server names no maximum.
    QString playersText() const;

    // What a list shows of an answer, read in one pass over the rules.
    struct Shown
    {
        QString hostname;
        QString map;
        QString playersText; // as playersText()
        int maxClients = -1; // -1: none named, or not a number
    };
    Shown shown() const;
};

// A game text as readable text: the high bit (the coloured form of a glyph) is
// dropped, 0x10/0x11 are the brackets "[" "]", 0x12 to 0x1B the digits 0 to 9, and
// other control bytes become ".".
QString decodeName(QByteArrayView bytes);

// No value when the datagram is not a status answer ("\xff\xff\xff\xffprint\n"). Lines
// before the first one starting with "\" are skipped; player lines that cannot be read
// are skipped too.
std::optional<ServerStatus> parseStatusReply(const QByteArray &datagram);

} // namespace tarvex::status
