#include "history/HistoryCharts.h"

#include <QDateTime>
#include <QLabel>
#include <QStackedLayout>
#include <QVBoxLayout>

#ifdef TARVEX_HAVE_CHARTS
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#endif

namespace tarvex::history {

#ifdef TARVEX_HAVE_CHARTS
// The two charts, made once and refilled for each server.
class HistoryCharts::Charts
{
public:
    explicit Charts(QWidget *parent)
    {
        players = new QLineSeries;
        players->setName(QStringLiteral("Players"));
        ceiling = new QLineSeries;
        ceiling->setName(QStringLiteral("Max clients"));
        QPen dashed(Qt::gray);
        dashed.setStyle(Qt::DashLine);
        ceiling->setPen(dashed);
        auto *day = new QChart;
        day->setTitle(QStringLiteral("Players, last 24 hours"));
        day->addSeries(players);
        day->addSeries(ceiling);
        time = new QDateTimeAxis;
        time->setFormat(QStringLiteral("HH:mm"));
        day->addAxis(time, Qt::AlignBottom);
        dayCount = new QValueAxis;
        dayCount->setLabelFormat(QStringLiteral("%d"));
        day->addAxis(dayCount, Qt::AlignLeft);
        for (QLineSeries *s : {players, ceiling}) {
            s->attachAxis(time);
            s->attachAxis(dayCount);
        }
        day->legend()->setAlignment(Qt::AlignBottom);
        dayView = new QChartView(day, parent);
        dayView->setRenderHint(QPainter::Antialiasing);

        bars = new QBarSet(QStringLiteral("Average players"));
        auto *series = new QBarSeries;
        series->append(bars);
        auto *hours = new QChart;
        hours->setTitle(QStringLiteral("Average players by hour, last 7 days"));
        hours->addSeries(series);
        auto *names = new QBarCategoryAxis;
        for (int h = 0; h < 24; ++h)
            names->append(QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0')));
        hours->addAxis(names, Qt::AlignBottom);
        hourCount = new QValueAxis;
        hourCount->setLabelFormat(QStringLiteral("%.1f"));
        hours->addAxis(hourCount, Qt::AlignLeft);
        series->attachAxis(names);
        series->attachAxis(hourCount);
        hours->legend()->hide();
        hoursView = new QChartView(hours, parent);
    }

    void fill(const ChartData &data, qint64 now)
    {
        QList<QPointF> line, top;
        int most = 1;
        for (const ChartData::Point &p : data.day) {
            if (!p.answered)
                continue;
            line.append({double(p.at) * 1000, double(p.players)});
            most = std::max(most, p.players);
            if (p.maxClients >= 0) {
                top.append({double(p.at) * 1000, double(p.maxClients)});
                most = std::max(most, p.maxClients);
            }
        }
        players->replace(line);
        ceiling->replace(top);
        time->setRange(QDateTime::fromSecsSinceEpoch(now - 86400),
                       QDateTime::fromSecsSinceEpoch(now));
        dayCount->setRange(0, most);

        double highest = 1;
        bars->remove(0, bars->count());
        for (double v : data.avgByHour) {
            bars->append(std::max(0.0, v));
            highest = std::max(highest, v);
        }
        hourCount->setRange(0, highest);
    }

    QLineSeries *players, *ceiling;
    QDateTimeAxis *time;
    QValueAxis *dayCount, *hourCount;
    QBarSet *bars;
    QChartView *dayView, *hoursView;
};
#else
class HistoryCharts::Charts
{
};
#endif

HistoryCharts::HistoryCharts(HistoryStore *store, QWidget *parent)
    : QWidget(parent),
      m_store(store)
{
    setObjectName(QStringLiteral("HistoryCharts"));
    m_stack = new QStackedLayout(this);
    m_words = new QLabel(this);
    m_words->setObjectName(QStringLiteral("historyWords"));
    m_words->setWordWrap(true);
    m_words->setAlignment(Qt::AlignCenter);
    m_stack->addWidget(m_words);
    m_charts = new QWidget(this);
    auto *box = new QVBoxLayout(m_charts);
    box->setContentsMargins(0, 0, 0, 0);
#ifdef TARVEX_HAVE_CHARTS
    m_drawn = new Charts(m_charts);
    box->addWidget(m_drawn->dayView);
    box->addWidget(m_drawn->hoursView);
#endif
    m_stack->addWidget(m_charts);
    m_words->setText(QStringLiteral("No server selected."));
}

bool HistoryCharts::drawsCharts()
{
#ifdef TARVEX_HAVE_CHARTS
    return true;
#else
    return false;
#endif
}

bool HistoryCharts::showingCharts() const { return m_stack->currentWidget() == m_charts; }

QString HistoryCharts::text() const { return m_words->text(); }

void HistoryCharts::showServer(const model::ServerKey &key, qint64 now)
{
    if (now == 0)
        now = QDateTime::currentSecsSinceEpoch();
    const ChartData data = m_store ? m_store->chartData(key, now) : ChartData{};
    const QString words = describe(data);
    m_words->setText(words);
    setToolTip(words);
#ifdef TARVEX_HAVE_CHARTS
    if (!data.empty()) {
        m_drawn->fill(data, now);
        m_stack->setCurrentWidget(m_charts);
        return;
    }
#endif
    m_stack->setCurrentWidget(m_words);
}

QString HistoryCharts::describe(const ChartData &data)
{
    if (data.empty())
        return QStringLiteral("No history yet for this server.");
    QStringList parts;
    if (data.hasDay()) {
        int peak = 0, maxClients = -1, answers = 0;
        for (const ChartData::Point &p : data.day)
            if (p.answered) {
                ++answers;
                peak = std::max(peak, p.players);
                maxClients = std::max(maxClients, p.maxClients);
            }
        const QString counted =
            answers == 1 ? QStringLiteral("1 answer") : QStringLiteral("%1 answers").arg(answers);
        parts << (maxClients >= 0 ? QStringLiteral("Last 24 hours: at most %1 of %2 players (%3).")
                                        .arg(peak)
                                        .arg(maxClients)
                                        .arg(counted)
                                  : QStringLiteral("Last 24 hours: at most %1 players (%2).")
                                        .arg(peak)
                                        .arg(counted));
    } else {
        parts << QStringLiteral("No answer in the last 24 hours.");
    }
    if (data.hasHours()) {
        int busiest = 0;
        for (int h = 1; h < 24; ++h)
            if (data.avgByHour[h] > data.avgByHour[busiest])
                busiest = h;
        parts << QStringLiteral("Busiest hour over the last 7 days: %1:00, %2 players on average.")
                     .arg(busiest, 2, 10, QLatin1Char('0'))
                     .arg(data.avgByHour[busiest], 0, 'f', 1);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace tarvex::history
