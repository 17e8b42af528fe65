#pragma once

#include "core/model/ServerKey.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace tarvex::status {
struct ServerStatus;
}

namespace tarvex::model {

// How long ago `then` was (seconds since the epoch), as a "Last Seen" cell says it:
// "just now", "12 min ago", "3 h ago", "2 d ago".
QString agoText(qint64 then, qint64 now);

// Where a server stands with the status query.
enum class ServerState { NotAsked, Asking, Answered, NoAnswer, Down };

// The texts a list gave for a server, as the list showed them (the web page gives all
// four; the other sources give the address only).
struct ListedTexts
{
    QString name;
    QString address;
    QString players;
    QString map;
    bool fromPage = false; // a page row keeps the page's name after an answer
};

struct PlayerInfo
{
    QString name;
    int frags = 0;
    int ping = 0;
};

using Rule = QPair<QByteArray, QByteArray>;

// Everything the browser has learnt about one server. The last answer's players and
// rules are kept as the answer came (one byte array, shared with the datagram read) and
// read from it when asked for, so that taking an answer costs no more than the texts the
// grid shows; players and rules set one by one are kept packed (one text and one byte
// array). Either way a list of 65,536 full servers stays small.
class ServerRecord
{
public:
    ServerKey key;
    QStringList sources; // the sources that listed it, in the order they did
    ListedTexts listed;

    ServerState state = ServerState::NotAsked;
    // The last status answer.
    QString hostname;
    QString map;
    int maxClients = -1; // -1: the server named no maximum
    QString playersText; // "n/max" as the answer gives it
    int queryRttMs = -1; // round trip of the last answered status query
    qint64 answeredAtMs = 0; // when it last answered (ms since the epoch), 0: never

    // What the cells show, in the forms the view sorts by: the player count and maximum
    // (-1: none), the name and map folded to one case.
    int shownPlayers = -1;
    int shownMax = -1;
    QString foldedName;
    QString foldedMap;
    bool foldedStale = true; // the folded texts wait for the next sort that needs them

    // What the last answer's rules say of the game: the mod ("gamedir", "baseq2" when
    // empty), the game type and the password mark; empty and false before an answer.
    QString mod;
    QString gameType;
    bool passworded = false;
    QString country; // two lower-case letters, empty when unknown
    bool favourite = false; // one of the user's favourites
    bool buddy = false; // one of the user's buddies is playing there
    // From the server history: when it last answered (seconds since the epoch, 0:
    // unknown) and the most players seen on it today (-1: none).
    qint64 lastSeenSecs = 0;
    int peakToday = -1;

    // The ICMP ping: milliseconds, or the failure text, or neither (not pinged).
    int pingMs = -1;
    QString pingError;

    QList<PlayerInfo> players() const;
    int playerCount() const
    {
        return m_answer.isEmpty() ? int(m_playerScores.size()) : m_answerPlayers;
    }
    QList<Rule> rules() const;
    void setPlayers(const QList<PlayerInfo> &players);
    void setRules(const QList<Rule> &rules);
    // Takes hostname, map, maxclients, players and rules from an answer.
    void takeAnswer(const status::ServerStatus &answer);

    bool answered() const { return state == ServerState::Answered; }
    // No answer to the last query: the server is left after the others when sorting.
    bool silent() const { return state == ServerState::NoAnswer || state == ServerState::Down; }
    bool pinged() const { return pingMs >= 0 || !pingError.isEmpty(); }

private:
    void unpackAnswer(); // the answer's players and rules, packed

    QByteArray m_answer; // the last status answer, when it came as a datagram
    int m_answerPlayers = 0;
    QString m_playerNames; // names, each followed by a NUL
    QList<QPair<qint32, qint32>> m_playerScores; // frags, ping
    QByteArray m_rules; // key NUL value NUL, in the order sent
};

} // namespace tarvex::model

// Every member is an implicitly shared Qt container or a plain value, so a list of
// records grows by moving bytes rather than by copying each record.
Q_DECLARE_TYPEINFO(tarvex::model::ServerKey, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(tarvex::model::ServerRecord, Q_RELOCATABLE_TYPE);
