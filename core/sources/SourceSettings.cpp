#include "core/sources/SourceSettings.h"

#include "core/browser/Settings.h"

#include "core/sources/ServerAddress.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

#ifndef TARVEX_DEFAULT_SOURCES
#define TARVEX_DEFAULT_SOURCES "page="
#endif

namespace tarvex::sources {

namespace {

QSettings store()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tarvex"),
                     QStringLiteral("Tarvex"));
}

struct KindInfo
{
    SourceKind kind;
    const char *key;
    const char *name;
};
constexpr KindInfo Kinds[] = {
    {SourceKind::Page, "page", "server-list page"},
    {SourceKind::TextList, "text", "text list"},
    {SourceKind::BinaryList, "binary", "binary list"},
    {SourceKind::Master, "master", "master"},
    {SourceKind::Lan, "lan", "LAN"},
    {SourceKind::Favourites, "favourites", "favourites"},
};

bool isHttpUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

QString kindKey(SourceKind kind)
{
    for (const KindInfo &k : Kinds) {
        if (k.kind == kind)
            return QLatin1String(k.key);
    }
    return QString();
}

std::optional<SourceKind> kindFromKey(const QString &key)
{
    for (const KindInfo &k : Kinds) {
        if (key.trimmed().compare(QLatin1String(k.key), Qt::CaseInsensitive) == 0)
            return k.kind;
    }
    return std::nullopt;
}

QString kindName(SourceKind kind)
{
    for (const KindInfo &k : Kinds) {
        if (k.kind == kind)
            return QLatin1String(k.name);
    }
    return QString();
}

QString describe(const SourceEntry &entry)
{
    if (entry.address.isEmpty())
        return kindName(entry.kind);
    return kindName(entry.kind) + QLatin1Char(' ') + entry.address;
}

QList<SourceEntry> parseSourceList(const QString &text)
{
    QList<SourceEntry> entries;
    for (const QString &item : text.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const auto kind = kindFromKey(eq < 0 ? item : item.left(eq));
        if (!kind)
            continue;
        entries.append({*kind, eq < 0 ? QString() : item.mid(eq + 1).trimmed(), true});
    }
    return entries;
}

std::optional<QString> checkEntry(const SourceEntry &entry)
{
    const QString a = entry.address.trimmed();
    switch (entry.kind) {
    case SourceKind::Page:
        if (!a.isEmpty() && !isHttpUrl(a))
            return QStringLiteral(
                "The page's host must be an http:// address, such as http://example.org:8080.");
        return std::nullopt;
    case SourceKind::TextList:
    case SourceKind::BinaryList:
        if (!isHttpUrl(a))
            return QStringLiteral(
                "A list needs its whole http:// address, such as http://example.org/?raw=1.");
        return std::nullopt;
    case SourceKind::Master: {
        static const QRegularExpression form(
            QStringLiteral(R"(^[A-Za-z0-9]([A-Za-z0-9.-]{0,252})(:[0-9]{1,5})?$)"));
        const QRegularExpressionMatch m = form.match(a);
        if (!m.hasMatch() || (m.hasCaptured(2) && m.captured(2).mid(1).toUInt() - 1 > 65534))
            return QStringLiteral(
                "A master is a host name or IPv4 address, with an optional :port.");
        return std::nullopt;
    }
    case SourceKind::Lan: {
        if (a.isEmpty())
            return std::nullopt;
        const auto parsed = parseAddressText(a + QStringLiteral(":1024"));
        if (!parsed)
            return QStringLiteral("The LAN broadcast address is a dotted IPv4 address.");
        return std::nullopt;
    }
    case SourceKind::Favourites: {
        for (const QString &item :
             a.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
            const auto parsed = parseAddressText(item);
            if (!parsed || checkAddress(*parsed) != AddressCheck::Usable)
                return QStringLiteral(
                           "%1 is not a game server address (a.b.c.d:port, port 1024 to 65535).")
                    .arg(item);
        }
        return std::nullopt;
    }
    }
    return std::nullopt;
}

QList<SourceEntry> defaultSources()
{
    return parseSourceList(QStringLiteral(TARVEX_DEFAULT_SOURCES));
}

QList<SourceEntry> loadSources(QStringList *problems)
{
    const auto problem = [problems](const QString &text) {
        if (problems)
            problems->append(text);
    };
    QSettings s = store();
    if (!s.childGroups().contains(SourcesGroup)) {
        if (s.contains(QStringLiteral("Endpoints/ServerListHost")))
            return {SourceEntry{SourceKind::Page, QString(), true}};
        return defaultSources();
    }
    QList<SourceEntry> entries;
    const QString sizeText = s.value(SourcesGroup + QStringLiteral("/size")).toString();
    bool sizeOk = false;
    const int storedSize = sizeText.trimmed().toInt(&sizeOk);
    const bool sizeUnread = !sizeOk || storedSize < 0;
    if (sizeUnread && s.contains(SourcesGroup + QStringLiteral("/size")))
        problem(QStringLiteral("[Sources] size=%1 is not a count of sources; the entries "
                               "numbered from 1 are read until one is missing.")
                    .arg(sizeText));
    int size = std::min(s.beginReadArray(SourcesGroup), 256);
    if (sizeUnread) {
        // Read what is there rather than hide it.
        size = 0;
        while (size < 256 && s.contains(QStringLiteral("%1/kind").arg(size + 1)))
            ++size;
    }
    for (int i = 0; i < size; ++i) {
        s.setArrayIndex(i);
        const auto kind = kindFromKey(s.value(QStringLiteral("kind")).toString());
        if (!kind)
            continue;
        SourceEntry e;
        e.kind = *kind;
        QVariant address = s.value(QStringLiteral("address"));
        e.address = address.metaType().id() == QMetaType::QStringList
            ? address.toStringList().join(QStringLiteral(", "))
            : address.toString();
        // Read as every other stored Boolean; a value that is none is reported and the
        // source left off rather than guessed on.
        const QString on = s.value(QStringLiteral("enabled"), QStringLiteral("True")).toString();
        const std::optional<bool> enabled = Settings::textToBool(on);
        if (!enabled)
            problem(QStringLiteral("[Sources] %1\\enabled=%2 is not True or False; the source "
                                   "is left off.")
                        .arg(i + 1)
                        .arg(on));
        e.enabled = enabled.value_or(false);
        entries.append(e);
    }
    s.endArray();
    return entries;
}

bool saveSources(const QList<SourceEntry> &entries)
{
    QSettings s = store();
    s.remove(SourcesGroup);
    s.beginWriteArray(SourcesGroup, int(entries.size()));
    for (int i = 0; i < entries.size(); ++i) {
        s.setArrayIndex(i);
        s.setValue(QStringLiteral("kind"), kindKey(entries[i].kind));
        s.setValue(QStringLiteral("address"), entries[i].address);
        s.setValue(QStringLiteral("enabled"),
                   entries[i].enabled ? QStringLiteral("True") : QStringLiteral("False"));
    }
    s.endArray();
    s.sync();
    return s.status() == QSettings::NoError;
}

bool pageOnly(const QList<SourceEntry> &entries)
{
    int enabled = 0;
    bool page = false;
    for (const SourceEntry &e : entries) {
        if (!e.enabled)
            continue;
        ++enabled;
        page = e.kind == SourceKind::Page;
    }
    return enabled == 1 && page;
}

} // namespace tarvex::sources
