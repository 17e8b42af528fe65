#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <vector>

// Find Player: every player on every answered server whose name matches the text.
namespace tarvex::filter {

// The servers searched, with their decoded player names.
struct SearchServer
{
    QString key; // the server's address key, sent back when a line is chosen
    QString name; // decoded server name
    QString address;
    QStringList players; // decoded player names
    // The same names lower-cased, in the same order (optional, filled by prepare()):
    // a plain search then compares without folding every name again.
    QStringList foldedPlayers;
    QString foldedAll; // foldedPlayers joined by line breaks: one look per server first
};

void prepare(SearchServer &server);

struct PlayerMatch
{
    QString player;
    QString serverKey;
    QString serverName;
    QString address;
};

class PlayerSearch;

// The servers of one refresh made ready for many searches: every player name in one
// buffer (as written and lower-cased), one line each, so that a search is one scan of
// contiguous text instead of one call per name.
class PlayerIndex
{
public:
    PlayerIndex() = default;
    explicit PlayerIndex(QList<SearchServer> servers);
    const QList<SearchServer> &servers() const { return m_servers; }
    int playerCount() const { return int(m_lineServer.size()); }

private:
    friend class PlayerSearch;
    QList<SearchServer> m_servers;
    QString m_names; // each name followed by a line break
    QString m_folded; // the same, lower-cased
    std::vector<qsizetype> m_lineStart; // where each name starts, and the end
    std::vector<int> m_lineServer; // the server of each name
    bool m_joinable = true; // no name holds a line break and the text is valid UTF-16
};

class PlayerSearch
{
public:
    // The text is matched as a part of the name in any letter case, or as a regular
    // expression (any letter case) when it starts with "/". An invalid expression leaves
    // a message and matches nothing.
    explicit PlayerSearch(const QString &text);

    bool isValid() const { return m_error.isEmpty(); }
    QString errorMessage() const { return m_error; }
    bool matches(const QString &playerName) const;

    QList<PlayerMatch> run(const QList<SearchServer> &servers, int limit = 10000) const;
    QList<PlayerMatch> run(const PlayerIndex &index, int limit = 10000) const;

private:
    // Whether an expression matches a name exactly when it matches somewhere in that
    // name's line of the joined text: true unless it looks at the subject's ends or
    // around a match, or changes the line rules.
    bool joinedSearchIsSound() const;
    void addLine(const PlayerIndex &index, int line, QList<PlayerMatch> &found) const;

    QString m_text;
    QRegularExpression m_expression;
    bool m_isExpression = false;
    QString m_error;
};

} // namespace tarvex::filter
