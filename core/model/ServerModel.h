#pragma once

#include "core/model/ServerKey.h"
#include "core/model/ServerRecord.h"

#include "core/filter/ServerFilter.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QVariant>

#include <functional>
#include <vector>

namespace tarvex::model {

// The browser's servers, one row per server in the order they were first listed. Every
// update names its server by key; nothing is found by a cell's text.
class ServerModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        ColName = 0,
        ColAddress,
        ColPlayers,
        ColMap,
        ColPing,
        ColGamePing, // the status query's round trip
        ColMod,
        ColType,
        ColLock, // a mark for a password-protected server
        ColCountry,
        ColLastSeen, // for a server silent now: when it last answered (the history's)
        ColPeakToday, // the most players the history saw on it today
        ColumnCount
    };
    enum Role {
        SortRole = Qt::UserRole + 1, // the typed value a column sorts by
        KeyRole, // the row's ServerKey
        FavouriteRole, // bool: one of the user's favourites
        BuddyRole, // bool: a buddy is playing there
        FlagRole, // the country's flag picture (a file path), when there is one
    };
    static const QString LockMark;

    // Texts of the cells that tell a server did not answer.
    static const QString NoAnswerMark;
    static const QString DownMark;

    explicit ServerModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Forgets every server.
    void clear();
    // Room for this many servers, when a list's length is known before it is added.
    void reserve(int servers);

    // Many updates at once tell views once, as a reset, instead of row by row: a list
    // of tens of thousands of servers is filled in one step.
    class Batch
    {
    public:
        explicit Batch(ServerModel &m)
            : m_model(m)
        {
            m_model.beginBatch();
        }
        ~Batch() { m_model.endBatch(); }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        ServerModel &m_model;
    };

    // A source listed the server: adds its row, or adds the source to the row it has.
    // The page's texts win over a source that gives the address only. Returns the row.
    int upsertListed(const ServerKey &key, const QString &source, const ListedTexts &texts);
    // The updates below return false, and change nothing, for a server not listed.
    bool setAsking(const ServerKey &key);
    bool setAnswer(const ServerKey &key, const status::ServerStatus &answer, int rttMs,
                   qint64 atMs = 0);
    bool setFailed(const ServerKey &key, bool down);
    bool setPing(const ServerKey &key, int ms);
    bool setPingError(const ServerKey &key, const QString &error);

    // The country of a server, asked once when it is listed (empty: unknown).
    using CountryOf = std::function<QString(const ServerKey &)>;
    void setCountryLookup(CountryOf lookup, QString flagFolder = {});
    // Marks the favourites and the servers a buddy plays on.
    void setFavourites(const QSet<ServerKey> &favourites);
    void setBuddies(const QStringList &names);
    bool isBuddyName(const QString &playerName) const;
    // Servers listed, servers that answered, and the players on them.
    struct Totals
    {
        int servers = 0;
        int players = 0;
        int withBuddies = 0;
    };

    // The history's figures for every server (lastSeenSecs, peakToday), in one step.
    void setHistoryFigures(const std::function<std::pair<qint64, int>(const ServerKey &)> &of);

    int rowOf(const ServerKey &key) const { return m_rowByKey.value(key, -1); }
    const ServerRecord &record(int row) const { return m_records.at(row); }
    const ServerRecord *find(const ServerKey &key) const;

    // The cell text a view shows.
    static QString displayText(const ServerRecord &r, int column);
    // Whether left sorts before right by column (ascending), and whether a server has
    // no value for column, so that it sorts after the others both ways.
    static bool lessByColumn(const ServerRecord &left, const ServerRecord &right, int column);
    static bool sortsLast(const ServerRecord &r, int column);

private:
    friend class ServerSortProxy;
    // Brings the sort forms the column needs up to date.
    void prepareSort(int column);
    void beginBatch();
    void endBatch();
    template<typename F>
    bool update(const ServerKey &key, int firstColumn, int lastColumn, F change);

    void markBuddy(ServerRecord &r) const;

    QList<ServerRecord> m_records;
    QHash<ServerKey, int> m_rowByKey;
    CountryOf m_countryOf;
    QString m_flagFolder;
    mutable QHash<QString, QString> m_flagByCode;
    QSet<ServerKey> m_favourites;
    QSet<QString> m_buddies; // folded names
    int m_batchDepth = 0;
};

// Sorts the servers by the typed value of the pressed column; servers that did not
// answer (or have no value there) stay after the others in both directions. It also
// leaves out the servers the filter does not keep; rows are filtered when the filter
// changes or refilter() is called, never under the user's pointer as answers come in.
class ServerSortProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit ServerSortProxy(QObject *parent = nullptr);
    void setSourceModel(QAbstractItemModel *model) override;
    ServerModel *serverModel() const { return m_model; }
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    void setFilterOptions(const filter::FilterOptions &options);
    const filter::FilterOptions &filterOptions() const { return m_options; }
    // Applies the filter again to what the model holds now.
    void refilter();
    // The servers shown and the players on them.
    ServerModel::Totals shownTotals() const;

    // The values the filter reads from a server.
    static filter::FilterInput filterInput(const ServerRecord &r);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    void modelChanged();
    void gather(); // the index and the counts, from what the model holds now
    bool filtering() const { return m_options != filter::FilterOptions(); }

    ServerModel *m_model = nullptr;
    // Per source row, as of the last sort: its place by value, and whether it goes last.
    QList<int> m_rank;
    QList<bool> m_last;
    bool m_sorting = false; // sort() is running: the ranks are fresh
    filter::FilterOptions m_options;
    filter::FilterIndex m_index;
    bool m_indexStale = true;
    std::vector<char> m_accepted; // by source row, as of the last filtering
    // By source row, gathered with the index: the players counted and a buddy's mark.
    std::vector<int> m_players;
    std::vector<char> m_buddy;
};

} // namespace tarvex::model

Q_DECLARE_METATYPE(tarvex::model::ServerKey)
