#include "core/history/HistoryStore.h"

#include "core/browser/Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace tarvex::history {

namespace {

const QString Section = QStringLiteral("History");
const QString KeyRecording = QStringLiteral("Recording");
const QString KeyDays = QStringLiteral("Days");

// A sample's row id is its refresh's id times this plus its server's id, so that one
// refresh's rows lie together at the end of the table and one server's sample of a
// given refresh is found by its id. The same holds for the hourly rows, by UTC day.
constexpr int ServerBits = 20;
constexpr qint64 MaxServers = (qint64(1) << ServerBits) - 1;

// An hourly row holds one UTC day of one server: 24 slots of four little-endian 16-bit
// numbers: average players times ten (NoFigure: none that hour), peak players, maximum
// clients (NoFigure: none named) and the most played map's id (0: none).
constexpr int SlotBytes = 8;
constexpr int DayBytes = 24 * SlotBytes;
constexpr quint16 NoFigure = 0xFFFF;

const char *const SchemaV2[] = {
    "CREATE TABLE schema_version(version INTEGER NOT NULL)",
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value INTEGER) WITHOUT ROWID",
    "CREATE TABLE servers(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, last_seen INTEGER,"
    " peak_day INTEGER, peak INTEGER)",
    "CREATE TABLE maps(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
    "CREATE TABLE refreshes(id INTEGER PRIMARY KEY AUTOINCREMENT, t INTEGER NOT NULL)",
    "CREATE TABLE samples(id INTEGER PRIMARY KEY, players INTEGER, max_clients INTEGER,"
    " map_id INTEGER)",
    "CREATE TABLE hourly(id INTEGER PRIMARY KEY, hours BLOB NOT NULL)",
};

qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

quint16 readU16(const QByteArray &day, int slot, int field)
{
    return qFromLittleEndian<quint16>(day.constData() + slot * SlotBytes + field * 2);
}

void writeU16(QByteArray &day, int slot, int field, quint16 value)
{
    qToLittleEndian<quint16>(value, day.data() + slot * SlotBytes + field * 2);
}

QByteArray emptyDay()
{
    QByteArray day(DayBytes, '\0');
    for (int slot = 0; slot < 24; ++slot)
        writeU16(day, slot, 0, NoFigure);
    return day;
}

quint16 clampU16(qint64 v) { return quint16(std::clamp<qint64>(v, 0, NoFigure - 1)); }

} // namespace

bool ChartData::hasDay() const
{
    return std::any_of(day.begin(), day.end(), [](const Point &p) { return p.answered; });
}

bool ChartData::hasHours() const
{
    return std::any_of(avgByHour.begin(), avgByHour.end(), [](double v) { return v >= 0; });
}

Options loadOptions()
{
    Options o;
    o.enabled = Settings::GetBoolSetting(Section, KeyRecording, true);
    bool ok = false;
    const int days = Settings::GetSetting(Section, KeyDays, QString()).trimmed().toInt(&ok);
    if (ok)
        o.days = std::clamp(days, Options::MinDays, Options::MaxDays);
    return o;
}

void saveOptions(const Options &options)
{
    Settings::SaveSetting(Section, KeyRecording, Settings::boolToText(options.enabled));
    Settings::SaveSetting(Section, KeyDays, QString::number(options.days));
}

HistoryStore::HistoryStore(QObject *parent)
    : QObject(parent),
      m_connection(QStringLiteral("tarvex-history-%1").arg(quintptr(this), 0, 16))
{ }

HistoryStore::~HistoryStore() { close(); }

QString HistoryStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/history.sqlite");
}

void HistoryStore::close()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_open = false;
    m_recording = false;
    m_serverIds.clear();
    m_mapIds.clear();
    m_mapNames.clear();
}

