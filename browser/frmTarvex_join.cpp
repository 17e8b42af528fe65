// The info pane under the grid, and joining: a server's password, and a wait for a
// free slot on a full server.
#include "browser/frmTarvex.h"

#include "browser/InfoPane.h"
#include "buddies/Notifier.h"
#include "console/PasswordDialog.h"
#include "console/SecretStore.h"
#include "core/browser/Module1.h"
#include "core/browser/Settings.h"
#include "core/model/ServerModel.h"
#include "core/rcon/JoinDecisions.h"
#include "core/rcon/SlotWatch.h"
#include "core/sources/ServerAddress.h"
#include "core/status/StatusEngine.h"
#include "ui/Dialogs.h"
#include "ui/ServerView.h"
#include "ui/WindowLayout.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QHash>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTimer>
#include <functional>
#include <optional>

namespace tarvex {

namespace {

const QString WindowSection = QStringLiteral("Window");
const QString KeyPaneShown = QStringLiteral("InfoPane");
const QString KeyPaneHeight = QStringLiteral("InfoPaneHeight");
constexpr int DefaultPaneHeight = 100; // pixels; the grid keeps the rest
constexpr int MinPaneHeight = 40;
constexpr int MaxPaneHeight = 4000;
// A selection that rests this long is asked for; moving through the list with the
// keys asks only the server the user stops at.
constexpr int AskAfterRestMs = 150;
// The secret service answers within this (a locked keyring asks the user first), or
// the dialog opens without its answer.
constexpr int SecretWaitMs = 5000;

} // namespace

// What the info pane and the joining keep between events.
class JoinState : public QObject
{
public:
    explicit JoinState(frmTarvex *window)
        : QObject(window),
          w(window),
          engine(new status::StatusEngine(this)),
          notifier(new buddies::Notifier(this))
    {
        askSoon.setSingleShot(true);
        askSoon.setInterval(AskAfterRestMs);
    }

    // --- the info pane ---
    void showChosen();
    void askChosen();
    void answered(const status::ServerStatus &answer, int ms);
    void failed(status::StatusEngine::Outcome outcome);
    std::optional<model::ServerKey> chosenKey() const { return w->Grid1->keyAt(w->Grid1->Row()); }

    // --- passwords ---
    // Asks for the password of the server at address (the remembered one filled in),
    // keeps or forgets it as the user chose, then hands it to then.
    void askPassword(const QString &name, const QString &address,
                     std::function<void(const QString &)> then);
    void passwordChosen(const QString &name, const QString &key, const QString &remembered,
                        std::function<void(const QString &)> then);

    // --- the wait for a free slot ---
    void startWaiting(const model::ServerKey &key, const QString &name, const QString &address,
                      const QString &location, const QString &password);
    void slotFreed(int players, int maxClients);

    frmTarvex *w;
    status::StatusEngine *engine;
    buddies::Notifier *notifier;
    QTimer askSoon;
    bool asks = false; // the pane may ask the chosen server
    qint64 maxAgeMs = JoinDecisions::DefaultMaxAnswerAgeMs;
    QHash<model::ServerKey, qint64> askedAt; // when the pane last asked each server
    std::optional<model::ServerKey> asking; // the server the pane's query is out for
    int paneHeight = DefaultPaneHeight;
    bool passwordOpen = false; // a password is being asked for

    SlotWatch *watch = nullptr;
    int watchIntervalMs = 3000;
    int watchLimitMs = 30 * 60 * 1000;
    bool fastPace = false;
    QString waitName, waitAddress, waitLocation, waitPassword;
    bool startingFromWatch = false;
};

void JoinState::showChosen()
{
    const model::ServerRecord *server = w->Grid1->recordAt(w->Grid1->Row());
    w->infoPane->showServer(server, server && asking && *asking == server->key);
}

void JoinState::askChosen()
{
    // The refresh is asking every server already; a closing window asks nothing.
    if (!asks || w->m_closing || w->statusRefreshRunning())
        return;
    const model::ServerRecord *server = w->Grid1->recordAt(w->Grid1->Row());
    if (!server)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!JoinDecisions::wantsFreshAnswer(*server, now, maxAgeMs, askedAt.value(server->key)))
        return;
    const model::ServerKey key = server->key;
    engine->cancel();
    asking.reset();
    if (!engine->start({sources::ServerAddress{key.ip, key.port}}))
        return; // no socket: the pane keeps what it has
    askedAt.insert(key, now);
    asking = key;
    showChosen();
}

