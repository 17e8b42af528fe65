// The country lookup with and without its databases, and the flag pictures.
#include "core/geo/CountryLookup.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using tarvex::geo::CountryLookup;

class TestCountry : public QObject
{
    Q_OBJECT

private slots:
    void missingDatabases()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("none.mmdb"));
        QFile junk(dir.filePath(QStringLiteral("junk.mmdb")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a database");
        junk.close();
        for (const auto &paths :
             {qMakePair(missing, dir.filePath(QStringLiteral("no.dat"))),
              qMakePair(junk.fileName(), junk.fileName()), qMakePair(QString(), QString())}) {
            CountryLookup lookup(paths.first, paths.second);
            QVERIFY(!lookup.isAvailable());
            QVERIFY(lookup.countryCode(QStringLiteral("127.0.0.1:27910")).isEmpty());
            QVERIFY(lookup.countryCode(QStringLiteral("not an address")).isEmpty());
        }
    }

    void legacyDatabase()
    {
#ifndef TARVEX_HAVE_GEOIP
        QSKIP("built without the GeoIP library");
#endif
        if (!QFileInfo(CountryLookup::defaultLegacyPath()).isFile())
            QSKIP("no GeoIP country database installed");
        CountryLookup lookup;
        QCOMPARE(lookup.source(), QStringLiteral("geoip"));
        QVERIFY(lookup.countryCode(QStringLiteral("127.0.0.1")).isEmpty());
        QVERIFY(lookup.countryCode(QStringLiteral("10.1.2.3:27910")).isEmpty());
        // Database records only (no traffic): public ranges give two lower-case letters.
        int known = 0;
        for (int first = 1; first < 224; first += 7) {
            const QString code = lookup.countryCode(QStringLiteral("%1.10.20.30").arg(first));
            QVERIFY2(code.isEmpty() || (code.size() == 2 && code == code.toLower()),
                     qPrintable(code));
            known += code.isEmpty() ? 0 : 1;
        }
        QVERIFY(known > 5);
    }

    void flags()
    {
        QTemporaryDir dir;
        QFile png(dir.filePath(QStringLiteral("de.png")));
        QVERIFY(png.open(QIODevice::WriteOnly));
        png.close();
        QCOMPARE(CountryLookup::flagPath(QStringLiteral("DE"), dir.path()), png.fileName());
        QVERIFY(CountryLookup::flagPath(QStringLiteral("fr"), dir.path()).isEmpty());
        QVERIFY(CountryLookup::flagPath(QStringLiteral("../de"), dir.path()).isEmpty());
        QVERIFY(CountryLookup::flagPath(QString(), dir.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCountry)
#include "tst_country.moc"