HistoryStore::Failure HistoryStore::classify(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xFF;
    if (!ok)
        return error.type() == QSqlError::ConnectionError ? Failure::Unwritable : Failure::Other;
    switch (code) {
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return Failure::Busy;
    case 11: // SQLITE_CORRUPT
    case 26: // SQLITE_NOTADB
        return Failure::Damaged;
    case 3: // SQLITE_PERM
    case 8: // SQLITE_READONLY
    case 10: // SQLITE_IOERR
    case 13: // SQLITE_FULL
    case 14: // SQLITE_CANTOPEN
        return Failure::Unwritable;
    default: return Failure::Other;
    }
}

bool HistoryStore::open(const QString &path)
{
    close();
    m_path = path;
    m_note.clear();
    m_pending.clear();
    return openFile();
}

bool HistoryStore::openFile()
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        stopRecording(QStringLiteral("History not recorded: cannot create the folder %1.")
                          .arg(info.absolutePath()));
        return false;
    }
    QString why;
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            db.setDatabaseName(m_path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyMs));
            if (db.open()) {
                m_open = true;
                if (prepareSchema(&why)) {
                    m_recording = true;
                    reloadSeen();
                    return true;
                }
            } else {
                why = db.lastError().text();
            }
        }
        if (m_recording || !m_open || attempt == 1)
            break;
        // A file that is no database, or a damaged one, is moved aside once and a new
        // database started in its place.
        if (why.startsWith(QLatin1Char('!'))) {
            why.remove(0, 1);
            moveAside(why);
            continue;
        }
        break;
    }
    close();
    if (m_note.isEmpty())
        stopRecording(QStringLiteral("History not recorded: %1").arg(why));
    return false;
}

// Brings the database to the current schema. On failure `why` says why; it starts
// with '!' when the file is damaged (and should be moved aside).
bool HistoryStore::prepareSchema(QString *why)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    auto failed = [&](const QSqlError &e) {
        *why = (classify(e) == Failure::Damaged ? QStringLiteral("!") : QString()) + e.text();
        return false;
    };
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return failed(q.lastError());
    if (!q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
        return failed(q.lastError());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next())
        return failed(q.lastError());
    const int objects = q.value(0).toInt();
    int version = 0;
    if (objects > 0) {
        if (!q.exec(QStringLiteral("SELECT version FROM schema_version")) || !q.next()) {
            *why = QStringLiteral("!not a server history database");
            return false;
        }
        version = q.value(0).toInt();
    }
    q.finish(); // a statement left open would lock the tables the migration changes
    if (version > SchemaVersion) {
        *why =
            QStringLiteral("the history was written by a newer Tarvex (format %1).").arg(version);
        return false;
    }
    if (version == SchemaVersion)
        return true;
    if (!db.transaction())
        return failed(db.lastError());
    bool ok = true;
    if (version == 1) {
        ok = migrateFrom1(why);
    } else {
        for (const char *statement : SchemaV2)
            ok = ok && q.exec(QLatin1String(statement));
        ok = ok
            && q.exec(QStringLiteral("INSERT INTO schema_version VALUES (%1)").arg(SchemaVersion));
        if (!ok)
            *why = q.lastError().text();
    }
    if (!ok || !db.commit()) {
        if (ok)
            *why = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

// The first format kept one row per sample with the server's address and the map as
// text: samples(server TEXT, t INTEGER, players INTEGER, max_clients INTEGER, map TEXT),
// players NULL for no answer. Its rows move into the current tables; the hourly figures
// are made from them at the next refresh.
bool HistoryStore::migrateFrom1(QString *why)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    bool ok = q.exec(QStringLiteral("ALTER TABLE samples RENAME TO samples_v1"))
        && q.exec(QStringLiteral("DROP TABLE schema_version"));
    for (const char *statement : SchemaV2)
        ok = ok && q.exec(QLatin1String(statement));
    ok = ok && q.exec(QStringLiteral("INSERT INTO schema_version VALUES (%1)").arg(SchemaVersion));
    ok = ok
        && q.exec(QStringLiteral("INSERT INTO servers(key) SELECT DISTINCT server FROM samples_v1"
                                 " ORDER BY server"))
        && q.exec(QStringLiteral("INSERT INTO maps(name) SELECT DISTINCT map FROM samples_v1"
                                 " WHERE map IS NOT NULL AND map <> '' ORDER BY map"))
        && q.exec(QStringLiteral("INSERT INTO refreshes(t) SELECT DISTINCT t FROM samples_v1"
                                 " ORDER BY t"))
        && q.exec(
            QStringLiteral(
                "INSERT INTO samples(id, players, max_clients, map_id)"
                " SELECT (r.id << %1) + s.id, v.players, v.max_clients, m.id FROM samples_v1 v"
                " JOIN refreshes r ON r.t = v.t JOIN servers s ON s.key = v.server"
                " LEFT JOIN maps m ON m.name = v.map WHERE s.id <= %2 ORDER BY 1")
                .arg(ServerBits)
                .arg(MaxServers))
        && q.exec(QStringLiteral("UPDATE servers SET last_seen = (SELECT max(t) FROM samples_v1"
                                 " WHERE server = servers.key AND players IS NOT NULL)"))
        && q.exec(QStringLiteral("DROP TABLE samples_v1"));
    if (!ok)
        *why = q.lastError().text();
    return ok;
}

