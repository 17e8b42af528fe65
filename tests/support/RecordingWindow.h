#pragma once

#include "browser/frmTarvex.h"

#include <QPushButton>
#include <QStringList>
#include <QTest>

namespace tarvex::test {

// The main window with the steps of other features replaced by recorders, so that
// the load step and the refresh are seen on their own.
class RecordingWindow : public frmTarvex
{
public:
    explicit RecordingWindow(QStringList &log)
        : m_log(log)
    { }
    void mnuDirectory_Click() override { m_log << QStringLiteral("locate"); }
    void showAboutSplash() override { m_log << QStringLiteral("about"); }
    void Ping() override { m_log << QStringLiteral("ping"); }

private:
    QStringList &m_log;
};

// Object names of the enabled command buttons, in the window's order.
inline QStringList buttonStates(const frmTarvex &w)
{
    QStringList enabled;
    for (QPushButton *b : {w.cmdRefresh, w.cmdPing, w.Command1, w.cmdMoreInfo, w.cmdPingSelect}) {
        if (b->isEnabled())
            enabled << b->objectName();
    }
    return enabled;
}

// Runs the event loop until the window's refresh has ended, all its steps included
// (at most waitMs); false when it is still running then.
inline bool settle(const frmTarvex &w, int waitMs = 30000)
{
    return QTest::qWaitFor([&w] { return !w.refreshRunning(); }, waitMs);
}

inline const QStringList AllButtons{"cmdRefresh", "cmdPing", "Command1", "cmdMoreInfo",
                                    "cmdPingSelect"};

} // namespace tarvex::test
