#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

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

private:
    QString m_text;
    QRegularExpression m_expression;
    bool m_isExpression = false;
    QString m_error;
};

} // namespace tarvex::filter
