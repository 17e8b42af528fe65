#pragma once

#include "core/history/HistoryStore.h"
#include "core/model/ServerKey.h"

#include <QWidget>

class QLabel;
class QStackedLayout;

namespace tarvex::history {

// One server's history: its players over the last 24 hours as a line under its maximum
// clients, and its average players for each hour of the day (local time) over the last
// 7 days as bars. A server without history, or a build without Qt Charts, gets words.
class HistoryCharts : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryCharts(HistoryStore *store, QWidget *parent = nullptr);

    // Shows key's history as of now (seconds since the epoch; 0: the clock's time).
    void showServer(const model::ServerKey &key, qint64 now = 0);
    // What the charts show, in words (also what is shown without Qt Charts).
    static QString describe(const ChartData &data);
    // Whether this build draws charts (it was built with Qt Charts).
    static bool drawsCharts();
    // Whether charts (rather than words) are shown at the moment.
    bool showingCharts() const;
    QString text() const;

private:
    HistoryStore *m_store;
    QStackedLayout *m_stack = nullptr;
    QLabel *m_words = nullptr;
    QWidget *m_charts = nullptr;
    class Charts;
    Charts *m_drawn = nullptr;
};

} // namespace tarvex::history
