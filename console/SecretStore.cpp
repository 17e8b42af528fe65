#include "console/SecretStore.h"

#include <QTimer>

#ifdef TARVEX_HAVE_KEYCHAIN
#include <qt6keychain/keychain.h>
#endif

namespace tarvex {

namespace {
const QString Service = QStringLiteral("Tarvex");

QHash<QString, QString> *&memory()
{
    static QHash<QString, QString> *store = nullptr;
    return store;
}
} // namespace

void SecretStore::useMemoryForTests(QHash<QString, QString> *store) { memory() = store; }

SecretStore::SecretStore(QObject *parent)
    : QObject(parent)
{ }

bool SecretStore::available()
{
    if (memory())
        return true;
#ifdef TARVEX_HAVE_KEYCHAIN
    return true;
#else
    return false;
#endif
}

QString SecretStore::unavailableReason()
{
    if (available())
        return {};
    return QStringLiteral("Passwords cannot be remembered: this build has no access to the "
                          "desktop's secret service (qtkeychain was missing when it was built).");
}

QString SecretStore::key(Kind kind, const QString &host, quint16 port)
{
    return QStringLiteral("%1 %2:%3")
        .arg(kind == Kind::Join ? QStringLiteral("join") : QStringLiteral("rcon"), host.toLower())
        .arg(port);
}

void SecretStore::read(const QString &key)
{
    if (!memory()) {
        readService(key);
        return;
    }
    QTimer::singleShot(0, this, [this, key] {
        const QHash<QString, QString> *store = memory();
        const bool found = store && store->contains(key);
        emit readDone(key, found ? store->value(key) : QString(), !found, QString());
    });
}

void SecretStore::write(const QString &key, const QString &password)
{
    if (!memory()) {
        writeService(key, password);
        return;
    }
    memory()->insert(key, password);
    QTimer::singleShot(0, this, [this, key] { emit writeDone(key, QString()); });
}

void SecretStore::remove(const QString &key)
{
    if (!memory()) {
        removeService(key);
        return;
    }
    memory()->remove(key);
    QTimer::singleShot(0, this, [this, key] { emit removeDone(key, QString()); });
}

#ifdef TARVEX_HAVE_KEYCHAIN

void SecretStore::readService(const QString &key)
{
    auto *job = new QKeychain::ReadPasswordJob(Service, this);
    job->setAutoDelete(true);
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this, [this, key](QKeychain::Job *done) {
        auto *reading = static_cast<QKeychain::ReadPasswordJob *>(done);
        const bool notFound = done->error() == QKeychain::EntryNotFound;
        const QString error =
            done->error() == QKeychain::NoError || notFound ? QString() : done->errorString();
        emit readDone(key, notFound ? QString() : reading->textData(), notFound, error);
    });
    job->start();
}

void SecretStore::writeService(const QString &key, const QString &password)
{
    auto *job = new QKeychain::WritePasswordJob(Service, this);
    job->setAutoDelete(true);
    job->setKey(key);
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [this, key](QKeychain::Job *done) {
        emit writeDone(key, done->error() == QKeychain::NoError ? QString() : done->errorString());
    });
    job->start();
}

void SecretStore::removeService(const QString &key)
{
    auto *job = new QKeychain::DeletePasswordJob(Service, this);
    job->setAutoDelete(true);
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this, [this, key](QKeychain::Job *done) {
        const bool ok =
            done->error() == QKeychain::NoError || done->error() == QKeychain::EntryNotFound;
        emit removeDone(key, ok ? QString() : done->errorString());
    });
    job->start();
}

#else

// Without the secret service every answer is the reason, given after the call returns
// as the service's answers would be.
void SecretStore::readService(const QString &key)
{
    QTimer::singleShot(0, this,
                       [this, key] { emit readDone(key, QString(), true, unavailableReason()); });
}

void SecretStore::writeService(const QString &key, const QString &)
{
    QTimer::singleShot(0, this, [this, key] { emit writeDone(key, unavailableReason()); });
}

void SecretStore::removeService(const QString &key)
{
    QTimer::singleShot(0, this, [this, key] { emit removeDone(key, unavailableReason()); });
}

#endif

} // namespace tarvex
