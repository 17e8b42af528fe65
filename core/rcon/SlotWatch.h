#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

class QUdpSocket;

namespace tarvex {

// Waits for a free slot on one full server: asks its status every 3 s (never faster),
// for at most 30 minutes, and says free() the moment it has fewer players than its
// maximum. Only answers from the server's own address and port count. Runs on the
// event loop; stop() ends it at any time.
class SlotWatch : public QObject
{
    Q_OBJECT

public:
    SlotWatch(const QHostAddress &address, quint16 port, QObject *parent = nullptr);
    ~SlotWatch() override;

    // Starts asking (the first ask at once); false with the reason in error() when no
    // socket could be opened.
    bool start();
    void stop();
    bool running() const { return m_running; }
    QString error() const { return m_error; }

    // Players over the limit at the last answer (players - maxclients + 1; 0 before an
    // answer, -1 when the server names no maximum).
    int ahead() const { return m_ahead; }
    // Whole seconds until the next ask.
    int secondsToNextAsk() const;

    // The pace and the limit, in milliseconds; the pace is never below 3 s unless a
    // test lowers the floor with allowFastPaceForTests.
    void setTimings(int intervalMs, int limitMs);
    void allowFastPaceForTests() { m_floorMs = 1; }

signals:
    // After every answer and every second between asks: for the status bar.
    void waiting(int ahead, int secondsToNextAsk);
    // A slot is free: players < maxclients. The watch has stopped.
    void free(int players, int maxClients);
    // The time limit passed without a free slot. The watch has stopped.
    void gaveUp();

private:
    void ask();
    void readPending();

    QHostAddress m_address;
    quint16 m_port;
    QUdpSocket *m_socket = nullptr;
    QTimer m_askTimer;
    QTimer m_tickTimer;
    QElapsedTimer m_since;
    QElapsedTimer m_sinceAsk;
    int m_intervalMs = 3000;
    int m_limitMs = 30 * 60 * 1000;
    int m_floorMs = 3000;
    int m_ahead = 0;
    bool m_running = false;
    QString m_error;
};

} // namespace tarvex