void HistoryStore::moveAside(const QString &reason)
{
    close();
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString aside = m_path + QStringLiteral(".damaged-") + stamp;
    QFile::remove(aside);
    const bool moved = QFile::rename(m_path, aside);
    for (const char *suffix : {"-wal", "-shm"}) {
        const QString side = m_path + QLatin1String(suffix);
        if (QFile::exists(side) && !QFile::rename(side, aside + QLatin1String(suffix)))
            QFile::remove(side);
    }
    const QString text = moved
        ? QStringLiteral("History database damaged (%1); moved aside as %2, a new one started.")
              .arg(reason, QFileInfo(aside).fileName())
        : QStringLiteral("History database damaged (%1) and could not be moved aside.").arg(reason);
    emit noteRaised(text);
}

void HistoryStore::stopRecording(const QString &text)
{
    m_recording = false;
    m_pending.clear();
    if (m_note == text)
        return;
    m_note = text;
    emit noteRaised(text);
}

void HistoryStore::setRetentionDays(int days)
{
    m_days = std::clamp(days, Options::MinDays, Options::MaxDays);
}

qint64 HistoryStore::localDay(qint64 at) const
{
    return QDateTime::fromSecsSinceEpoch(at, m_zone).date().toJulianDay();
}

bool HistoryStore::record(const QList<Sample> &samples, qint64 at)
{
    if (!m_recording)
        return false;
    if (m_pending.size() >= MaxPending)
        m_pending.removeFirst();
    m_pending.append({samples, at});
    return flush() == Failure::None;
}

HistoryStore::Failure HistoryStore::flush()
{
    const Failure f = writePending();
    switch (f) {
    case Failure::None:
    case Failure::Busy: // kept for the next refresh
        return f;
    case Failure::Damaged: {
        const QList<Batch> kept = m_pending;
        moveAside(m_error.text());
        if (!openFile())
            return f;
        m_pending = kept;
        if (writePending() == Failure::None)
            return Failure::None;
        stopRecording(QStringLiteral("History recording stopped: %1").arg(m_error.text()));
        return f;
    }
    default:
        stopRecording(QStringLiteral("History recording stopped: %1").arg(m_error.text()));
        return f;
    }
}

HistoryStore::Failure HistoryStore::writePending()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    // The write lock is taken at the start, so that a busy database fails here, before
    // anything is read under a lock that would have to be upgraded.
    bool ok = q.exec(QStringLiteral("BEGIN IMMEDIATE")) || failed(q);
    if (ok) {
        for (const Batch &b : std::as_const(m_pending)) {
            ok = writeBatch(b);
            if (!ok)
                break;
        }
        // A refresh of an hour already summed up (kept while busy, or another window's
        // that came first) has that hour summed up again.
        qint64 earliest = m_pending.last().at;
        for (const Batch &b : std::as_const(m_pending))
            earliest = std::min(earliest, b.at);
        ok = ok && aggregateAndPrune(m_pending.last().at, floorDiv(earliest, 3600));
        ok = ok && (q.exec(QStringLiteral("COMMIT")) || failed(q));
    }
    if (ok) {
        m_pending.clear();
        reloadSeen();
        return Failure::None;
    }
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    // Ids learnt inside the undone transaction are gone with it.
    m_serverIds.clear();
    m_mapIds.clear();
    m_mapNames.clear();
    return classify(m_error);
}

