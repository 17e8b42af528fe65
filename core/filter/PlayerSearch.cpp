#include "core/filter/PlayerSearch.h"

namespace tarvex::filter {

PlayerSearch::PlayerSearch(const QString &text)
{
    if (text.startsWith(u'/')) {
        m_isExpression = true;
        m_expression = QRegularExpression(text.mid(1), QRegularExpression::CaseInsensitiveOption);
        if (!m_expression.isValid())
            m_error = QStringLiteral("Invalid regular expression: %1 (at offset %2)")
                          .arg(m_expression.errorString())
                          .arg(m_expression.patternErrorOffset());
        else
            m_expression.optimize();
    } else {
        m_text = text.trimmed();
    }
}

void prepare(SearchServer &server)
{
    server.foldedPlayers.clear();
    server.foldedPlayers.reserve(server.players.size());
    for (const QString &player : server.players)
        server.foldedPlayers.append(player.toLower());
    server.foldedAll = server.foldedPlayers.join(u'\n');
}

bool PlayerSearch::matches(const QString &playerName) const
{
    if (!isValid())
        return false;
    if (m_isExpression)
        return m_expression.match(playerName).hasMatch();
    // An empty text lists nobody: the dialog starts empty, not with every player.
    return !m_text.isEmpty() && playerName.contains(m_text, Qt::CaseInsensitive);
}

QList<PlayerMatch> PlayerSearch::run(const QList<SearchServer> &servers, int limit) const
{
    QList<PlayerMatch> found;
    if (!isValid() || (!m_isExpression && m_text.isEmpty()))
        return found;
    const QString lower = m_text.toLower();
    for (const SearchServer &server : servers) {
        const bool folded = !m_isExpression && server.foldedPlayers.size() == server.players.size();
        // Most servers hold no match: one look at all their names rules them out.
        if (folded && !lower.contains(u'\n') && !server.foldedAll.isEmpty()
            && !server.foldedAll.contains(lower))
            continue;
        for (qsizetype i = 0; i < server.players.size(); ++i) {
            const QString &player = server.players[i];
            if (folded ? !server.foldedPlayers[i].contains(lower) : !matches(player))
                continue;
            found.append({player, server.key, server.name, server.address});
            if (found.size() >= limit)
                return found;
        }
    }
    return found;
}

} // namespace tarvex::filter
