#include "core/model/ServerModel.h"

#include "core/status/StatusReply.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <numeric>

namespace tarvex::model {

const QString ServerModel::NoAnswerMark = QStringLiteral("(no answer)");
const QString ServerModel::DownMark = QStringLiteral("(down)");
// A padlock; the view draws it as a picture when the font has none.
const QString ServerModel::LockMark = QString(QChar(0xD83D)) + QChar(0xDD12);

namespace {

// "n/max" into its two numbers; -1 for a part that is no number.
void readPlayers(const QString &text, int &players, int &max)
{
    players = max = -1;
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    bool ok = false;
    const int n = QStringView(text).left(slash < 0 ? text.size() : slash).trimmed().toInt(&ok);
    if (ok)
        players = n;
    if (slash >= 0) {
        QStringView rest = QStringView(text).mid(slash + 1);
        qsizetype digits = 0;
        while (digits < rest.size() && rest[digits].isDigit())
            ++digits;
        const int m = rest.left(digits).toInt(&ok);
        if (ok)
            max = m;
    }
}

// Keeps the sort forms of the shown texts in step with the record, so that sorting
// compares ready values rather than building and folding texts for every comparison.
// The texts are folded when a sort needs them (foldTexts), not at every answer.
void refreshSortValues(ServerRecord &r)
{
    r.foldedStale = true;
    if (r.silent())
        r.shownPlayers = r.shownMax = -1;
    else
        readPlayers(ServerModel::displayText(r, ServerModel::ColPlayers), r.shownPlayers,
                    r.shownMax);
}

} // namespace

void foldTexts(ServerRecord &r)
{
    r.foldedName = ServerModel::displayText(r, ServerModel::ColName).toCaseFolded();
    r.foldedMap = ServerModel::displayText(r, ServerModel::ColMap).toCaseFolded();
    r.foldedStale = false;
}

ServerModel::ServerModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    qRegisterMetaType<ServerKey>();
}

int ServerModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_records.size());
}

int ServerModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ServerModel::displayText(const ServerRecord &r, int column)
{
    switch (column) {
    case ColName:
        // A page row keeps the page's name; other rows take the server's own.
        if (r.answered() && !r.listed.fromPage && !r.hostname.isEmpty())
            return r.hostname;
        return r.listed.name;
    case ColAddress:
        // As the list wrote it; a numeric key speaks for a source that gave no text.
        return r.listed.address.isEmpty() && r.key.isNumeric() ? r.key.toString()
                                                               : r.listed.address;
    case ColPlayers: {
        if (r.answered() && !r.playersText.isEmpty())
            return r.playersText;
        if (!r.silent())
            return r.listed.players;
        // The row stays; its players cell says that the server did not answer.
        const QString &mark = r.state == ServerState::Down ? DownMark : NoAnswerMark;
        return r.listed.players.isEmpty() ? mark : r.listed.players + QLatin1Char(' ') + mark;
    }
    case ColMap:
        if (r.answered() && !r.map.isEmpty())
            return r.map;
        return r.listed.map;
    case ColPing: return r.pingMs >= 0 ? QString::number(r.pingMs) : r.pingError;
    case ColGamePing:
        return r.answered() && r.queryRttMs >= 0 ? QString::number(r.queryRttMs) : QString();
    case ColMod: return r.answered() ? r.mod : QString();
    case ColType: return r.answered() ? r.gameType : QString();
    case ColLock: return r.answered() && r.passworded ? LockMark : QString();
    case ColCountry: return r.country.toUpper();
    case ColLastSeen:
        return r.silent() && r.lastSeenSecs > 0
            ? agoText(r.lastSeenSecs, QDateTime::currentSecsSinceEpoch())
            : QString();
    case ColPeakToday: return r.peakToday >= 0 ? QString::number(r.peakToday) : QString();
    }
    return {};
}

bool ServerModel::sortsLast(const ServerRecord &r, int column)
{
    // Last Seen is told for the silent servers alone: they lead there.
    if (column == ColLastSeen)
        return !r.silent() || r.lastSeenSecs <= 0;
    if (r.silent())
        return true;
    switch (column) {
    case ColPlayers: return r.shownPlayers < 0;
    case ColPing: return r.pingMs < 0;
    case ColGamePing: return !r.answered() || r.queryRttMs < 0;
    case ColMod:
    case ColType: return !r.answered();
    case ColCountry: return r.country.isEmpty();
    case ColPeakToday: return r.peakToday < 0;
    }
    return false;
}