bool HistoryStore::failed(const QSqlQuery &query)
{
    m_error = query.lastError();
    return false;
}

qint64 HistoryStore::serverId(const QString &key, bool create)
{
    const auto it = m_serverIds.constFind(key);
    if (it != m_serverIds.constEnd())
        return *it;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM servers WHERE key = ?"));
    q.addBindValue(key);
    if (q.exec() && q.next()) {
        const qint64 id = q.value(0).toLongLong();
        m_serverIds.insert(key, id);
        return id;
    }
    if (!create)
        return 0;
    q.prepare(QStringLiteral("INSERT INTO servers(key) VALUES (?)"));
    q.addBindValue(key);
    if (!q.exec()) {
        failed(q);
        return -1;
    }
    const qint64 id = q.lastInsertId().toLongLong();
    m_serverIds.insert(key, id);
    return id;
}

int HistoryStore::mapId(const QString &name)
{
    if (name.isEmpty())
        return 0;
    const auto it = m_mapIds.constFind(name);
    if (it != m_mapIds.constEnd())
        return *it;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO maps(name) VALUES (?)"));
    q.addBindValue(name);
    if (!q.exec()) {
        failed(q);
        return -1;
    }
    q.prepare(QStringLiteral("SELECT id FROM maps WHERE name = ?"));
    q.addBindValue(name);
    if (!q.exec() || !q.next()) {
        failed(q);
        return -1;
    }
    const int id = q.value(0).toInt();
    m_mapIds.insert(name, id);
    return id;
}

QString HistoryStore::mapName(int id) const
{
    if (id <= 0)
        return {};
    const auto it = m_mapNames.constFind(id);
    if (it != m_mapNames.constEnd())
        return *it;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT name FROM maps WHERE id = ?"));
    q.addBindValue(id);
    const QString name = q.exec() && q.next() ? q.value(0).toString() : QString();
    m_mapNames.insert(id, name);
    return name;
}

bool HistoryStore::writeBatch(const Batch &batch)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO refreshes(t) VALUES (?)"));
    q.addBindValue(batch.at);
    if (!q.exec())
        return failed(q);
    const qint64 refresh = q.lastInsertId().toLongLong();

    struct Row
    {
        qint64 server;
        const Sample *sample;
        int map;
    };
    QList<Row> rows;
    rows.reserve(batch.samples.size());
    for (const Sample &s : batch.samples) {
        const qint64 id = serverId(s.key.toString(), true);
        if (id < 0)
            return false;
        if (id > MaxServers)
            continue;
        const int map = s.answered ? mapId(s.map) : 0;
        if (map < 0)
            return false;
        rows.append({id, &s, map});
    }
    // In id order, each row goes at the end of the table.
    std::sort(rows.begin(), rows.end(),
              [](const Row &a, const Row &b) { return a.server < b.server; });

    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT OR REPLACE INTO samples(id, players, max_clients, map_id)"
                                  " VALUES (?, ?, ?, ?)"));
    QSqlQuery seen(db);
    seen.prepare(QStringLiteral(
        "UPDATE servers SET last_seen = max(coalesce(last_seen, 0), :t),"
        " peak = CASE WHEN peak_day = :day THEN max(peak, :p) ELSE :p END, peak_day = :day"
        " WHERE id = :id"));
    const qint64 day = localDay(batch.at);
    const QVariant none;
    for (const Row &r : std::as_const(rows)) {
        const Sample &s = *r.sample;
        insert.bindValue(0, (refresh << ServerBits) + r.server);
        insert.bindValue(1, s.answered ? QVariant(std::max(0, s.players)) : none);
        insert.bindValue(2, s.answered && s.maxClients >= 0 ? QVariant(s.maxClients) : none);
        insert.bindValue(3, r.map > 0 ? QVariant(r.map) : none);
        if (!insert.exec())
            return failed(insert);
        if (!s.answered)
            continue;
        seen.bindValue(QStringLiteral(":t"), batch.at);
        seen.bindValue(QStringLiteral(":day"), day);
        seen.bindValue(QStringLiteral(":p"), std::max(0, s.players));
        seen.bindValue(QStringLiteral(":id"), r.server);
        if (!seen.exec())
            return failed(seen);
    }
    return true;
}