void JoinState::answered(const status::ServerStatus &answer, int ms)
{
    if (!asking)
        return;
    const model::ServerKey key = *asking;
    asking.reset();
    // The model tells the grid and the pane.
    if (!w->m_servers->setAnswer(key, answer, ms))
        showChosen();
}

void JoinState::failed(status::StatusEngine::Outcome outcome)
{
    if (!asking)
        return;
    const model::ServerKey key = *asking;
    asking.reset();
    if (!w->m_servers->setFailed(key, outcome == status::StatusEngine::Outcome::Down))
        showChosen();
}

void JoinState::askPassword(const QString &name, const QString &address,
                            std::function<void(const QString &)> then)
{
    if (passwordOpen)
        return; // its dialog is on its way
    passwordOpen = true;
    const QString key = SecretStore::key(SecretStore::Kind::Join, Module1::HostPart(address),
                                         quint16(Module1::PortPart(address, 27910)));
    if (!SecretStore::available()) {
        passwordChosen(name, key, QString(), then);
        return;
    }
    // The remembered password, when there is one, is filled in; a service that does
    // not answer in time leaves the field empty rather than the user waiting.
    auto *store = new SecretStore(this);
    auto *late = new QTimer(store);
    late->setSingleShot(true);
    const QString before = w->Label1->text();
    // Whichever comes first, the answer or the time-out, goes on; the other is dropped
    // at once, since the dialog that follows runs its own event loop.
    const auto go = [this, store, late, name, key, then, before](const QString &remembered) {
        store->disconnect(this);
        late->disconnect(this);
        store->deleteLater();
        w->setStatus(before);
        passwordChosen(name, key, remembered, then);
    };
    connect(store, &SecretStore::readDone, this,
            [go](const QString &, const QString &password, bool notFound, const QString &error) {
                go(notFound || !error.isEmpty() ? QString() : password);
            });
    connect(late, &QTimer::timeout, this, [go] { go(QString()); });
    late->start(SecretWaitMs);
    w->setStatus(tr("Looking for the password remembered for %1...").arg(name));
    store->read(key);
}

void JoinState::passwordChosen(const QString &name, const QString &key, const QString &remembered,
                               std::function<void(const QString &)> then)
{
    PasswordDialog dialog(name, w);
    dialog.setPassword(remembered, !remembered.isEmpty());
    ui::execDialog(&dialog);
    passwordOpen = false;
    if (w->m_closing || dialog.result() != QDialog::Accepted)
        return;
    const QString password = dialog.password();
    const bool keep = dialog.remember();
    if (!keep && remembered.isEmpty()) {
        then(password);
        return;
    }
    // Kept or forgotten before going on: a game start may end the program, and the
    // service's answer must not be lost with it.
    auto *store = new SecretStore(this);
    auto *late = new QTimer(store);
    late->setSingleShot(true);
    const QPointer<frmTarvex> window(w);
    const auto go = [this, store, late, window, then, password](const QString &error) {
        store->disconnect(this);
        late->disconnect(this);
        store->deleteLater();
        if (!window || window->m_closing)
            return;
        if (!error.isEmpty())
            window->setStatus(tr("The password was not remembered: %1").arg(error));
        then(password);
    };
    const auto done = [go](const QString &, const QString &error) { go(error); };
    connect(store, &SecretStore::writeDone, this, done);
    connect(store, &SecretStore::removeDone, this, done);
    connect(late, &QTimer::timeout, this,
            [go] { go(tr("the desktop's secret service did not answer")); });
    late->start(SecretWaitMs);
    if (keep)
        store->write(key, password);
    else
        store->remove(key);
}

