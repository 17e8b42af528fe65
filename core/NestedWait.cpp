#include "core/NestedWait.h"

#include "core/Program.h"

namespace tarvex {

NestedWait::NestedWait()
{
    m_limit.setSingleShot(true);
    // A coarse timer may fire up to 5 % early, and a time-out is reported to the user.
    m_limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_limit, &QTimer::timeout, &m_loop, [this] { stop(Result::TimedOut); });
    QObject::connect(&Program::notifier(), &Program::Notifier::ending, &m_loop,
                     [this] { stop(Result::ProgramEnded); });
}

void NestedWait::finish() { stop(Result::Finished); }

void NestedWait::stop(Result result)
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_result = result;
    m_limit.stop();
    m_loop.quit();
}

NestedWait::Result NestedWait::exec(int timeoutMs)
{
    if (Program::endRequested())
        stop(Result::ProgramEnded);
    if (m_stopped)
        return m_result;
    if (timeoutMs >= 0)
        m_limit.start(timeoutMs);
    m_loop.exec();
    return m_result;
}

} // namespace tarvex