// Makes the hourly figures of every completed hour not yet summed up, then drops the
// samples and figures older than they are kept. Runs inside the refresh's transaction.
bool HistoryStore::aggregateAndPrune(qint64 at, qint64 firstHour)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    qint64 currentHour = floorDiv(at, 3600);
    if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'summed_through'")))
        return failed(q);
    const bool summed = q.next();
    qint64 from = summed ? q.value(0).toLongLong() + 1 : std::numeric_limits<qint64>::min();
    // An hour summed up before stays summed up, with the late refresh in it.
    if (summed)
        currentHour = std::max(currentHour, from);
    from = std::min(from, firstHour);
    if (from >= currentHour)
        return true;

    q.prepare(QStringLiteral("SELECT id, t FROM refreshes WHERE t < ? ORDER BY t"));
    q.addBindValue(currentHour * 3600);
    if (!q.exec())
        return failed(q);
    QList<qint64> ids;
    qint64 hour = 0;
    bool ok = true;
    while (ok && q.next()) {
        const qint64 h = floorDiv(q.value(1).toLongLong(), 3600);
        if (h < from)
            continue;
        if (!ids.isEmpty() && h != hour) {
            ok = aggregateHour(hour, ids);
            ids.clear();
        }
        hour = h;
        ids.append(q.value(0).toLongLong());
    }
    if (ok && !ids.isEmpty())
        ok = aggregateHour(hour, ids);
    if (!ok)
        return false;

    q.prepare(
        QStringLiteral("INSERT OR REPLACE INTO meta(name, value) VALUES ('summed_through', ?)"));
    q.addBindValue(currentHour - 1);
    if (!q.exec())
        return failed(q);

    // Samples for 48 hours (or the whole period when it is shorter); figures for the period.
    const qint64 keep = std::min<qint64>(SampleKeepSecs, qint64(m_days) * 86400);
    q.prepare(QStringLiteral("SELECT max(id) FROM refreshes WHERE t < ?"));
    q.addBindValue(at - keep);
    if (!q.exec() || !q.next())
        return failed(q);
    if (!q.value(0).isNull()) {
        const qint64 last = q.value(0).toLongLong();
        QSqlQuery d(db);
        d.prepare(QStringLiteral("DELETE FROM samples WHERE id < ?"));
        d.addBindValue((last + 1) << ServerBits);
        if (!d.exec())
            return failed(d);
        d.prepare(QStringLiteral("DELETE FROM refreshes WHERE id <= ?"));
        d.addBindValue(last);
        if (!d.exec())
            return failed(d);
    }
    const qint64 firstDay = floorDiv(at - qint64(m_days) * 86400, 86400);
    q.prepare(QStringLiteral("DELETE FROM hourly WHERE id < ?"));
    q.addBindValue(firstDay << ServerBits);
    return q.exec() || failed(q);
}