void JoinState::startWaiting(const model::ServerKey &key, const QString &name,
                             const QString &address, const QString &location,
                             const QString &password)
{
    delete watch;
    watch = new SlotWatch(QHostAddress(key.ip), key.port, this);
    if (fastPace)
        watch->allowFastPaceForTests();
    watch->setTimings(watchIntervalMs, watchLimitMs);
    waitName = name;
    waitAddress = address;
    waitLocation = location;
    waitPassword = password;
    connect(watch, &SlotWatch::waiting, this, [this](int ahead, int seconds) {
        w->setStatus(JoinDecisions::waitingText(waitName, ahead, seconds));
    });
    connect(watch, &SlotWatch::free, this, &JoinState::slotFreed);
    connect(watch, &SlotWatch::gaveUp, this, [this] {
        w->mnuJoinWhenFree->setChecked(false);
        w->setStatus(tr("No slot came free on %1 within %2 minutes; stopped waiting.")
                         .arg(waitName)
                         .arg(watchLimitMs / 60000));
    });
    if (!watch->start()) {
        ui::messageBox(w, watch->error(), ui::MsgIcon::Critical);
        delete watch;
        watch = nullptr;
        return;
    }
    w->mnuJoinWhenFree->setChecked(true);
    w->setStatus(JoinDecisions::waitingText(waitName, 0, watch->secondsToNextAsk()));
}

void JoinState::slotFreed(int players, int maxClients)
{
    w->mnuJoinWhenFree->setChecked(false);
    w->setStatus(tr("A slot came free on %1 (%2/%3): starting the game.")
                     .arg(waitName)
                     .arg(players)
                     .arg(maxClients));
    startingFromWatch = true;
    w->startGame(waitLocation, waitAddress, waitPassword);
    startingFromWatch = false;
    waitPassword.clear();
}

// --- the window's side ---