bool ServerModel::lessByColumn(const ServerRecord &left, const ServerRecord &right, int column)
{
    // A record whose folded texts wait for a sort is folded here, for this comparison.
    const auto folded = [column](const ServerRecord &r) {
        if (!r.foldedStale)
            return column == ColName ? r.foldedName : r.foldedMap;
        return displayText(r, column).toCaseFolded();
    };
    switch (column) {
    case ColName:
        if (!left.foldedStale && !right.foldedStale)
            return left.foldedName < right.foldedName;
        return folded(left) < folded(right);
    case ColAddress:
        // Numeric addresses by number, before the host names, which go by text.
        if (left.key.isNumeric() != right.key.isNumeric())
            return left.key.isNumeric();
        if (left.key.isNumeric())
            return left.key.packed() < right.key.packed();
        return left.key.host.compare(right.key.host, Qt::CaseInsensitive) < 0;
    case ColPlayers:
        if (left.shownPlayers != right.shownPlayers)
            return left.shownPlayers < right.shownPlayers;
        return left.shownMax < right.shownMax;
    case ColMap:
        if (!left.foldedStale && !right.foldedStale)
            return left.foldedMap < right.foldedMap;
        return folded(left) < folded(right);
    case ColPing: return left.pingMs < right.pingMs;
    case ColGamePing: return left.queryRttMs < right.queryRttMs;
    case ColMod: return left.mod.compare(right.mod, Qt::CaseInsensitive) < 0;
    case ColType: return left.gameType < right.gameType;
    case ColLock: return left.passworded < right.passworded;
    case ColCountry: return left.country < right.country;
    case ColLastSeen: return left.lastSeenSecs > right.lastSeenSecs; // the latest first
    case ColPeakToday: return left.peakToday < right.peakToday;
    }
    return false;
}

QVariant ServerModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_records.size())
        return {};
    const ServerRecord &r = m_records.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return displayText(r, index.column());
    case KeyRole: return QVariant::fromValue(r.key);
    case FavouriteRole: return r.favourite;
    case BuddyRole: return r.buddy;
    case Qt::ToolTipRole:
        if (index.column() == ColLock && r.answered() && r.passworded)
            return QStringLiteral("password protected");
        return {};
    case FlagRole: {
        if (index.column() != ColCountry || r.country.isEmpty() || m_flagFolder.isEmpty())
            return {};
        auto flag = m_flagByCode.constFind(r.country);
        if (flag == m_flagByCode.constEnd()) {
            const QString path = m_flagFolder + u'/' + r.country + QStringLiteral(".png");
            flag = m_flagByCode.insert(r.country, QFileInfo(path).isFile() ? path : QString());
        }
        return flag->isEmpty() ? QVariant() : QVariant(*flag);
    }
    case SortRole:
        if (sortsLast(r, index.column()))
            return {};
        switch (index.column()) {
        case ColAddress: return r.key.isNumeric() ? QVariant(r.key.packed()) : QVariant(r.key.host);
        case ColPlayers: return r.shownPlayers;
        case ColPing: return r.pingMs;
        case ColGamePing: return r.queryRttMs;
        case ColLock: return r.passworded;
        case ColLastSeen: return -r.lastSeenSecs;
        case ColPeakToday: return r.peakToday;
        default: return displayText(r, index.column());
        }
    }
    return {};
}

QVariant ServerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal
        || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const titles[] = {"Server List", "Address",   "Players",   "Map",
                                         "Ping",        "Game Ping", "Mod",       "Type",
                                         "Lock",        "Country",   "Last Seen", "Peak Today"};
    if (section < 0 || section >= ColumnCount)
        return {};
    return QLatin1String(titles[section]);
}

void ServerModel::setHistoryFigures(
    const std::function<std::pair<qint64, int>(const ServerKey &)> &of)
{
    if (m_records.isEmpty())
        return;
    for (ServerRecord &r : m_records)
        std::tie(r.lastSeenSecs, r.peakToday) = of(r.key);
    if (!m_batchDepth)
        emit dataChanged(index(0, ColLastSeen), index(rowCount() - 1, ColPeakToday));
}

