#pragma once

#include "core/model/ServerRecord.h"

#include "core/model/ServerKey.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSqlError>
#include <QString>
#include <QTimeZone>
#include <array>
#include <optional>

class QSqlQuery;

namespace tarvex::history {

// What one refresh learnt of one server.
struct Sample
{
    model::ServerKey key;
    bool answered = false;
    int players = 0;
    int maxClients = -1; // -1: the server named no maximum
    QString map;
};

// One server's figures for one hour (UTC hours, start in seconds since the epoch).
struct HourFigure
{
    qint64 hourStart = 0;
    double avgPlayers = 0;
    int peakPlayers = 0;
    int maxClients = -1;
    QString map; // the map most played that hour
};

// The data of both charts for one server.
struct ChartData
{
    struct Point
    {
        qint64 at = 0; // seconds since the epoch
        bool answered = false;
        int players = 0;
        int maxClients = -1;
    };
    QList<Point> day; // the samples of the last 24 hours, oldest first
    // Average players for each hour of the day in local time over the last 7 days;
    // -1 where no hour has a figure.
    std::array<double, 24> avgByHour{};
    bool hasDay() const;
    bool hasHours() const;
    bool empty() const { return !hasDay() && !hasHours(); }
};

// Options › History, kept in the settings file under [History].
struct Options
{
    bool enabled = true; // Recording=True/False
    int days = 90; // Days: how long the hourly figures are kept
    static constexpr int MinDays = 2;
    static constexpr int MaxDays = 365;
};
Options loadOptions();
void saveOptions(const Options &options);

// How long ago `then` was, as the "Last Seen" cell says it (the model's own wording).
using model::agoText;

// The servers' history in an SQLite database: every sample of each refresh for 48
// hours, and for each server and hour its average and peak players and most played map
// for the chosen period. Each refresh is written in one short transaction. Several
// processes may share one database: a writer waits for another's transaction (busy
// time-out), and a refresh that still cannot be written is kept for the next one.
//
// A database that is damaged or not a database is moved aside and a new one started; a
// folder that cannot be written (read-only, full) stops recording. Either is reported
// once by noteRaised(); nothing else of the program depends on the store.
class HistoryStore : public QObject
{
    Q_OBJECT
public:
    static constexpr int SchemaVersion = 2;
    static constexpr qint64 SampleKeepSecs = 48 * 3600;
    // How many refreshes are kept in memory while the database is busy.
    static constexpr int MaxPending = 12;

    explicit HistoryStore(QObject *parent = nullptr);
    ~HistoryStore() override;

    // history.sqlite in the user's data folder.
    static QString defaultPath();

    // Opens (or creates, or brings up to the current schema) the database at path.
    // False when nothing can be recorded there; note() says why.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_open; }
    QString path() const { return m_path; }
    // Why the store does not record (empty while it does).
    QString note() const { return m_note; }

    // How long a write waits for another process's transaction (before open()).
    void setBusyTimeoutMs(int ms) { m_busyMs = ms; }
    void setRetentionDays(int days);
    int retentionDays() const { return m_days; }
    // The zone whose days and hours the charts and "peak today" use (the system's).
    void setTimeZone(const QTimeZone &zone) { m_zone = zone; }

    // Records one refresh taken at `at` (seconds since the epoch). False when it was not
    // written: kept for the next call when the database was busy, dropped otherwise.
    bool record(const QList<Sample> &samples, qint64 at);
    int pendingRefreshes() const { return int(m_pending.size()); }
    // Forgets every server's history.
    bool clear();

    // When the server last answered, in seconds since the epoch.
    std::optional<qint64> lastSeen(const model::ServerKey &key) const;
    // Its most players since local midnight (-1: no answer today).
    int peakToday(const model::ServerKey &key, qint64 now) const;

    ChartData chartData(const model::ServerKey &key, qint64 now) const;
    QList<HourFigure> hourlyFigures(const model::ServerKey &key, qint64 from, qint64 to) const;

signals:
    // A problem the user should hear of, once: the database moved aside, recording
    // stopped.
    void noteRaised(const QString &text);

private:
    struct Batch
    {
        QList<Sample> samples;
        qint64 at = 0;
    };
    enum class Failure { None, Busy, Damaged, Unwritable, Other };

    bool openFile();
    bool prepareSchema(QString *why);
    bool migrateFrom1(QString *why);
    void moveAside(const QString &reason);
    void stopRecording(const QString &text);
    static Failure classify(const QSqlError &error);
    Failure writePending();
    bool failed(const QSqlQuery &query); // keeps its error; false
    Failure flush();
    bool writeBatch(const Batch &batch);
    bool aggregateAndPrune(qint64 at, qint64 firstHour);
    bool aggregateHour(qint64 hour, const QList<qint64> &refreshIds);
    qint64 serverId(const QString &key, bool create);
    int mapId(const QString &name);
    QString mapName(int id) const;
    void reloadSeen();
    qint64 localDay(qint64 at) const;

    QString m_path;
    QString m_connection;
    QString m_note;
    bool m_open = false;
    bool m_recording = false;
    int m_days = 90;
    int m_busyMs = 2000;
    QTimeZone m_zone = QTimeZone::systemTimeZone();
    QList<Batch> m_pending;
    QSqlError m_error; // the last failed write's
    QHash<QString, qint64> m_serverIds;
    QHash<QString, int> m_mapIds;
    mutable QHash<int, QString> m_mapNames;
    struct Seen
    {
        qint64 lastSeen = 0;
        qint64 peakDay = 0;
        int peak = -1;
    };
    QHash<QString, Seen> m_seen;
};

} // namespace tarvex::history
