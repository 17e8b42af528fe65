#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace tarvex {

// The one way a handler waits for something while the windows go on: a local event
// loop that ends when the awaited thing calls finish(), when its time limit passes, or
// when the program ends (Program::notifier().ending()), whichever comes first. Connect
// the awaited signals with context() as their context, so they stop with the wait.
class NestedWait final
{
public:
    enum class Result {
        Finished, // finish() was called
        TimedOut, // the time limit passed first
        ProgramEnded, // the program is ending; nothing after the wait may run
    };

    NestedWait();
    NestedWait(const NestedWait &) = delete;
    NestedWait &operator=(const NestedWait &) = delete;

    // Ends the wait (or the next one, when none runs yet) with Finished.
    void finish();
    QObject *context() { return &m_loop; }

    // Waits at most timeoutMs (no limit when negative). Returns at once when finish()
    // came first or the program is already ending.
    Result exec(int timeoutMs = -1);

private:
    void stop(Result result);

    QEventLoop m_loop;
    QTimer m_limit;
    bool m_stopped = false;
    Result m_result = Result::Finished;
};

} // namespace tarvex
