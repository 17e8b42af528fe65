#include "core/filter/ServerFilter.h"

#include <QStringList>
#include <QStringMatcher>

#include <algorithm>

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

void FilterIndex::clear()
{
    m_folded.clear();
    m_start.clear();
    m_numbers.clear();
}

void FilterIndex::reserve(int servers)
{
    m_folded.reserve(qsizetype(servers) * 64);
    m_start.reserve(size_t(servers) + 1);
    m_numbers.reserve(size_t(servers));
}

void FilterIndex::append(const FilterInput &server)
{
    if (m_start.empty())
        m_start.push_back(0);
    if (server.folded.isEmpty()) {
        FilterInput copy = server;
        prepare(copy);
        m_folded += copy.folded;
    } else {
        m_folded += server.folded;
    }
    m_folded += u'\n';
    m_start.push_back(m_folded.size());
    m_numbers.push_back({server.players, server.maxPlayers, server.gamePing, server.answered,
                         server.passworded, server.favourite});
}

int FilterIndex::apply(const FilterOptions &options, std::vector<char> &accepted) const
{
    const int n = size();
    accepted.assign(size_t(n), 0);
    // The numbers first: one pass over a small array.
    FilterOptions numbersOnly = options;
    numbersOnly.text.clear();
    const ServerFilter byNumbers(numbersOnly);
    for (int i = 0; i < n; ++i) {
        const Numbers &s = m_numbers[size_t(i)];
        FilterInput in;
        in.players = s.players;
        in.maxPlayers = s.maxPlayers;
        in.gamePing = s.gamePing;
        in.answered = s.answered;
        in.passworded = s.passworded;
        in.favourite = s.favourite;
        accepted[size_t(i)] = byNumbers.accepts(in) ? 1 : 0;
    }
    const QString lower = options.text.trimmed().toLower();
    if (!lower.isEmpty()) {
        // Each hit names the server whose text holds it; the search goes on at the next
        // server's text. A text with a line break can match no single field.
        std::vector<char> hit(size_t(n), 0);
        if (!lower.contains(u'\n')) {
            const QStringMatcher matcher(lower, Qt::CaseSensitive);
            qsizetype from = 0;
            while (from < m_folded.size()) {
                const qsizetype at = matcher.indexIn(m_folded, from);
                if (at < 0)
                    break;
                const auto next = std::upper_bound(m_start.begin(), m_start.end(), at);
                hit[size_t(next - m_start.begin() - 1)] = 1;
                from = *next;
            }
        }
        for (int i = 0; i < n; ++i)
            accepted[size_t(i)] &= hit[size_t(i)];
    }
    int count = 0;
    for (char a : accepted)
        count += a;
    return count;
}

} // namespace tarvex::filter
