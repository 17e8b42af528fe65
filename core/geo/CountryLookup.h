#pragma once

#include <QHostAddress>
#include <QString>

#include <memory>

// The country of an IPv4 address: from a MaxMind-format .mmdb file named in the settings
// when one opens, else from the legacy GeoIP country database Debian ships. Either may be
// missing (at build or at run time); the lookup then answers an empty code.
namespace tarvex::geo {

class CountryLookup
{
public:
    // The legacy database's usual place on Debian.
    static QString defaultLegacyPath();
    // Where the 16x11 flag pictures are looked for.
    static QString defaultFlagFolder();

    // mmdbPath: the user's .mmdb file, or empty; legacyPath: the GeoIP.dat file.
    explicit CountryLookup(const QString &mmdbPath = QString(),
                           const QString &legacyPath = defaultLegacyPath());
    ~CountryLookup();
    CountryLookup(const CountryLookup &) = delete;
    CountryLookup &operator=(const CountryLookup &) = delete;

    // Whether any database opened.
    bool isAvailable() const;
    // "mmdb", "geoip" or empty: which database answers.
    QString source() const;

    // Two lower-case letters ("de"), or empty when unknown.
    QString countryCode(const QHostAddress &address) const;
    QString countryCode(const QString &address) const; // "a.b.c.d" or "a.b.c.d:port"

    // The flag picture of a code, or empty when there is none.
    static QString flagPath(const QString &code, const QString &folder = defaultFlagFolder());

private:
    struct Backends;
    std::unique_ptr<Backends> m_backends;
};

} // namespace tarvex::geo
