#include "core/browser/ServerPing.h"

#include "core/browser/Module1.h"
#include "core/grid/Grid.h"

#include <cmath>

namespace tarvex::ServerPing {

namespace {

constexpr int ColAddress = 1;
constexpr int ColPing = 4;

} // namespace

QString percentText(int row, int rows)
{
    if (rows == 0)
        return QStringLiteral("0%");
    const double percent = double(row) / double(rows) * 100.0;
    return QString::number(static_cast<long long>(std::floor(percent + 0.5))) + QLatin1Char('%');
}

QString resultText(const QVariant &result)
{
    if (!result.isValid() || result.isNull())
        return QString();
    return result.toString();
}

Run Run::list(const IGrid &grid)
{
    Run run;
    for (int row = 1; row < grid.Rows(); ++row)
        run.m_targets.append(
            {row, grid.hasCell(row, ColAddress) ? grid.TextMatrix(row, ColAddress) : QString()});
    run.m_answered = QList<bool>(run.m_targets.size(), false);
    return run;
}

Run Run::selected(const IGrid &grid, int row)
{
    Run run;
    run.m_selected = true;
    if (row >= 1 && row < grid.Rows() && grid.hasCell(row, ColAddress))
        run.m_targets.append({row, grid.TextMatrix(row, ColAddress)});
    run.m_answered = QList<bool>(run.m_targets.size(), false);
    return run;
}

QStringList Run::hosts() const
{
    QStringList hosts;
    for (const Target &t : m_targets)
        hosts << Module1::HostPart(t.address);
    return hosts;
}

QString Run::answer(IGrid &grid, int index, const QVariant &result)
{
    if (index < 0 || index >= m_targets.size() || m_answered.at(index))
        return QString();
    m_answered[index] = true;
    ++m_done;
    const Target &t = m_targets.at(index);
    if (grid.hasCell(t.row, ColPing) && grid.TextMatrix(t.row, ColAddress) == t.address)
        grid.setTextMatrix(t.row, ColPing, resultText(result));
    return m_selected ? SelectedStatusPrefix + percentText(t.row, grid.Rows())
                      : ListStatusPrefix + percentText(m_done, grid.Rows());
}

} // namespace tarvex::ServerPing
