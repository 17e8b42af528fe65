#include "core/filter/BuddyWatch.h"

namespace tarvex::filter {

void BuddyWatch::setBuddies(const QStringList &names)
{
    m_names.clear();
    m_byFolded.clear();
    for (const QString &name : names) {
        const QString key = folded(name);
        if (key.isEmpty() || m_byFolded.contains(key))
            continue;
        m_byFolded.insert(key, name.trimmed());
        m_names.append(name.trimmed());
    }
    // Someone taken off the list is no longer being watched.
    for (auto it = m_present.begin(); it != m_present.end();) {
        if (m_byFolded.contains(*it))
            ++it;
        else
            it = m_present.erase(it);
    }
}

bool BuddyWatch::isBuddy(const QString &playerName) const
{
    return !m_byFolded.isEmpty() && m_byFolded.contains(folded(playerName));
}

QList<BuddySighting> BuddyWatch::refreshed(const QList<SeenPlayer> &players)
{
    QList<BuddySighting> fresh;
    QSet<QString> present;
    if (m_byFolded.isEmpty()) {
        m_present.clear();
        return fresh;
    }
    for (const SeenPlayer &player : players) {
        const QString key = folded(player.name);
        const auto buddy = m_byFolded.constFind(key);
        if (buddy == m_byFolded.constEnd() || present.contains(key))
            continue;
        present.insert(key);
        if (!m_present.contains(key))
            fresh.append({buddy.value(), player.serverKey});
    }
    m_present = present;
    return fresh;
}

} // namespace tarvex::filter