void frmTarvex::setUpJoin()
{
    m_join = new JoinState(this);

    // The pane shares the grid's rectangle, below it; the grid takes what the window
    // gains, the pane keeps its height.
    QWidget *client = centralWidget();
    infoSplit = new QSplitter(Qt::Vertical, client);
    infoSplit->setObjectName(QStringLiteral("infoSplit"));
    infoSplit->setChildrenCollapsible(false);
    infoSplit->setGeometry(Grid1->geometry());
    infoSplit->addWidget(Grid1);
    infoPane = new InfoPane(infoSplit);
    setCompactFace(infoPane);
    infoSplit->addWidget(infoPane);
    infoSplit->setStretchFactor(0, 1);
    infoSplit->setStretchFactor(1, 0);
    infoSplit->setSizes({infoSplit->height() - DefaultPaneHeight, DefaultPaneHeight});
    infoSplit->show();
    connect(infoSplit, &QSplitter::splitterMoved, this, [this] {
        if (infoPane->isVisible())
            m_join->paneHeight = infoPane->height();
    });

    mnuInfoPane = mnuView->addAction(QStringLiteral("Server &Info Pane"));
    mnuInfoPane->setObjectName(QStringLiteral("mnuInfoPane"));
    mnuInfoPane->setCheckable(true);
    mnuInfoPane->setChecked(true);
    connect(mnuInfoPane, &QAction::toggled, this, [this](bool on) {
        infoPane->setVisible(on);
        // Kept beside the window's layout; a store that cannot be written is not worth a box.
        Settings::SaveSetting(WindowSection, KeyPaneShown, Settings::boolToText(on));
    });

    // The joins go into the server menu (the menu bar's and the grid's), after its Join,
    // which starts the game as a double-click does: asking for a password when needed.
    QMenu *menu = serverMenu();
    mnuJoin = menu->findChild<QAction *>(QStringLiteral("mnuJoin"));
    const QList<QAction *> entries = menu->actions();
    QAction *afterJoin = entries.value(entries.indexOf(mnuJoin) + 1);
    mnuJoinPassword = new QAction(QStringLiteral("Join with &Password..."), menu);
    mnuJoinPassword->setObjectName(QStringLiteral("mnuJoinPassword"));
    mnuJoinWhenFree = new QAction(QStringLiteral("Join When &Free"), menu);
    mnuJoinWhenFree->setObjectName(QStringLiteral("mnuJoinWhenFree"));
    mnuJoinWhenFree->setCheckable(true); // checked while waiting
    menu->insertActions(afterJoin, {mnuJoinPassword, mnuJoinWhenFree});
    connect(mnuJoinPassword, &QAction::triggered, this, &frmTarvex::mnuJoinPassword_Click);
    connect(mnuJoinWhenFree, &QAction::triggered, this, [this] {
        // The check mark follows the wait, not Qt's own toggle.
        mnuJoinWhenFree->setChecked(!mnuJoinWhenFree->isChecked());
        mnuJoinWhenFree_Click();
    });

    // The pane follows the chosen server and what the model learns of it.
    connect(Grid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        m_join->showChosen();
        m_join->askSoon.start();
    });
    connect(&m_join->askSoon, &QTimer::timeout, m_join, &JoinState::askChosen);
    connect(m_servers, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                const std::optional<model::ServerKey> key = m_join->chosenKey();
                const int row = key ? m_servers->rowOf(*key) : -1;
                if (row >= from.row() && row <= to.row())
                    m_join->showChosen();
            });
    connect(m_servers, &QAbstractItemModel::modelReset, this, [this] {
        // A new list: the pane's query is for a row that is gone.
        m_join->engine->cancel();
        m_join->asking.reset();
        m_join->showChosen();
    });
    connect(
        m_join->engine, &status::StatusEngine::answered, m_join,
        [this](int, const status::ServerStatus &answer, int ms) { m_join->answered(answer, ms); });
    connect(m_join->engine, &status::StatusEngine::failed, m_join,
            [this](int, status::StatusEngine::Outcome outcome) { m_join->failed(outcome); });
}

void frmTarvex::restoreJoinLayout()
{
    {
        const QSignalBlocker quiet(mnuInfoPane); // read, not stored again
        mnuInfoPane->setChecked(Settings::GetBoolSetting(WindowSection, KeyPaneShown, true));
    }
    infoPane->setVisible(mnuInfoPane->isChecked());
    bool ok = false;
    const int height = Settings::GetSetting(WindowSection, KeyPaneHeight, {}).toInt(&ok);
    if (ok && height >= MinPaneHeight && height <= MaxPaneHeight)
        m_join->paneHeight = height;
    // The splitter gets its final size only when the window is laid out: the pane gets
    // its height now and keeps it, the grid takes what is left then.
    infoSplit->resize(infoSplit->width(),
                      std::max(infoSplit->height(), m_join->paneHeight + DefaultPaneHeight));
    infoSplit->setSizes({infoSplit->height() - m_join->paneHeight, m_join->paneHeight});
}

void frmTarvex::storeJoinLayout()
{
    if (infoPane->isVisible())
        m_join->paneHeight = infoPane->height();
    Settings::SaveSetting(WindowSection, KeyPaneHeight, QString::number(m_join->paneHeight));
}

void frmTarvex::stopJoin()
{
    m_join->askSoon.stop();
    m_join->engine->cancel();
    m_join->asking.reset();
    stopWaitingForSlot();
}

void frmTarvex::setInfoAsking(bool on)
{
    m_join->asks = on;
    if (!on) {
        m_join->askSoon.stop();
        m_join->engine->cancel();
        m_join->asking.reset();
    }
}

void frmTarvex::setInfoMaxAgeMs(qint64 ms) { m_join->maxAgeMs = std::max<qint64>(0, ms); }

void frmTarvex::setSlotWatchTimings(int intervalMs, int limitMs)
{
    m_join->fastPace = true;
    m_join->watchIntervalMs = intervalMs;
    m_join->watchLimitMs = limitMs;
}

