#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// Which buddies a refresh found that the one before did not: each appearance is reported
// once, and again only after the buddy has been gone for a refresh.
namespace tarvex::filter {

struct SeenPlayer
{
    QString name; // decoded player name
    QString serverKey;
};

struct BuddySighting
{
    QString buddy; // as written in the buddy list
    QString serverKey;
};

class BuddyWatch
{
public:
    // Names compare whole, in any letter case, without surrounding spaces.
    void setBuddies(const QStringList &names);
    QStringList buddies() const { return m_names; }
    bool isBuddy(const QString &playerName) const;

    // The players one finished refresh found; returns the buddies newly there.
    QList<BuddySighting> refreshed(const QList<SeenPlayer> &players);

private:
    static QString folded(const QString &name) { return name.trimmed().toCaseFolded(); }

    QStringList m_names;
    QHash<QString, QString> m_byFolded; // folded name -> name as written
    QSet<QString> m_present; // folded names seen in the last refresh
};

} // namespace tarvex::filter
