#pragma once

#include <QStringList>

// The buddy list kept in the settings: section "Buddies", "Count" and "Name1".."NameN",
// one name a key so that any character a player name may hold survives.
namespace tarvex::filter {

QStringList loadBuddies();
// Stores the names trimmed, without empty ones or repeats (in any letter case).
bool saveBuddies(const QStringList &names);
QStringList cleanBuddies(const QStringList &names);

} // namespace tarvex::filter
