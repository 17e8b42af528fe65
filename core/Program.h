#pragma once

#include <QObject>
#include <functional>

namespace tarvex::Program {

// Ends the program. Closing the main window (or a launch with "Close On Game Startup")
// ends the program at once, even while a modal box waits for the user: nothing after
// that point runs, and no other window's close step runs. Settings are written when
// they change, so ending without unwinding loses nothing. In the program this call does
// not return.
void end(int exitCode = 0);

// Tests replace the real end with a handler that records it. end() then returns, and
// every step listening to notifier().ending() has stopped, so that nothing more runs
// after the end even in-process.
using EndHandler = std::function<void(int exitCode)>;
void setEndHandler(EndHandler handler);

// Emits ending() once per end(), before the end handler runs.
class Notifier final : public QObject
{
    Q_OBJECT

signals:
    void ending();
};
Notifier &notifier();

} // namespace tarvex::Program
