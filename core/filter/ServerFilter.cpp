#include "core/filter/ServerFilter.h"

#include <QStringList>

namespace tarvex::filter {

bool FilterOptions::operator==(const FilterOptions &other) const
{
    return text == other.text && hideEmpty == other.hideEmpty && hideFull == other.hideFull
        && hideNotAnswered == other.hideNotAnswered && hidePassworded == other.hidePassworded
        && favouritesOnly == other.favouritesOnly && maxGamePing == other.maxGamePing;
}

void prepare(FilterInput &server)
{
    // A line break cannot occur in any of the texts, so no match spans two of them.
    server.folded =
        QStringList{server.name, server.map, server.mod, server.address}.join(u'\n').toLower();
}

bool accepts(const FilterOptions &options, const FilterInput &server)
{
    return ServerFilter(options).accepts(server);
}

ServerFilter::ServerFilter(const FilterOptions &options)
    : m_options(options)
{
    m_options.text = m_options.text.trimmed();
    m_lower = m_options.text.toLower();
}

bool ServerFilter::accepts(const FilterInput &server) const
{
    const FilterOptions &options = m_options;
    if (options.favouritesOnly && !server.favourite)
        return false;
    if (options.hideNotAnswered && !server.answered)
        return false;
    if (options.hidePassworded && server.passworded)
        return false;
    if (options.hideEmpty && server.players <= 0)
        return false;
    if (options.hideFull && server.maxPlayers > 0 && server.players >= server.maxPlayers)
        return false;
    // A server without a measured game ping cannot show it is under the limit.
    if (options.maxGamePing > 0 && (server.gamePing < 0 || server.gamePing > options.maxGamePing))
        return false;

    const QString &text = options.text;
    if (text.isEmpty())
        return true;
    // A text holding the separator of the folded text could match across two fields.
    if (!server.folded.isEmpty() && !m_lower.contains(u'\n'))
        return server.folded.contains(m_lower);
    return server.name.contains(text, Qt::CaseInsensitive)
        || server.map.contains(text, Qt::CaseInsensitive)
        || server.mod.contains(text, Qt::CaseInsensitive)
        || server.address.contains(text, Qt::CaseInsensitive);
}

} // namespace tarvex::filter
