// The server history store on temporary databases: what a refresh records, the hourly
// figures (hour boundaries, daylight-saving changes), retention, the previous format,
// damaged and unwritable databases, and two writers sharing one file.
#include "core/history/HistoryStore.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::history;

namespace {

const model::ServerKey A = model::ServerKey::fromAddressText(u"10.0.0.1:27910");
const model::ServerKey B = model::ServerKey::fromAddressText(u"10.0.0.2:27911");

qint64 utc(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toSecsSinceEpoch();
}

Sample answer(const model::ServerKey &key, int players,
              const QString &map = QStringLiteral("q2dm1"), int maxClients = 16)
{
    return {key, true, players, maxClients, map};
}

Sample silent(const model::ServerKey &key) { return {key, false, 0, -1, {}}; }

// A raw connection of the test's own to the store's file.
struct Raw
{
    explicit Raw(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
        db.open();
    }
    ~Raw()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    bool exec(const QString &sql)
    {
        QSqlQuery q(QSqlDatabase::database(name, false));
        return q.exec(sql);
    }
    QVariant value(const QString &sql)
    {
        QSqlQuery q(QSqlDatabase::database(name, false));
        return q.exec(sql) && q.next() ? q.value(0) : QVariant();
    }
    QString name = QStringLiteral("test-raw");
};

} // namespace