bool HistoryStore::aggregateHour(qint64 hour, const QList<qint64> &refreshIds)
{
    struct Sum
    {
        qint64 players = 0;
        int answers = 0;
        int peak = 0;
        int maxClients = -1;
        QHash<int, QPair<qint64, int>> maps; // map id -> players seen, samples
    };
    QHash<qint64, Sum> sums;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const qint64 first = *std::min_element(refreshIds.begin(), refreshIds.end());
    const qint64 last = *std::max_element(refreshIds.begin(), refreshIds.end());
    // The hour's refreshes are one run of ids but when another window's refresh of a
    // different hour came between them; those are then named one by one.
    QString only;
    if (last - first + 1 != refreshIds.size()) {
        QStringList ids;
        for (qint64 id : refreshIds)
            ids << QString::number(id);
        only = QStringLiteral(" AND (id >> %1) IN (%2)").arg(ServerBits).arg(ids.join(u','));
    }
    // Summed up by the database per server and map: a few rows per server to read.
    q.prepare(QStringLiteral("SELECT id & %1, coalesce(map_id, 0), sum(players), count(*),"
                             " max(players), max(max_clients) FROM samples"
                             " WHERE id >= ? AND id < ? AND players IS NOT NULL%2 GROUP BY 1, 2")
                  .arg(MaxServers)
                  .arg(only));
    q.addBindValue(first << ServerBits);
    q.addBindValue((last + 1) << ServerBits);
    if (!q.exec())
        return failed(q);
    while (q.next()) {
        Sum &s = sums[q.value(0).toLongLong()];
        const int map = q.value(1).toInt();
        const qint64 players = q.value(2).toLongLong();
        const int answers = q.value(3).toInt();
        s.players += players;
        s.answers += answers;
        s.peak = std::max(s.peak, q.value(4).toInt());
        if (!q.value(5).isNull())
            s.maxClients = std::max(s.maxClients, q.value(5).toInt());
        if (map > 0)
            s.maps.insert(map, {players, answers});
    }
    if (sums.isEmpty())
        return true;

    const qint64 day = floorDiv(hour, 24);
    const int slot = int(hour - day * 24);
    QHash<qint64, QByteArray> days;
    q.prepare(QStringLiteral("SELECT id, hours FROM hourly WHERE id >= ? AND id < ?"));
    q.addBindValue(day << ServerBits);
    q.addBindValue((day + 1) << ServerBits);
    if (!q.exec())
        return failed(q);
    while (q.next())
        days.insert(q.value(0).toLongLong() & MaxServers, q.value(1).toByteArray());

    QList<qint64> servers = sums.keys();
    std::sort(servers.begin(), servers.end());
    QSqlQuery write(db);
    write.prepare(QStringLiteral("INSERT OR REPLACE INTO hourly(id, hours) VALUES (?, ?)"));
    for (qint64 server : std::as_const(servers)) {
        const Sum &s = sums[server];
        QByteArray bytes = days.value(server);
        if (bytes.size() != DayBytes)
            bytes = emptyDay();
        int bestMap = 0;
        QPair<qint64, int> best{-1, -1};
        for (auto it = s.maps.constBegin(); it != s.maps.constEnd(); ++it)
            if (it.value() > best || (it.value() == best && it.key() < bestMap)) {
                best = it.value();
                bestMap = it.key();
            }
        writeU16(bytes, slot, 0, clampU16(std::llround(double(s.players) * 10 / s.answers)));
        writeU16(bytes, slot, 1, clampU16(s.peak));
        writeU16(bytes, slot, 2, s.maxClients < 0 ? NoFigure : clampU16(s.maxClients));
        writeU16(bytes, slot, 3, bestMap > NoFigure ? 0 : quint16(bestMap));
        write.bindValue(0, (day << ServerBits) + server);
        write.bindValue(1, bytes);
        if (!write.exec())
            return failed(write);
    }
    return true;
}

void HistoryStore::reloadSeen()
{
    m_seen.clear();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT key, last_seen, peak_day, peak FROM servers"
                               " WHERE last_seen IS NOT NULL")))
        return;
    while (q.next())
        m_seen.insert(q.value(0).toString(),
                      {q.value(1).toLongLong(), q.value(2).toLongLong(),
                       q.value(3).isNull() ? -1 : q.value(3).toInt()});
}