void ServerModel::prepareSort(int column)
{
    if (column != ColName && column != ColMap)
        return;
    for (ServerRecord &r : m_records) {
        if (r.foldedStale)
            foldTexts(r);
    }
}

void ServerModel::clear()
{
    beginResetModel();
    m_records.clear();
    m_rowByKey.clear();
    endResetModel();
}

void ServerModel::reserve(int servers)
{
    m_records.reserve(servers);
    m_rowByKey.reserve(servers);
}

void ServerModel::beginBatch()
{
    if (m_batchDepth++ == 0)
        beginResetModel();
}

void ServerModel::endBatch()
{
    if (--m_batchDepth == 0)
        endResetModel();
}

int ServerModel::upsertListed(const ServerKey &key, const QString &source, const ListedTexts &texts)
{
    int row = rowOf(key);
    if (row < 0) {
        row = int(m_records.size());
        if (!m_batchDepth)
            beginInsertRows({}, row, row);
        ServerRecord r;
        r.key = key;
        r.sources.append(source);
        r.listed = texts;
        refreshSortValues(r);
        if (m_countryOf)
            r.country = m_countryOf(key);
        r.favourite = m_favourites.contains(key);
        m_records.append(std::move(r));
        m_rowByKey.insert(key, row);
        if (!m_batchDepth)
            endInsertRows();
        return row;
    }
    ServerRecord &r = m_records[row];
    if (!r.sources.contains(source))
        r.sources.append(source);
    // The page's texts replace an address-only entry; a later address-only one
    // leaves the page's texts alone.
    if (texts.fromPage || !r.listed.fromPage) {
        const bool hadTexts =
            !r.listed.name.isEmpty() || !r.listed.players.isEmpty() || !r.listed.map.isEmpty();
        const bool hasTexts =
            !texts.name.isEmpty() || !texts.players.isEmpty() || !texts.map.isEmpty();
        if (texts.fromPage || hasTexts || !hadTexts) {
            const QString address = r.listed.address;
            r.listed = texts;
            if (r.listed.address.isEmpty())
                r.listed.address = address;
            refreshSortValues(r);
        }
    }
    if (!m_batchDepth)
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    return row;
}

template<typename F>
bool ServerModel::update(const ServerKey &key, int firstColumn, int lastColumn, F change)
{
    const int row = rowOf(key);
    if (row < 0)
        return false;
    change(m_records[row]);
    if (!m_batchDepth)
        emit dataChanged(index(row, firstColumn), index(row, lastColumn));
    return true;
}

bool ServerModel::setAsking(const ServerKey &key)
{
    return update(key, ColPlayers, ColPlayers, [](ServerRecord &r) {
        r.state = ServerState::Asking;
        refreshSortValues(r);
    });
}

bool ServerModel::setAnswer(const ServerKey &key, const status::ServerStatus &answer, int rttMs,
                            qint64 atMs)
{
    return update(key, ColName, ColumnCount - 1, [&](ServerRecord &r) {
        r.state = ServerState::Answered;
        r.takeAnswer(answer);
        r.queryRttMs = rttMs;
        r.answeredAtMs = atMs ? atMs : QDateTime::currentMSecsSinceEpoch();
        refreshSortValues(r);
        markBuddy(r);
    });
}

bool ServerModel::setFailed(const ServerKey &key, bool down)
{
    return update(key, ColName, ColumnCount - 1, [&](ServerRecord &r) {
        r.state = down ? ServerState::Down : ServerState::NoAnswer;
        refreshSortValues(r);
    });
}

bool ServerModel::setPing(const ServerKey &key, int ms)
{
    return update(key, ColPing, ColPing, [&](ServerRecord &r) {
        r.pingMs = qMax(0, ms);
        r.pingError.clear();
    });
}

bool ServerModel::setPingError(const ServerKey &key, const QString &error)
{
    return update(key, ColPing, ColPing, [&](ServerRecord &r) {
        r.pingMs = -1;
        r.pingError = error;
    });
}

