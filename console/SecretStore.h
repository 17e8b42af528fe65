#pragma once

#include <QHash>
#include <QObject>
#include <QString>

namespace tarvex {

// Passwords remembered per server in the desktop's secret service (through
// qtkeychain), never in the settings file. Every call returns at once; the answer
// comes as a signal once the service has replied. Built without qtkeychain, nothing
// is remembered and every call answers with the reason.
class SecretStore : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Join, Rcon };

    explicit SecretStore(QObject *parent = nullptr);

    // Whether passwords can be remembered at all, and why not (for a tooltip).
    static bool available();
    static QString unavailableReason();

    // The entry name of kind's password for the server at host:port.
    static QString key(Kind kind, const QString &host, quint16 port);

    // Tests keep the passwords in memory instead of the desktop's service: while store
    // is set, every call reads and writes it and answers after returning, as the service
    // does. Null goes back to the service.
    static void useMemoryForTests(QHash<QString, QString> *store);

    void read(const QString &key);
    void write(const QString &key, const QString &password);
    void remove(const QString &key);

signals:
    // error empty: found (password may be empty when nothing is stored: notFound).
    void readDone(const QString &key, const QString &password, bool notFound, const QString &error);
    void writeDone(const QString &key, const QString &error);
    void removeDone(const QString &key, const QString &error);

private:
    void readService(const QString &key);
    void writeService(const QString &key, const QString &password);
    void removeService(const QString &key);
};

} // namespace tarvex
