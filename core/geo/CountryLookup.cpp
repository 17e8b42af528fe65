#include "core/geo/CountryLookup.h"

#include <QFileInfo>

#ifdef TARVEX_HAVE_GEOIP
#include <GeoIP.h>
#endif
#ifdef TARVEX_HAVE_MAXMINDDB
#include <maxminddb.h>
#endif

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tarvex::geo {

struct CountryLookup::Backends
{
#ifdef TARVEX_HAVE_MAXMINDDB
    MMDB_s mmdb{};
    bool mmdbOpen = false;
#endif
#ifdef TARVEX_HAVE_GEOIP
    GeoIP *legacy = nullptr;
#endif
};

namespace {

// A country code as the column shows it, or empty for anything that is not two letters
// (the legacy database answers "--" and "A1"-style pseudo codes for unknown ranges).
QString cleanCode(const char *code)
{
    if (!code)
        return {};
    const QString text = QString::fromLatin1(code).toLower();
    if (text.size() != 2 || !text[0].isLetter() || !text[1].isLetter())
        return {};
    return text;
}

} // namespace

QString CountryLookup::defaultLegacyPath() { return QStringLiteral("/usr/share/GeoIP/GeoIP.dat"); }

QString CountryLookup::defaultFlagFolder()
{
    return QStringLiteral("/usr/share/flags/countries/16x11");
}

CountryLookup::CountryLookup(const QString &mmdbPath, const QString &legacyPath)
    : m_backends(std::make_unique<Backends>())
{
#ifdef TARVEX_HAVE_MAXMINDDB
    if (!mmdbPath.isEmpty() && QFileInfo(mmdbPath).isFile()) {
        const QByteArray path = QFile::encodeName(mmdbPath);
        m_backends->mmdbOpen =
            MMDB_open(path.constData(), MMDB_MODE_MMAP, &m_backends->mmdb) == MMDB_SUCCESS;
    }
#else
    Q_UNUSED(mmdbPath)
#endif
#ifdef TARVEX_HAVE_GEOIP
    if (!legacyPath.isEmpty() && QFileInfo(legacyPath).isFile()) {
        const QByteArray path = QFile::encodeName(legacyPath);
        m_backends->legacy = GeoIP_open(path.constData(), GEOIP_MEMORY_CACHE | GEOIP_SILENCE);
    }
#else
    Q_UNUSED(legacyPath)
#endif
}

CountryLookup::~CountryLookup()
{
#ifdef TARVEX_HAVE_MAXMINDDB
    if (m_backends->mmdbOpen)
        MMDB_close(&m_backends->mmdb);
#endif
#ifdef TARVEX_HAVE_GEOIP
    if (m_backends->legacy)
        GeoIP_delete(m_backends->legacy);
#endif
}

bool CountryLookup::isAvailable() const { return !source().isEmpty(); }

QString CountryLookup::source() const
{
#ifdef TARVEX_HAVE_MAXMINDDB
    if (m_backends->mmdbOpen)
        return QStringLiteral("mmdb");
#endif
#ifdef TARVEX_HAVE_GEOIP
    if (m_backends->legacy)
        return QStringLiteral("geoip");
#endif
    return {};
}

QString CountryLookup::countryCode(const QHostAddress &address) const
{
    bool isV4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isV4);
    if (!isV4)
        return {};
#ifdef TARVEX_HAVE_MAXMINDDB
    // The newer format answers first when it is there.
    if (m_backends->mmdbOpen) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(ipv4);
        int error = MMDB_SUCCESS;
        MMDB_lookup_result_s result = MMDB_lookup_sockaddr(
            &m_backends->mmdb, reinterpret_cast<const sockaddr *>(&sa), &error);
        if (error == MMDB_SUCCESS && result.found_entry) {
            MMDB_entry_data_s data{};
            if (MMDB_get_value(&result.entry, &data, "country", "iso_code", nullptr) == MMDB_SUCCESS
                && data.has_data && data.type == MMDB_DATA_TYPE_UTF8_STRING
                && data.data_size == 2) {
                const QByteArray code(data.utf8_string, 2);
                return cleanCode(code.constData());
            }
        }
        return {};
    }
#endif
#ifdef TARVEX_HAVE_GEOIP
    if (m_backends->legacy)
        return cleanCode(GeoIP_country_code_by_ipnum(m_backends->legacy, ipv4));
#endif
    return {};
}

QString CountryLookup::countryCode(const QString &address) const
{
    QString host = address.trimmed();
    const int colon = host.lastIndexOf(u':');
    if (colon > 0 && host.indexOf(u':') == colon)
        host.truncate(colon);
    QHostAddress parsed;
    if (!parsed.setAddress(host))
        return {};
    return countryCode(parsed);
}

QString CountryLookup::flagPath(const QString &code, const QString &folder)
{
    if (code.size() != 2 || folder.isEmpty())
        return {};
    const QString path = folder + u'/' + code.toLower() + QStringLiteral(".png");
    return QFileInfo(path).isFile() ? path : QString();
}

} // namespace tarvex::geo