void ServerModel::setCountryLookup(CountryOf lookup, QString flagFolder)
{
    m_countryOf = std::move(lookup);
    m_flagFolder = std::move(flagFolder);
    m_flagByCode.clear();
    for (ServerRecord &r : m_records)
        r.country = m_countryOf ? m_countryOf(r.key) : QString();
    if (!m_records.isEmpty())
        emit dataChanged(index(0, ColCountry), index(rowCount() - 1, ColCountry));
}

void ServerModel::setFavourites(const QSet<ServerKey> &favourites)
{
    m_favourites = favourites;
    for (int row = 0; row < m_records.size(); ++row) {
        ServerRecord &r = m_records[row];
        const bool favourite = m_favourites.contains(r.key);
        if (favourite == r.favourite)
            continue;
        r.favourite = favourite;
        if (!m_batchDepth)
            emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
}

void ServerModel::setBuddies(const QStringList &names)
{
    m_buddies.clear();
    for (const QString &name : names)
        if (!name.trimmed().isEmpty())
            m_buddies.insert(name.trimmed().toCaseFolded());
    for (int row = 0; row < m_records.size(); ++row) {
        ServerRecord &r = m_records[row];
        const bool before = r.buddy;
        markBuddy(r);
        if (before != r.buddy && !m_batchDepth)
            emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
}

bool ServerModel::isBuddyName(const QString &playerName) const
{
    return !m_buddies.isEmpty() && m_buddies.contains(playerName.trimmed().toCaseFolded());
}

void ServerModel::markBuddy(ServerRecord &r) const
{
    r.buddy = false;
    if (m_buddies.isEmpty() || !r.answered() || r.playerCount() == 0)
        return;
    for (const PlayerInfo &p : r.players())
        if (isBuddyName(p.name)) {
            r.buddy = true;
            return;
        }
}

const ServerRecord *ServerModel::find(const ServerKey &key) const
{
    const int row = rowOf(key);
    return row < 0 ? nullptr : &m_records.at(row);
}

ServerSortProxy::ServerSortProxy(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(ServerModel::SortRole);
}

void ServerSortProxy::setSourceModel(QAbstractItemModel *model)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = qobject_cast<ServerModel *>(model);
    // Told before the proxy's own handlers run, so that new rows are never judged by
    // the marks of the rows they replace.
    if (m_model) {
        connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this,
                &ServerSortProxy::modelChanged);
        connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this,
                &ServerSortProxy::modelChanged);
        connect(m_model, &QAbstractItemModel::dataChanged, this, [this] { m_indexStale = true; });
    }
    QSortFilterProxyModel::setSourceModel(model);
}

void ServerSortProxy::modelChanged()
{
    m_indexStale = true;
    m_accepted.clear();
    m_rank.clear();
    m_last.clear();
}

filter::FilterInput ServerSortProxy::filterInput(const ServerRecord &r)
{
    filter::FilterInput in;
    in.name = ServerModel::displayText(r, ServerModel::ColName);
    in.map = ServerModel::displayText(r, ServerModel::ColMap);
    in.mod = r.answered() ? r.mod : QString();
    in.address = ServerModel::displayText(r, ServerModel::ColAddress);
    in.players = qMax(0, r.shownPlayers);
    in.maxPlayers = qMax(0, r.shownMax);
    in.answered = r.answered();
    in.passworded = r.answered() && r.passworded;
    in.favourite = r.favourite;
    in.gamePing = r.answered() ? r.queryRttMs : -1;
    return in;
}

void ServerSortProxy::setFilterOptions(const filter::FilterOptions &options)
{
    if (options == m_options)
        return;
    m_options = options;
    refilter();
}

void ServerSortProxy::gather()
{
    const int rows = m_model->rowCount();
    m_index.clear();
    m_index.reserve(rows);
    m_players.assign(size_t(rows), 0);
    m_buddy.assign(size_t(rows), 0);
    for (int row = 0; row < rows; ++row) {
        const ServerRecord &r = m_model->record(row);
        m_index.append(filterInput(r));
        m_players[size_t(row)] = r.answered() ? r.playerCount() : 0;
        m_buddy[size_t(row)] = r.buddy ? 1 : 0;
    }
    m_indexStale = false;
}