class tst_HistoryStore : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("h%1/history.sqlite").arg(++m_count));
    }

    // Samples go to the hour they were taken in; a completed hour's figures are its
    // answers' average and peak and the map most players were seen on.
    void recordsAndSumsUpHours()
    {
        HistoryStore store;
        store.setTimeZone(QTimeZone::utc());
        QVERIFY(store.open(m_path));
        QVERIFY(store.record({answer(A, 2, "q2dm1"), silent(B)}, utc("2026-03-10T10:00:00Z")));
        QVERIFY(store.record({answer(A, 4, "q2dm1"), silent(B)}, utc("2026-03-10T10:30:00Z")));
        QVERIFY(store.record({answer(A, 7, "q2dm2", 20)}, utc("2026-03-10T10:59:59Z")));
        // Nothing of the current hour is summed up yet.
        QVERIFY(store.hourlyFigures(A, utc("2026-03-10T00:00:00Z"), utc("2026-03-11T00:00:00Z"))
                    .isEmpty());
        QVERIFY(store.record({answer(A, 10, "q2dm3"), silent(B)}, utc("2026-03-10T11:00:00Z")));
        QVERIFY(store.record({silent(A)}, utc("2026-03-10T11:30:00Z")));
        QVERIFY(store.record({silent(A)}, utc("2026-03-10T12:00:05Z")));

        const QList<HourFigure> f =
            store.hourlyFigures(A, utc("2026-03-10T00:00:00Z"), utc("2026-03-11T00:00:00Z"));
        QCOMPARE(f.size(), 2);
        QCOMPARE(f[0].hourStart, utc("2026-03-10T10:00:00Z"));
        QCOMPARE(f[0].avgPlayers, 4.3); // (2 + 4 + 7) / 3, to a tenth
        QCOMPARE(f[0].peakPlayers, 7);
        QCOMPARE(f[0].maxClients, 20);
        QCOMPARE(f[0].map, QStringLiteral("q2dm2")); // 7 players seen there, 6 on q2dm1
        QCOMPARE(f[1].hourStart, utc("2026-03-10T11:00:00Z"));
        QCOMPARE(f[1].avgPlayers, 10.0); // the silent sample does not count
        QCOMPARE(f[1].map, QStringLiteral("q2dm3"));

        // A server that never answered has no figures and was never seen.
        QVERIFY(store.hourlyFigures(B, 0, utc("2026-03-11T00:00:00Z")).isEmpty());
        QVERIFY(!store.lastSeen(B));
        QCOMPARE(store.lastSeen(A), utc("2026-03-10T11:00:00Z"));
        QCOMPARE(store.peakToday(A, utc("2026-03-10T12:00:05Z")), 10);
        QCOMPARE(store.peakToday(A, utc("2026-03-11T00:00:00Z")), -1);

        const ChartData chart = store.chartData(A, utc("2026-03-10T12:00:05Z"));
        QCOMPARE(chart.day.size(), 6);
        QVERIFY(chart.day[0].answered && !chart.day[4].answered);
        QCOMPARE(chart.day[2].maxClients, 20);
        QCOMPARE(chart.avgByHour[10], 4.3);
        QCOMPARE(chart.avgByHour[9], -1.0);
        QVERIFY(store.chartData(B, utc("2026-03-10T12:00:05Z")).empty());
        QVERIFY(store.chartData(model::ServerKey::fromAddressText(u"10.9.9.9:1"), 0).empty());
    }

    // The bars are by local hour: when the clocks go back two UTC hours share one local
    // hour, when they go forward one local hour has none. "Today" is the local day.
    void localHoursAcrossDaylightSaving_data()
    {
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<QList<int>>("players");
        QTest::addColumn<QList<int>>("expected"); // avg per local hour 0..5, -1: none
        // Berlin, 25 October 2026: 03:00 CEST becomes 02:00 CET (01:00 UTC).
        QTest::newRow("clocks go back")
            << QList<qint64>{utc("2026-10-25T00:30:00Z"), utc("2026-10-25T01:30:00Z"),
                             utc("2026-10-25T02:30:00Z")}
            << QList<int>{4, 8, 1} << QList<int>{-1, -1, 6, 1, -1, -1};
        // Berlin, 29 March 2026: 02:00 CET becomes 03:00 CEST (01:00 UTC).
        QTest::newRow("clocks go forward")
            << QList<qint64>{utc("2026-03-29T00:30:00Z"), utc("2026-03-29T01:30:00Z"),
                             utc("2026-03-29T02:30:00Z")}
            << QList<int>{4, 8, 1} << QList<int>{-1, 4, -1, 8, 1, -1};
    }
    void localHoursAcrossDaylightSaving()
    {
        QFETCH(QList<qint64>, times);
        QFETCH(QList<int>, players);
        QFETCH(QList<int>, expected);
        HistoryStore store;
        store.setTimeZone(QTimeZone("Europe/Berlin"));
        QVERIFY(store.open(m_path));
        for (int i = 0; i < times.size(); ++i)
            QVERIFY(store.record({answer(A, players[i])}, times[i]));
        const qint64 now = times.last() + 3600;
        QVERIFY(store.record({silent(A)}, now));
        const ChartData chart = store.chartData(A, now);
        for (int h = 0; h < expected.size(); ++h)
            QCOMPARE(chart.avgByHour[h], double(expected[h]));
    }

    void peakTodayIsTheLocalDay()
    {
        HistoryStore store;
        store.setTimeZone(QTimeZone("Europe/Berlin"));
        QVERIFY(store.open(m_path));
        // 23:30 and, the next day, 00:30 in Berlin (winter time, UTC+1).
        QVERIFY(store.record({answer(A, 9)}, utc("2026-01-10T22:30:00Z")));
        QCOMPARE(store.peakToday(A, utc("2026-01-10T22:45:00Z")), 9);
        QVERIFY(store.record({answer(A, 3)}, utc("2026-01-10T23:30:00Z")));
        QCOMPARE(store.peakToday(A, utc("2026-01-10T23:40:00Z")), 3);
        QVERIFY(store.record({answer(A, 5)}, utc("2026-01-10T23:50:00Z")));
        QCOMPARE(store.peakToday(A, utc("2026-01-10T23:55:00Z")), 5);
    }

    // Samples are dropped after 48 hours, their hourly figures after the period.
    void keepsSamplesTwoDaysAndFiguresForThePeriod()
    {
        HistoryStore store;
        store.setRetentionDays(3);
        QVERIFY(store.open(m_path));
        const qint64 t0 = utc("2026-05-01T08:10:00Z");
        QVERIFY(store.record({answer(A, 5)}, t0));
        QVERIFY(store.record({answer(A, 6)}, t0 + 47 * 3600));
        QCOMPARE(store.chartData(A, t0 + 3600).day.size(), 1);
        QVERIFY(store.record({answer(A, 7)}, t0 + 49 * 3600));
        QVERIFY(store.chartData(A, t0 + 3600).day.isEmpty());
        QCOMPARE(store.chartData(A, t0 + 49 * 3600).day.size(), 2);
        QCOMPARE(store.hourlyFigures(A, t0 - 3600, t0 + 3600).size(), 1);

        QVERIFY(store.record({answer(A, 8)}, t0 + 4 * 86400));
        QVERIFY(store.hourlyFigures(A, t0 - 3600, t0 + 3600).isEmpty());
        QCOMPARE(store.hourlyFigures(A, t0, t0 + 4 * 86400).size(), 2);

        // Clearing forgets everything.
        QVERIFY(store.clear());
        QVERIFY(store.chartData(A, t0 + 4 * 86400).empty());
        QVERIFY(!store.lastSeen(A));
        QVERIFY(store.record({answer(A, 1)}, t0 + 5 * 86400));
        QCOMPARE(store.lastSeen(A), t0 + 5 * 86400);
    }

    // The first format (one row per sample, texts inline) is brought to the current one
    // without losing a sample.
    void migratesThePreviousFormat()
    {
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        const qint64 t0 = utc("2026-06-01T20:05:00Z");
        {
            Raw raw(m_path);
            QVERIFY(raw.exec("CREATE TABLE schema_version(version INTEGER NOT NULL)"));
            QVERIFY(raw.exec("INSERT INTO schema_version VALUES (1)"));
            QVERIFY(raw.exec("CREATE TABLE samples(server TEXT NOT NULL, t INTEGER NOT NULL,"
                             " players INTEGER, max_clients INTEGER, map TEXT)"));
            QVERIFY(raw.exec(QStringLiteral("INSERT INTO samples VALUES"
                                            " ('10.0.0.1:27910', %1, 3, 8, 'base1'),"
                                            " ('10.0.0.2:27911', %1, NULL, NULL, NULL),"
                                            " ('10.0.0.1:27910', %2, 5, 8, 'base2')")
                                 .arg(t0)
                                 .arg(t0 + 1800)));
        }
        HistoryStore store;
        QSignalSpy notes(&store, &HistoryStore::noteRaised);
        QVERIFY2(store.open(m_path), qPrintable(store.note()));
        QCOMPARE(notes.count(), 0);
        QCOMPARE(store.lastSeen(A), t0 + 1800);
        QVERIFY(!store.lastSeen(B));
        const ChartData chart = store.chartData(A, t0 + 3600);
        QCOMPARE(chart.day.size(), 2);
        QCOMPARE(chart.day[1].players, 5);
        QCOMPARE(store.chartData(B, t0 + 3600).day.size(), 1);
        QVERIFY(store.record({answer(A, 1)}, t0 + 3 * 3600));
        const QList<HourFigure> f = store.hourlyFigures(A, t0 - 3600, t0 + 3600);
        QCOMPARE(f.size(), 1);
        QCOMPARE(f[0].avgPlayers, 4.0);
        QCOMPARE(f[0].map, QStringLiteral("base2"));
        store.close();
        Raw raw(m_path);
        QCOMPARE(raw.value("SELECT version FROM schema_version").toInt(),
                 HistoryStore::SchemaVersion);
    }

    void damagedDatabaseIsMovedAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not a database") << QByteArray(8192, 'x');
        QTest::newRow("no history tables") << QByteArray();
    }
    void damagedDatabaseIsMovedAside()
    {
        QFETCH(QByteArray, content);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        if (content.isEmpty()) {
            Raw raw(m_path);
            QVERIFY(raw.exec("CREATE TABLE something(x)"));
        } else {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        HistoryStore store;
        QSignalSpy notes(&store, &HistoryStore::noteRaised);
        QVERIFY(store.open(m_path));
        QCOMPARE(notes.count(), 1);
        const QString note = notes.first().first().toString();
        QVERIFY2(note.contains(QStringLiteral("history.sqlite.damaged-")), qPrintable(note));
        const QStringList aside = QFileInfo(m_path).dir().entryList({"history.sqlite.damaged-*"});
        QCOMPARE(aside.size(), 1);
        QVERIFY(note.contains(aside.first()));
        QVERIFY(store.record({answer(A, 2)}, utc("2026-01-01T00:00:00Z")));
        QCOMPARE(store.lastSeen(A), utc("2026-01-01T00:00:00Z"));
        QCOMPARE(notes.count(), 1);
    }

    // Where nothing can be written the store stops recording, says so once, and
    // every call still returns.
    void unwritableFolderStopsRecording()
    {
        QFile blocker(m_dir.filePath(QStringLiteral("a-file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        HistoryStore store;
        QSignalSpy notes(&store, &HistoryStore::noteRaised);
        QVERIFY(!store.open(blocker.fileName() + QStringLiteral("/history.sqlite")));
        QCOMPARE(notes.count(), 1);
        QVERIFY(!store.note().isEmpty());
        QVERIFY(!store.record({answer(A, 1)}, 1000));
        QVERIFY(store.chartData(A, 1000).empty());
        QCOMPARE(notes.count(), 1);

        if (geteuid() == 0)
            QSKIP("a read-only folder does not stop root");
        const QString folder = QFileInfo(m_path).absolutePath();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        HistoryStore readOnly;
        QSignalSpy roNotes(&readOnly, &HistoryStore::noteRaised);
        QVERIFY(!readOnly.open(m_path));
        QVERIFY(!readOnly.record({answer(A, 1)}, 1000));
        QCOMPARE(roNotes.count(), 1);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A full disk (here: the file size limit) in the middle of recording.
    void fullDiskStopsRecording()
    {
        HistoryStore store;
        QSignalSpy notes(&store, &HistoryStore::noteRaised);
        QVERIFY(store.open(m_path));
        QList<Sample> many;
        for (int i = 0; i < 1000; ++i)
            many.append(answer(model::ServerKey::fromAddress(0x0A000000 + i, 27910), i % 16,
                               QStringLiteral("map%1").arg(i % 50)));
        const qint64 t0 = utc("2026-02-01T00:00:00Z");
        QVERIFY(store.record(many, t0));

        struct rlimit old
        {
        };
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const qint64 biggest =
            std::max(QFileInfo(m_path).size(), QFileInfo(m_path + "-wal").size());
        struct rlimit low = old;
        low.rlim_cur = rlim_t(biggest + 64 * 1024);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &low), 0);
        int written = 0;
        for (int i = 1; i <= 100 && store.record(many, t0 + i * 300); ++i)
            ++written;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &old), 0);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(written < 100);
        QCOMPARE(notes.count(), 1);
        QVERIFY2(store.note().contains(QStringLiteral("stopped")), qPrintable(store.note()));
        QVERIFY(!store.record(many, t0 + 200 * 300));
        QCOMPARE(notes.count(), 1);
        // What was written before stays readable.
        QCOMPARE(store.chartData(many[3].key, t0 + 300).day.size(), 1);
    }

    // Two windows on one file: neither loses a refresh; a refresh that meets the other's
    // lock is kept and written with the next one.
    void twoWritersShareTheDatabase()
    {
        HistoryStore one, two;
        QVERIFY(one.open(m_path));
        QVERIFY(two.open(m_path));
        const qint64 t0 = utc("2026-04-01T10:00:00Z");
        for (int i = 0; i < 10; ++i) {
            QVERIFY(one.record({answer(A, i)}, t0 + i * 60));
            QVERIFY(two.record({answer(B, i)}, t0 + i * 60 + 30));
        }
        QCOMPARE(one.chartData(B, t0 + 3000).day.size(), 10);
        QCOMPARE(two.chartData(A, t0 + 3000).day.size(), 10);
        // Each store reads what the other wrote when it records itself.
        QCOMPARE(one.lastSeen(B), t0 + 8 * 60 + 30);
        QCOMPARE(two.lastSeen(A), t0 + 9 * 60);

        HistoryStore waiting;
        waiting.setBusyTimeoutMs(50);
        QVERIFY(waiting.open(m_path));
        QSignalSpy notes(&waiting, &HistoryStore::noteRaised);
        {
            Raw raw(m_path);
            QVERIFY(raw.exec("BEGIN IMMEDIATE"));
            QVERIFY(!waiting.record({answer(A, 40)}, t0 + 1200));
            QCOMPARE(waiting.pendingRefreshes(), 1);
            QVERIFY(raw.exec("COMMIT"));
        }
        QVERIFY(waiting.record({answer(A, 41)}, t0 + 1260));
        QCOMPARE(waiting.pendingRefreshes(), 0);
        QCOMPARE(notes.count(), 0);
        const ChartData chart = one.chartData(A, t0 + 1300);
        QCOMPARE(chart.day.size(), 12);
        QCOMPARE(chart.day[10].players, 40);
        QCOMPARE(chart.day[11].players, 41);

        // A refresh of an hour the other window has already summed up is summed up again.
        QVERIFY(two.record({answer(B, 0)}, t0 + 3605));
        QCOMPARE(one.hourlyFigures(B, t0, t0 + 3600).value(0).peakPlayers, 9);
        QVERIFY(one.record({answer(B, 30)}, t0 + 3590));
        QCOMPARE(one.hourlyFigures(B, t0, t0 + 3600).value(0).peakPlayers, 30);
    }

    void optionsAreReadFromTheSettingsFile()
    {
        test::TempSettings settings;
        QCOMPARE(loadOptions().days, 90);
        QVERIFY(loadOptions().enabled);
        settings.writeIni("[History]\nRecording=False\nDays=5000\n");
        QVERIFY(!loadOptions().enabled);
        QCOMPARE(loadOptions().days, Options::MaxDays);
        saveOptions({true, 30});
        QVERIFY(loadOptions().enabled);
        QCOMPARE(loadOptions().days, 30);
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_count = 0;
};

QTEST_GUILESS_MAIN(tst_HistoryStore)
#include "tst_historystore.moc"