bool frmTarvex::waitingForSlot() const { return m_join->watch && m_join->watch->running(); }

void frmTarvex::stopWaitingForSlot()
{
    if (!waitingForSlot())
        return;
    m_join->watch->stop();
    m_join->waitPassword.clear();
    mnuJoinWhenFree->setChecked(false);
    setStatus(tr("Stopped waiting for a free slot on %1.").arg(m_join->waitName));
}

void frmTarvex::mnuJoin_Click()
{
    if (Grid1->Row() < 1) {
        ui::messageBox(this, QStringLiteral("Please select a server in the list first."),
                       ui::MsgIcon::Information);
        return;
    }
    joinRow(Grid1->Row(), false);
}

void frmTarvex::mnuJoinPassword_Click()
{
    if (Grid1->Row() < 1) {
        ui::messageBox(this, QStringLiteral("Please select a server in the list first."),
                       ui::MsgIcon::Information);
        return;
    }
    joinRow(Grid1->Row(), true);
}

void frmTarvex::joinRow(int row, bool withPassword)
{
    QString address, location;
    if (!joinTarget(row, address, location))
        return;
    const model::ServerRecord *server = Grid1->recordAt(row);
    // A server that does not ask for a password is joined exactly as a double-click
    // always joined it.
    if (!withPassword && !(server && JoinDecisions::needsPassword(*server))) {
        startGame(location, address);
        return;
    }
    const QString name = Grid1->TextMatrix(row, ColName);
    const QPointer<frmTarvex> self(this);
    m_join->askPassword(name.isEmpty() ? address : name, address,
                        [self, location, address](const QString &password) {
                            if (self && !self->m_closing)
                                self->startGame(location, address, password);
                        });
}

void frmTarvex::mnuJoinWhenFree_Click()
{
    if (waitingForSlot()) {
        stopWaitingForSlot();
        return;
    }
    const int row = Grid1->Row();
    const std::optional<model::ServerKey> key = Grid1->keyAt(row);
    if (!key) {
        ui::messageBox(this, QStringLiteral("Please select a server in the list first."),
                       ui::MsgIcon::Information);
        return;
    }
    // The wait asks the server itself, at its numeric address and port.
    if (!key->isNumeric()) {
        ui::messageBox(this,
                       tr("The server is listed by name only; waiting for a free slot needs "
                          "its IP address."),
                       ui::MsgIcon::Information);
        return;
    }
    QString address, location;
    if (!joinTarget(row, address, location))
        return;
    const QString name =
        Grid1->TextMatrix(row, ColName).isEmpty() ? address : Grid1->TextMatrix(row, ColName);
    const model::ServerRecord *server = Grid1->recordAt(row);
    if (!(server && JoinDecisions::needsPassword(*server))) {
        m_join->startWaiting(*key, name, address, location, QString());
        return;
    }
    // The password is asked now, so that the game starts the moment a slot frees.
    const QPointer<frmTarvex> self(this);
    const model::ServerKey waitFor = *key;
    m_join->askPassword(
        name, address, [self, waitFor, name, address, location](const QString &password) {
            if (self && !self->m_closing)
                self->m_join->startWaiting(waitFor, name, address, location, password);
        });
}

void frmTarvex::gameStarted(const QString &address)
{
    if (!m_join->startingFromWatch) {
        // Joined another way: a wait under way would start a second game.
        stopWaitingForSlot();
        return;
    }
    const QString text =
        tr("A slot came free on %1 (%2); the game was started.").arg(m_join->waitName, address);
    setStatus(text);
    emit startedWhenFree(text);
    if (m_join->notifier->notify(tr("Tarvex: game started"), text)
            == buddies::Notifier::Channel::DBus
        && mnuCloseStartup->isChecked()) {
        // The program ends with the game's start: one round trip on the bus makes sure
        // the notification has left before it does.
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
            QDBus::Block, 500);
    }
}

} // namespace tarvex