void ServerSortProxy::refilter()
{
    m_accepted.clear();
    if (m_model && (m_indexStale || m_index.size() != m_model->rowCount()))
        gather();
    if (m_model && filtering())
        m_index.apply(m_options, m_accepted);
    invalidateFilter();
}

bool ServerSortProxy::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    if (!m_model || !filtering())
        return true;
    if (size_t(sourceRow) < m_accepted.size())
        return m_accepted[size_t(sourceRow)] != 0;
    // A row listed since the last filtering is judged alone.
    return filter::accepts(m_options, filterInput(m_model->record(sourceRow)));
}

ServerModel::Totals ServerSortProxy::shownTotals() const
{
    ServerModel::Totals totals;
    if (!m_model)
        return totals;
    totals.servers = rowCount();
    const int rows = m_model->rowCount();
    if (!m_indexStale && m_players.size() == size_t(rows)
        && (!filtering() || m_accepted.size() == size_t(rows))) {
        // The counts gathered at the last filtering, over the rows it kept.
        for (size_t row = 0; row < size_t(rows); ++row) {
            if (filtering() && !m_accepted[row])
                continue;
            totals.players += m_players[row];
            totals.withBuddies += m_buddy[row];
        }
        return totals;
    }
    for (int row = 0; row < totals.servers; ++row) {
        const ServerRecord &r = m_model->record(mapToSource(index(row, 0)).row());
        if (r.answered())
            totals.players += r.playerCount();
        totals.withBuddies += r.buddy ? 1 : 0;
    }
    return totals;
}

void ServerSortProxy::sort(int column, Qt::SortOrder order)
{
    // Rank the rows once with plain comparisons of the records, then let the view sort
    // by those ranks: far cheaper than comparing texts through model indexes.
    m_rank.clear();
    m_last.clear();
    if (m_model && column >= 0 && column < ServerModel::ColumnCount) {
        m_model->prepareSort(column);
        const int rows = m_model->rowCount();
        m_last.resize(rows);
        for (int i = 0; i < rows; ++i)
            m_last[i] = ServerModel::sortsLast(m_model->record(i), column);
        QList<int> byValue(rows);
        std::iota(byValue.begin(), byValue.end(), 0);
        std::stable_sort(byValue.begin(), byValue.end(), [this, column](int a, int b) {
            return ServerModel::lessByColumn(m_model->record(a), m_model->record(b), column);
        });
        m_rank.resize(rows);
        int rank = 0;
        for (int i = 0; i < rows; ++i) {
            // Rows that compare equal share a rank, so the view keeps their order.
            if (i > 0
                && ServerModel::lessByColumn(m_model->record(byValue[i - 1]),
                                             m_model->record(byValue[i]), column))
                ++rank;
            m_rank[byValue[i]] = rank;
        }
    }
    m_sorting = true;
    QSortFilterProxyModel::sort(column, order);
    m_sorting = false;
    // The ranks stay for later filtering, which then keeps this order without comparing
    // texts again; a change of the list drops them.
}

bool ServerSortProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    if (!m_model)
        return QSortFilterProxyModel::lessThan(left, right);
    // Within sort(), and outside it while the order is the one last shown: the ready
    // ranks alone, without touching the records. A view that sorts as values change
    // compares the values themselves.
    if ((m_sorting || !dynamicSortFilter()) && left.row() < m_rank.size()
        && right.row() < m_rank.size() && m_last.size() == m_rank.size()) {
        const bool leftLast = m_last[left.row()];
        if (leftLast != m_last[right.row()])
            return sortOrder() == Qt::AscendingOrder ? !leftLast : leftLast;
        return m_rank[left.row()] < m_rank[right.row()];
    }
    const ServerRecord &l = m_model->record(left.row());
    const ServerRecord &r = m_model->record(right.row());
    const int column = left.column();
    const bool leftLast = ServerModel::sortsLast(l, column);
    if (leftLast != ServerModel::sortsLast(r, column)) {
        // A descending sort asks lessThan(right, left); answering the flipped question
        // keeps the servers without a value at the end both ways.
        return sortOrder() == Qt::AscendingOrder ? !leftLast : leftLast;
    }
    return ServerModel::lessByColumn(l, r, column);
}

} // namespace tarvex::model
