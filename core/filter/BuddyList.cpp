#include "core/filter/BuddyList.h"

#include "core/browser/Settings.h"

#include <QSet>

namespace tarvex::filter {

namespace {
const QString Section = QStringLiteral("Buddies");
constexpr int MaxBuddies = 1000;
} // namespace

QStringList cleanBuddies(const QStringList &names)
{
    QStringList clean;
    QSet<QString> seen;
    for (const QString &name : names) {
        const QString trimmed = name.trimmed();
        if (trimmed.isEmpty() || seen.contains(trimmed.toCaseFolded()))
            continue;
        seen.insert(trimmed.toCaseFolded());
        clean.append(trimmed);
        if (clean.size() >= MaxBuddies)
            break;
    }
    return clean;
}

QStringList loadBuddies()
{
    bool ok = false;
    const int count = qBound(
        0, Settings::GetSetting(Section, QStringLiteral("Count"), QStringLiteral("0")).toInt(&ok),
        MaxBuddies);
    QStringList names;
    for (int i = 1; ok && i <= count; ++i)
        names.append(Settings::GetSetting(Section, QStringLiteral("Name%1").arg(i), QString()));
    return cleanBuddies(names);
}

bool saveBuddies(const QStringList &names)
{
    const QStringList clean = cleanBuddies(names);
    const int before = loadBuddies().size();
    bool ok =
        Settings::SaveSetting(Section, QStringLiteral("Count"), QString::number(clean.size()));
    for (int i = 0; i < clean.size(); ++i)
        ok = Settings::SaveSetting(Section, QStringLiteral("Name%1").arg(i + 1), clean[i]) && ok;
    // Names past the new end are blanked so that a shorter list leaves nothing behind.
    for (int i = clean.size(); i < before; ++i)
        ok = Settings::SaveSetting(Section, QStringLiteral("Name%1").arg(i + 1), QString()) && ok;
    return ok;
}

} // namespace tarvex::filter
