#include "core/filter/ServerFilter.h"

namespace tarvex::filter {

bool FilterOptions::operator==(const FilterOptions &other) const
{
    return text == other.text && hideEmpty == other.hideEmpty && hideFull == other.hideFull
        && hideNotAnswered == other.hideNotAnswered && hidePassworded == other.hidePassworded
        && favouritesOnly == other.favouritesOnly && maxGamePing == other.maxGamePing;
}

bool accepts(const FilterOptions &options, const FilterInput &server)
{
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

    const QString text = options.text.trimmed();
    if (text.isEmpty())
        return true;
    return server.name.contains(text, Qt::CaseInsensitive)
        || server.map.contains(text, Qt::CaseInsensitive)
        || server.mod.contains(text, Qt::CaseInsensitive)
        || server.address.contains(text, Qt::CaseInsensitive);
}

} // namespace tarvex::filter