bool HistoryStore::clear()
{
    if (!m_open)
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    bool ok = q.exec(QStringLiteral("BEGIN IMMEDIATE"));
    for (const char *table : {"samples", "refreshes", "hourly", "servers", "maps", "meta"})
        ok = ok && q.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
    ok = ok && q.exec(QStringLiteral("COMMIT"));
    if (!ok) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    m_serverIds.clear();
    m_mapIds.clear();
    m_mapNames.clear();
    m_seen.clear();
    m_pending.clear();
    // The freed pages go back to the file system; another window may hold the
    // database, in which case they are reused later instead.
    q.exec(QStringLiteral("VACUUM"));
    return true;
}

std::optional<qint64> HistoryStore::lastSeen(const model::ServerKey &key) const
{
    const auto it = m_seen.constFind(key.toString());
    if (it == m_seen.constEnd() || it->lastSeen <= 0)
        return std::nullopt;
    return it->lastSeen;
}

int HistoryStore::peakToday(const model::ServerKey &key, qint64 now) const
{
    const auto it = m_seen.constFind(key.toString());
    if (it == m_seen.constEnd() || it->peakDay != localDay(now))
        return -1;
    return it->peak;
}

QList<HourFigure> HistoryStore::hourlyFigures(const model::ServerKey &key, qint64 from,
                                              qint64 to) const
{
    QList<HourFigure> figures;
    if (!m_open)
        return figures;
    const qint64 server = const_cast<HistoryStore *>(this)->serverId(key.toString(), false);
    if (server <= 0 || server > MaxServers)
        return figures;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT hours FROM hourly WHERE id = ?"));
    for (qint64 day = floorDiv(from, 86400); day <= floorDiv(to - 1, 86400); ++day) {
        q.addBindValue((day << ServerBits) + server);
        if (!q.exec() || !q.next())
            continue;
        const QByteArray bytes = q.value(0).toByteArray();
        if (bytes.size() != DayBytes)
            continue;
        for (int slot = 0; slot < 24; ++slot) {
            const qint64 start = (day * 24 + slot) * 3600;
            const quint16 avg = readU16(bytes, slot, 0);
            if (avg == NoFigure || start < floorDiv(from, 3600) * 3600 || start >= to)
                continue;
            const quint16 maxc = readU16(bytes, slot, 2);
            figures.append({start, avg / 10.0, readU16(bytes, slot, 1),
                            maxc == NoFigure ? -1 : int(maxc), mapName(readU16(bytes, slot, 3))});
        }
    }
    return figures;
}

ChartData HistoryStore::chartData(const model::ServerKey &key, qint64 now) const
{
    ChartData data;
    data.avgByHour.fill(-1);
    if (!m_open)
        return data;
    const qint64 server = const_cast<HistoryStore *>(this)->serverId(key.toString(), false);
    if (server <= 0 || server > MaxServers)
        return data;

    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT r.t, s.players, s.max_clients FROM refreshes r"
                             " JOIN samples s ON s.id = (r.id << %1) + ?"
                             " WHERE r.t > ? AND r.t <= ? ORDER BY r.t")
                  .arg(ServerBits));
    q.addBindValue(server);
    q.addBindValue(now - 86400);
    q.addBindValue(now);
    if (q.exec())
        while (q.next()) {
            ChartData::Point p;
            p.at = q.value(0).toLongLong();
            p.answered = !q.value(1).isNull();
            p.players = q.value(1).toInt();
            p.maxClients = q.value(2).isNull() ? -1 : q.value(2).toInt();
            data.day.append(p);
        }

    std::array<double, 24> sum{};
    std::array<int, 24> count{};
    for (const HourFigure &f : hourlyFigures(key, now - 7 * 86400, now)) {
        const int local = QDateTime::fromSecsSinceEpoch(f.hourStart, m_zone).time().hour();
        sum[local] += f.avgPlayers;
        ++count[local];
    }
    for (int h = 0; h < 24; ++h)
        if (count[h] > 0)
            data.avgByHour[h] = sum[h] / count[h];
    return data;
}

} // namespace tarvex::history
