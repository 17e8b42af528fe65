#include "core/model/ServerModel.h"

#include "core/status/StatusReply.h"

#include <QDateTime>
#include <algorithm>
#include <numeric>

namespace tarvex::model {

const QString ServerModel::NoAnswerMark = QStringLiteral("(no answer)");
const QString ServerModel::DownMark = QStringLiteral("(down)");

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
    }
    return {};
}

bool ServerModel::sortsLast(const ServerRecord &r, int column)
{
    if (r.silent())
        return true;
    switch (column) {
    case ColPlayers: return r.shownPlayers < 0;
    case ColPing: return r.pingMs < 0;
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
    case SortRole:
        if (sortsLast(r, index.column()))
            return {};
        switch (index.column()) {
        case ColAddress: return r.key.isNumeric() ? QVariant(r.key.packed()) : QVariant(r.key.host);
        case ColPlayers: return r.shownPlayers;
        case ColPing: return r.pingMs;
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
    static const char *const titles[] = {"Server List", "Address", "Players", "Map", "Ping"};
    if (section < 0 || section >= ColumnCount)
        return {};
    return QLatin1String(titles[section]);
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
    return update(key, ColName, ColMap, [&](ServerRecord &r) {
        r.state = ServerState::Answered;
        r.takeAnswer(answer);
        r.queryRttMs = rttMs;
        r.answeredAtMs = atMs ? atMs : QDateTime::currentMSecsSinceEpoch();
        refreshSortValues(r);
    });
}

bool ServerModel::setFailed(const ServerKey &key, bool down)
{
    return update(key, ColName, ColMap, [&](ServerRecord &r) {
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
    m_model = qobject_cast<ServerModel *>(model);
    QSortFilterProxyModel::setSourceModel(model);
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
    QSortFilterProxyModel::sort(column, order);
    m_rank.clear();
    m_last.clear();
}

bool ServerSortProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    if (!m_model)
        return QSortFilterProxyModel::lessThan(left, right);
    if (!m_rank.isEmpty()) {
        // Within sort(): the ready ranks alone, without touching the records.
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
