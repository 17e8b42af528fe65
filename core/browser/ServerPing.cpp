#include "core/browser/ServerPing.h"

#include "core/browser/Module1.h"

#include <cmath>

namespace tarvex::ServerPing {

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

Run Run::list(QList<Target> targets, int rows)
{
    Run run;
    run.m_targets = std::move(targets);
    run.m_rows = rows;
    run.m_answered = QList<bool>(run.m_targets.size(), false);
    return run;
}

Run Run::selected(const Target &target, int rows)
{
    Run run = list({target}, rows);
    run.m_selected = true;
    return run;
}

QStringList Run::hosts() const
{
    QStringList hosts;
    for (const Target &t : m_targets)
        hosts << Module1::HostPart(t.address);
    return hosts;
}

std::optional<Run::Answer> Run::answer(int index, const QVariant &result)
{
    if (index < 0 || index >= m_targets.size() || m_answered.at(index))
        return std::nullopt;
    m_answered[index] = true;
    ++m_done;
    const Target &t = m_targets.at(index);
    return Answer{t.key, result,
                  m_selected ? SelectedStatusPrefix + percentText(t.row, m_rows)
                             : ListStatusPrefix + percentText(m_done, m_rows)};
}

} // namespace tarvex::ServerPing
