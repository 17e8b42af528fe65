// Finding the game you want: the quick filter above the grid and View › Filter, the
// extra columns and their order, favourites from the grid, Find Player, buddies and
// their notifications, the server menu (also the grid's context menu), automatic
// refreshes and the keys that go with them.
#include "browser/frmTarvex.h"

#include "buddies/Notifier.h"
#include "core/browser/Module1.h"
#include "core/browser/Settings.h"
#include "core/filter/BuddyList.h"
#include "core/filter/BuddyWatch.h"
#include "core/filter/PlayerSearch.h"
#include "core/geo/CountryLookup.h"
#include "core/model/ServerModel.h"
#include "core/pipeline/RefreshPipeline.h"
#include "core/sources/SourceSettings.h"
#include "core/status/StatusEngine.h"
#include "core/status/StatusReply.h"
#include "details/frmMoreInfo.h"
#include "find/frmBuddies.h"
#include "find/frmFindPlayer.h"
#include "ui/Dialogs.h"
#include "ui/ServerView.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace tarvex {

namespace {

const QString FilterSection = QStringLiteral("Filter");
const QString WindowSection = QStringLiteral("Window");
const QString KeyAutoRefresh = QStringLiteral("AutoRefreshMinutes");
// The user's own .mmdb country database, used before the one Debian ships.
const QString KeyCountryDatabase = QStringLiteral("CountryDatabase");
constexpr int RefilterDelayMs = 500;
constexpr int AutoRefreshChoices[] = {0, 1, 2, 5, 10};

// The View › Filter toggles: their stored keys and captions, in menu order.
struct Toggle
{
    const char *key;
    const char *caption;
};
constexpr Toggle Toggles[] = {
    {"HideEmpty", "Hide &Empty Servers"},
    {"HideFull", "Hide F&ull Servers"},
    {"HideNotAnswered", "Hide Servers That Did &Not Answer"},
    {"HidePassworded", "Hide &Password-Protected Servers"},
    {"FavouritesOnly", "F&avourites Only"},
};

const QRegularExpression &addressSeparators()
{
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    return separators;
}

// The favourites' addresses, in the order kept in [Sources].
QStringList favouriteAddresses(const QList<sources::SourceEntry> &entries)
{
    QStringList addresses;
    for (const sources::SourceEntry &e : entries)
        if (e.kind == sources::SourceKind::Favourites)
            addresses += e.address.split(addressSeparators(), Qt::SkipEmptyParts);
    return addresses;
}

} // namespace

void frmTarvex::setUpFinding()
{
    // The country column: the user's .mmdb first, else Debian's GeoIP database.
    m_countries = std::make_shared<geo::CountryLookup>(
        Settings::GetSetting(Settings::DataSection, KeyCountryDatabase, QString()),
        geo::CountryLookup::defaultLegacyPath());
    if (m_countries->isAvailable()) {
        std::shared_ptr<geo::CountryLookup> countries = m_countries;
        m_servers->setCountryLookup(
            [countries](const model::ServerKey &key) {
                return key.isNumeric() ? countries->countryCode(QHostAddress(key.ip)) : QString();
            },
            geo::CountryLookup::defaultFlagFolder());
    }

    // The quick filter, above the grid.
    auto *bar = new QToolBar(QStringLiteral("Filter"), this);
    bar->setObjectName(QStringLiteral("filterBar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    auto *label = new QLabel(QStringLiteral("F&ilter: "), bar);
    txtFilter = new QLineEdit(bar);
    txtFilter->setObjectName(QStringLiteral("txtFilter"));
    txtFilter->setAccessibleName(QStringLiteral("Quick filter"));
    txtFilter->setPlaceholderText(QStringLiteral("name, map, mod or address (Ctrl+L)"));
    txtFilter->setClearButtonEnabled(true);
    label->setBuddy(txtFilter);
    bar->addWidget(label);
    bar->addWidget(txtFilter);
    addToolBar(Qt::TopToolBarArea, bar);
    connect(txtFilter, &QLineEdit::textChanged, this, &frmTarvex::filterChanged);

    // The count, always beside the status line.
    lblShown = new QLabel(this);
    lblShown->setObjectName(QStringLiteral("lblShown"));
    lblShown->setAccessibleName(QStringLiteral("Servers shown"));
    statusBar()->addPermanentWidget(lblShown);
    statusBar()->setSizeGripEnabled(false);

    buildFindingMenus();
    readFilterOptions();
    restoreColumns();
    loadFavourites();
    m_buddyWatch = std::make_shared<filter::BuddyWatch>();
    m_buddyWatch->setBuddies(filter::loadBuddies());
    m_servers->setBuddies(m_buddyWatch->buddies());
    m_notifier = new buddies::Notifier(this);

    // Answers change the list as they come: it is filtered again a moment later, not on
    // every answer.
    m_filterDelay = new QTimer(this);
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(RefilterDelayMs);
    connect(m_filterDelay, &QTimer::timeout, this, &frmTarvex::updateShown);
    const auto later = [this] {
        if (!m_filterDelay->isActive())
            m_filterDelay->start();
    };
    connect(m_servers, &QAbstractItemModel::dataChanged, this, later);
    connect(m_servers, &QAbstractItemModel::modelReset, this, later);
    connect(m_servers, &QAbstractItemModel::rowsInserted, this, later);
    connect(m_refresh, &RefreshPipeline::finished, this, [this](RefreshPipeline::End end) {
        if (!m_closing && end == RefreshPipeline::End::Done)
            afterRefresh();
        else if (!m_closing)
            updateShown();
    });

    m_autoRefresh = new QTimer(this);
    connect(m_autoRefresh, &QTimer::timeout, this, &frmTarvex::autoRefreshDue);
    bool ok = false;
    const int minutes =
        Settings::GetSetting(Settings::DataSection, KeyAutoRefresh, QStringLiteral("0")).toInt(&ok);
    setAutoRefreshMinutes(ok ? minutes : 0);

    Grid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Grid1, &QWidget::customContextMenuRequested, this, &frmTarvex::showServerMenu);
    connect(Grid1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &frmTarvex::updateServerMenu);
    updateServerMenu();
    updateShown();
}

void frmTarvex::buildFindingMenus()
{
    // View: the quick filter, the columns, the filter toggles, refreshing.
    mnuView->addSeparator();
    QAction *focusFilter = mnuView->addAction(QStringLiteral("&Quick Filter"));
    focusFilter->setObjectName(QStringLiteral("mnuQuickFilter"));
    focusFilter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(focusFilter, &QAction::triggered, this, [this] {
        txtFilter->setFocus(Qt::ShortcutFocusReason);
        txtFilter->selectAll();
    });
    mnuColumns = mnuView->addMenu(QStringLiteral("&Columns"));
    mnuColumns->setObjectName(QStringLiteral("mnuColumns"));
    for (int c = 0; c < model::ServerModel::ColumnCount; ++c) {
        QAction *shown = mnuColumns->addAction(
            m_servers->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
        shown->setObjectName(QStringLiteral("mnuColumn%1").arg(c));
        shown->setCheckable(true);
        shown->setChecked(true);
        // The server's name always stays: a row must say which server it is.
        shown->setEnabled(c != model::ServerModel::ColName);
        connect(shown, &QAction::toggled, this, [this, c](bool on) {
            Grid1->setColumnHidden(c, !on);
            storeColumns();
        });
    }
    mnuFilter = mnuView->addMenu(QStringLiteral("&Filter"));
    mnuFilter->setObjectName(QStringLiteral("mnuFilter"));
    for (const Toggle &t : Toggles) {
        QAction *a = mnuFilter->addAction(QString::fromLatin1(t.caption));
        a->setObjectName(QStringLiteral("mnu") + QLatin1String(t.key));
        a->setCheckable(true);
        connect(a, &QAction::toggled, this, [this] {
            storeFilterOptions();
            filterChanged();
        });
        m_filterActions.append(a);
    }
    mnuFilter->addSeparator();
    m_maxPing = mnuFilter->addAction(QStringLiteral("&Maximum Game Ping..."));
    m_maxPing->setObjectName(QStringLiteral("mnuMaxGamePing"));
    m_maxPing->setCheckable(true);
    connect(m_maxPing, &QAction::triggered, this, [this] {
        const int before = m_maxPing->property("ms").toInt();
        m_maxPing->setChecked(before > 0);
        const ui::Answer answer = ui::inputBox(
            this, QStringLiteral("Hide servers whose game ping is above (ms; 0 for no limit):"),
            QStringLiteral("Maximum Game Ping"), QString::number(before));
        if (!answer)
            return;
        bool ok = false;
        const int ms = answer->trimmed().toInt(&ok);
        if (!ok || ms < 0 || ms > 9999) {
            ui::messageBox(this,
                           QStringLiteral("The maximum game ping is a number of ms from 0 "
                                          "to 9999; the filter was not changed."),
                           ui::MsgIcon::Warning);
            return;
        }
        m_maxPing->setProperty("ms", ms);
        m_maxPing->setChecked(ms > 0);
        storeFilterOptions();
        filterChanged();
    });
    mnuView->addSeparator();
    QAction *refresh = mnuView->addAction(QStringLiteral("Refresh &List"));
    refresh->setObjectName(QStringLiteral("mnuRefreshList"));
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    connect(refresh, &QAction::triggered, this, [this] {
        if (cmdRefresh->isEnabled())
            cmdRefresh_Click();
    });
    // Esc is the window's own key (it also clears the filter); the entry only shows it.
    QAction *stop = mnuView->addAction(QStringLiteral("S&top Refresh\tEsc"));
    stop->setObjectName(QStringLiteral("mnuStopRefresh"));
    connect(stop, &QAction::triggered, this, [this] {
        if (refreshRunning())
            escapePressed();
    });

    // Tools: Find Player.
    mnuFindPlayer = mnuTools->addAction(QStringLiteral("&Find Player..."));
    mnuFindPlayer->setObjectName(QStringLiteral("mnuFindPlayer"));
    mnuFindPlayer->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(mnuFindPlayer, &QAction::triggered, this, &frmTarvex::findPlayer);

    // Options: buddies and the automatic refresh.
    mnuBuddies = mnuOptions->addAction(QStringLiteral("&Buddies..."));
    mnuBuddies->setObjectName(QStringLiteral("mnuBuddies"));
    connect(mnuBuddies, &QAction::triggered, this, &frmTarvex::editBuddies);
    mnuAutoRefresh = mnuOptions->addMenu(QStringLiteral("Auto &Refresh"));
    mnuAutoRefresh->setObjectName(QStringLiteral("mnuAutoRefresh"));
    m_autoRefreshGroup = new QActionGroup(this);
    for (int minutes : AutoRefreshChoices) {
        QAction *a = mnuAutoRefresh->addAction(
            minutes == 0 ? QStringLiteral("&Off")
                         : QStringLiteral("Every &%1 Minute%2")
                               .arg(minutes)
                               .arg(minutes == 1 ? QString() : QStringLiteral("s")));
        a->setObjectName(QStringLiteral("mnuAutoRefresh%1").arg(minutes));
        a->setCheckable(true);
        a->setData(minutes);
        m_autoRefreshGroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, minutes] {
            setAutoRefreshMinutes(minutes);
            Settings::SaveSetting(Settings::DataSection, KeyAutoRefresh, QString::number(minutes));
        });
    }

    // The selected server's commands, in the menu bar and on the grid.
    menuBar()->insertMenu(mnuTools->menuAction(), serverMenu());
}

QMenu *frmTarvex::serverMenu()
{
    if (m_serverMenu)
        return m_serverMenu;
    // Alt+S belongs to "Ping Selected &Server" already; two owners of one key would
    // leave both without it.
    m_serverMenu = mnuServer = new QMenu(QStringLiteral("S&erver"), this);
    m_serverMenu->setObjectName(QStringLiteral("mnuServer"));
    const auto entry = [this](const char *name, const QString &caption, QKeySequence key,
                              auto handler) {
        QAction *a = m_serverMenu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    QAction *join = entry("mnuJoin", QStringLiteral("&Join"), QKeySequence(Qt::Key_Return),
                          [this] { joinSelected(); });
    join->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    m_favouriteAdd = entry("mnuAddFavourite", QStringLiteral("Add to &Favourites"),
                           QKeySequence(Qt::CTRL | Qt::Key_D), [this] { addFavourite(); });
    m_favouriteRemove = entry("mnuRemoveFavourite", QStringLiteral("Remove from &Favourites"),
                              QKeySequence(Qt::Key_Delete), [this] { removeFavourite(); });
    m_serverMenu->addSeparator();
    entry("mnuCopyAddress", QStringLiteral("&Copy Address"), {}, [this] { copySelected(false); });
    entry("mnuCopyConnect", QStringLiteral("Copy &Connect Line"), {},
          [this] { copySelected(true); });
    m_serverMenu->addSeparator();
    entry("mnuRefreshServer", QStringLiteral("&Refresh This Server"), {},
          [this] { refreshOneServer(); });
    entry("mnuPingServer", QStringLiteral("P&ing This Server"), {}, [this] {
        if (cmdPingSelect->isEnabled())
            cmdPingSelect_Click();
    });
    entry("mnuServerInfo", QStringLiteral("&More Server Info"), {}, [this] {
        if (cmdMoreInfo->isEnabled())
            cmdMoreInfo_Click();
    });
    connect(m_serverMenu, &QMenu::aboutToShow, this, &frmTarvex::updateServerMenu);
    return m_serverMenu;
}

void frmTarvex::updateServerMenu()
{
    const model::ServerRecord *r = Grid1->recordAt(Grid1->Row());
    for (QAction *a : m_serverMenu->actions())
        if (!a->isSeparator())
            a->setEnabled(r != nullptr);
    const bool favourite = r && r->favourite;
    // One of the two stands in the menu; each keeps its key while the other shows.
    m_favouriteAdd->setVisible(!favourite);
    m_favouriteRemove->setVisible(favourite);
    m_favouriteAdd->setEnabled(r && !favourite);
    m_favouriteRemove->setEnabled(favourite);
}

void frmTarvex::showServerMenu(const QPoint &at)
{
    const QModelIndex index = Grid1->indexAt(Grid1->viewport()->mapFrom(Grid1, at));
    if (!index.isValid())
        return;
    Grid1->setRow(index.row() + 1);
    updateServerMenu();
    m_serverMenu->popup(Grid1->mapToGlobal(at));
}

void frmTarvex::joinSelected()
{
    if (Grid1->Row() < 1)
        return;
    // The same path as a double-click on the row.
    m_lastPressOnTitle = false;
    Grid1_DblClick();
}

void frmTarvex::escapePressed()
{
    // Esc ends the one thing under way: the wait for a free slot, a refresh, or else the
    // quick filter.
    if (waitingForSlot()) {
        stopWaitingForSlot();
        return;
    }
    if (refreshRunning()) {
        if (statusRefreshRunning()) {
            cancelStatusRefresh();
        } else {
            const bool listing = m_refresh->step() == RefreshPipeline::Step::Sources;
            m_refresh->cancel();
            // Stopped before any list came: the commands are given back.
            if (listing && !m_closing) {
                setCommands(Commands::ListOnly);
                setStatus(QStringLiteral("Server list refresh stopped."));
            }
        }
        return;
    }
    if (!txtFilter->text().isEmpty())
        txtFilter->clear();
}

// --- the filter ---------------------------------------------------------------------

void frmTarvex::readFilterOptions()
{
    for (int i = 0; i < m_filterActions.size(); ++i) {
        const QSignalBlocker quiet(m_filterActions[i]);
        m_filterActions[i]->setChecked(
            Settings::GetBoolSetting(FilterSection, QString::fromLatin1(Toggles[i].key), false));
    }
    bool ok = false;
    const int ms =
        Settings::GetSetting(FilterSection, QStringLiteral("MaxGamePing"), QStringLiteral("0"))
            .toInt(&ok);
    m_maxPing->setProperty("ms", ok && ms > 0 && ms <= 9999 ? ms : 0);
    m_maxPing->setChecked(m_maxPing->property("ms").toInt() > 0);
    filterChanged();
}

void frmTarvex::storeFilterOptions()
{
    for (int i = 0; i < m_filterActions.size(); ++i)
        Settings::SaveSetting(FilterSection, QString::fromLatin1(Toggles[i].key),
                              Settings::boolToText(m_filterActions[i]->isChecked()));
    Settings::SaveSetting(FilterSection, QStringLiteral("MaxGamePing"),
                          QString::number(m_maxPing->property("ms").toInt()));
}

void frmTarvex::filterChanged()
{
    filter::FilterOptions options;
    options.text = txtFilter->text();
    options.hideEmpty = m_filterActions[0]->isChecked();
    options.hideFull = m_filterActions[1]->isChecked();
    options.hideNotAnswered = m_filterActions[2]->isChecked();
    options.hidePassworded = m_filterActions[3]->isChecked();
    options.favouritesOnly = m_filterActions[4]->isChecked();
    options.maxGamePing = m_maxPing->property("ms").toInt();
    Grid1->sortProxy()->setFilterOptions(options);
    updateShown();
}

void frmTarvex::updateShown()
{
    if (m_filterDelay)
        m_filterDelay->stop();
    model::ServerSortProxy *proxy = Grid1->sortProxy();
    proxy->refilter();
    const model::ServerModel::Totals shown = proxy->shownTotals();
    QString text = QStringLiteral("showing %1 of %2 servers, %3 player%4")
                       .arg(shown.servers)
                       .arg(m_servers->rowCount())
                       .arg(shown.players)
                       .arg(shown.players == 1 ? QString() : QStringLiteral("s"));
    if (shown.withBuddies > 0)
        text += QStringLiteral(", %1 with buddies").arg(shown.withBuddies);
    lblShown->setText(text);
    updateServerMenu();
}

// --- columns ------------------------------------------------------------------------

void frmTarvex::restoreColumns()
{
    QHeaderView *header = Grid1->horizontalHeader();
    header->setSectionsMovable(true);
    const int count = model::ServerModel::ColumnCount;
    const QStringList order = Settings::GetSetting(WindowSection, QStringLiteral("ColumnOrder"), {})
                                  .split(QLatin1Char(','), Qt::SkipEmptyParts);
    // Only a whole order of the known columns is taken; anything else keeps the default.
    QList<int> logical;
    for (const QString &item : order) {
        bool ok = false;
        const int c = item.trimmed().toInt(&ok);
        if (!ok || c < 0 || c >= count || logical.contains(c))
            break;
        logical.append(c);
    }
    if (logical.size() == count)
        for (int visual = 0; visual < count; ++visual)
            header->moveSection(header->visualIndex(logical[visual]), visual);
    const QStringList hidden =
        Settings::GetSetting(WindowSection, QStringLiteral("HiddenColumns"), {})
            .split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &item : hidden) {
        bool ok = false;
        const int c = item.trimmed().toInt(&ok);
        if (ok && c > model::ServerModel::ColName && c < count)
            mnuColumns->actions().at(c)->setChecked(false); // hides it, stores the same
    }
    connect(header, &QHeaderView::sectionMoved, this, &frmTarvex::storeColumns);
}

void frmTarvex::storeColumns()
{
    QHeaderView *header = Grid1->horizontalHeader();
    QStringList order, hidden;
    for (int visual = 0; visual < header->count(); ++visual)
        order << QString::number(header->logicalIndex(visual));
    for (int c = 0; c < header->count(); ++c)
        if (header->isSectionHidden(c))
            hidden << QString::number(c);
    Settings::SaveSetting(WindowSection, QStringLiteral("ColumnOrder"), order.join(u','));
    Settings::SaveSetting(WindowSection, QStringLiteral("HiddenColumns"), hidden.join(u','));
}

// --- favourites ---------------------------------------------------------------------

void frmTarvex::loadFavourites()
{
    QSet<model::ServerKey> keys;
    for (const QString &address : favouriteAddresses(sources::loadSources()))
        keys.insert(model::ServerKey::fromAddressText(address));
    m_servers->setFavourites(keys);
}

bool frmTarvex::saveFavourites(const QStringList &addresses)
{
    // The favourites are the favourites source: its first entry holds them all, and any
    // other favourites entry goes.
    QList<sources::SourceEntry> entries = sources::loadSources();
    QList<sources::SourceEntry> kept;
    bool placed = false;
    for (const sources::SourceEntry &e : entries) {
        if (e.kind != sources::SourceKind::Favourites) {
            kept.append(e);
        } else if (!placed && !addresses.isEmpty()) {
            kept.append({e.kind, addresses.join(u' '), e.enabled});
            placed = true;
        }
    }
    if (!placed && !addresses.isEmpty())
        kept.append({sources::SourceKind::Favourites, addresses.join(u' '), true});
    const bool ok = sources::saveSources(kept);
    if (!ok)
        ui::messageBox(this,
                       tr("The favourites could not be saved: the settings file is not writable."),
                       ui::MsgIcon::Warning);
    loadFavourites();
    filterChanged();
    return ok;
}

void frmTarvex::addFavourite()
{
    const std::optional<model::ServerKey> key = Grid1->keyAt(Grid1->Row());
    if (!key)
        return;
    if (!key->isNumeric()) {
        ui::messageBox(this,
                       tr("Only a server listed by its IP address and port can be a favourite."),
                       ui::MsgIcon::Warning);
        return;
    }
    QStringList addresses = favouriteAddresses(sources::loadSources());
    for (const QString &a : std::as_const(addresses))
        if (model::ServerKey::fromAddressText(a) == *key)
            return;
    addresses.append(key->toString());
    saveFavourites(addresses);
}

void frmTarvex::removeFavourite()
{
    const std::optional<model::ServerKey> key = Grid1->keyAt(Grid1->Row());
    if (!key)
        return;
    QStringList addresses = favouriteAddresses(sources::loadSources());
    const qsizetype before = addresses.size();
    addresses.removeIf(
        [&key](const QString &a) { return model::ServerKey::fromAddressText(a) == *key; });
    if (addresses.size() != before)
        saveFavourites(addresses);
}

// --- the selected server ------------------------------------------------------------

void frmTarvex::copySelected(bool connectLine)
{
    const int row = Grid1->Row();
    if (row < 1)
        return;
    const QString address = Grid1->TextMatrix(row, ColAddress);
    // The connect line is pasted into the game's console, which runs every ";" piece as
    // a command: only a plain host and port goes into it.
    if (connectLine && !Module1::IsPlainAddress(address)) {
        ui::messageBox(this,
                       tr("The address \"%1\" is not a host name or IP address with an "
                          "optional \":port\", so no connect line was copied.")
                           .arg(address),
                       ui::MsgIcon::Warning);
        return;
    }
    QApplication::clipboard()->setText(connectLine ? QStringLiteral("+connect ") + address
                                                   : address);
}

void frmTarvex::refreshOneServer()
{
    const std::optional<model::ServerKey> key = Grid1->keyAt(Grid1->Row());
    if (!key)
        return;
    if (!key->isNumeric()) {
        ui::messageBox(this, tr("Only a server listed by its IP address can be asked directly."),
                       ui::MsgIcon::Warning);
        return;
    }
    if (!m_oneServer) {
        m_oneServer = new status::StatusEngine(this);
        connect(m_oneServer, &status::StatusEngine::answered, this,
                [this](int index, const status::ServerStatus &answer, int ms) {
                    if (index < m_oneServerKeys.size())
                        m_servers->setAnswer(m_oneServerKeys[index], answer, ms);
                });
        connect(m_oneServer, &status::StatusEngine::failed, this,
                [this](int index, status::StatusEngine::Outcome outcome) {
                    if (index < m_oneServerKeys.size())
                        m_servers->setFailed(m_oneServerKeys[index],
                                             outcome == status::StatusEngine::Outcome::Down);
                });
        connect(m_oneServer, &status::StatusEngine::finished, this, [this](bool cancelled) {
            if (!cancelled && !m_closing)
                updateShown();
        });
    }
    sources::ServerAddress target;
    target.ip = key->ip;
    target.port = key->port;
    m_oneServerKeys = {*key};
    QString error;
    if (!m_oneServer->start({target}, &error)) {
        ui::messageBox(this, tr("The server could not be asked: %1").arg(error),
                       ui::MsgIcon::Warning);
        return;
    }
    m_servers->setAsking(*key);
}

// --- after a refresh: buddies -------------------------------------------------------

void frmTarvex::afterRefresh()
{
    updateShown();
    QList<filter::SeenPlayer> seen;
    QHash<QString, QString> names; // server key -> name shown
    for (int row = 0; row < m_servers->rowCount(); ++row) {
        const model::ServerRecord &r = m_servers->record(row);
        if (!r.answered() || !r.buddy)
            continue;
        const QString key = r.key.toString();
        names.insert(key, model::ServerModel::displayText(r, model::ServerModel::ColName));
        for (const model::PlayerInfo &p : r.players())
            seen.append({p.name, key});
    }
    for (const filter::BuddySighting &s : m_buddyWatch->refreshed(seen)) {
        const QString server = names.value(s.serverKey);
        m_notifier->notify(QStringLiteral("%1 is playing").arg(s.buddy),
                           QStringLiteral("on %1 (%2)").arg(server, s.serverKey));
        emit buddySeen(s.buddy, server);
    }
}

void frmTarvex::editBuddies()
{
    frmBuddies dialog(m_buddyWatch->buddies(), this);
    if (ui::execDialog(dialog) != QDialog::Accepted)
        return;
    if (!filter::saveBuddies(dialog.names()))
        ui::messageBox(this,
                       tr("The buddies could not be saved: the settings file is not writable."),
                       ui::MsgIcon::Warning);
    m_buddyWatch->setBuddies(filter::cleanBuddies(dialog.names()));
    m_servers->setBuddies(m_buddyWatch->buddies());
    updateShown();
}

// --- Find Player --------------------------------------------------------------------

void frmTarvex::findPlayer()
{
    if (!m_findPlayer) {
        // The players of the answered servers, gathered once per change of the list.
        struct Cache
        {
            std::shared_ptr<const filter::PlayerIndex> index;
        };
        auto cache = std::make_shared<Cache>();
        const auto stale = [cache] { cache->index.reset(); };
        auto *dialog = new frmFindPlayer(
            [this, cache]() -> std::shared_ptr<const filter::PlayerIndex> {
                if (!cache->index) {
                    QList<filter::SearchServer> servers;
                    for (int row = 0; row < m_servers->rowCount(); ++row) {
                        const model::ServerRecord &r = m_servers->record(row);
                        if (!r.answered() || r.playerCount() == 0)
                            continue;
                        filter::SearchServer s;
                        s.key = r.key.toString();
                        s.name = model::ServerModel::displayText(r, model::ServerModel::ColName);
                        s.address =
                            model::ServerModel::displayText(r, model::ServerModel::ColAddress);
                        for (const model::PlayerInfo &p : r.players())
                            s.players.append(p.name);
                        servers.append(std::move(s));
                    }
                    cache->index = std::make_shared<filter::PlayerIndex>(std::move(servers));
                }
                return cache->index;
            },
            this);
        dialog->setObjectName(QStringLiteral("frmFindPlayer"));
        connect(m_servers, &QAbstractItemModel::dataChanged, dialog, stale);
        connect(m_servers, &QAbstractItemModel::modelReset, dialog, stale);
        connect(m_servers, &QAbstractItemModel::rowsInserted, dialog, stale);
        connect(dialog, &frmFindPlayer::serverChosen, this, [this](const QString &text) {
            const model::ServerKey key = model::ServerKey::fromAddressText(text);
            if (m_servers->rowOf(key) < 0)
                return;
            // A server the quick filter hides is shown again by clearing it.
            if (Grid1->rowOf(key) < 1 && !txtFilter->text().isEmpty())
                txtFilter->clear();
            const int row = Grid1->rowOf(key);
            if (row < 1) {
                setStatus(QStringLiteral("That server is hidden by View \u203a Filter."));
                return;
            }
            Grid1->setRow(row);
            activateWindow();
            Grid1->setFocus();
        });
        m_findPlayer = dialog;
    }
    frmFindPlayer *dialog = findPlayerWindow();
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    dialog->searchField()->setFocus();
    dialog->search();
}

frmFindPlayer *frmTarvex::findPlayerWindow() const
{
    return qobject_cast<frmFindPlayer *>(m_findPlayer.data());
}

// --- automatic refresh --------------------------------------------------------------

void frmTarvex::setAutoRefreshMinutes(int minutes)
{
    if (std::find(std::begin(AutoRefreshChoices), std::end(AutoRefreshChoices), minutes)
        == std::end(AutoRefreshChoices))
        minutes = 0;
    m_autoRefreshMinutes = minutes;
    for (QAction *a : m_autoRefreshGroup->actions())
        a->setChecked(a->data().toInt() == minutes);
    if (minutes > 0)
        m_autoRefresh->start(minutes * 60 * 1000);
    else
        m_autoRefresh->stop();
}

bool frmTarvex::autoRefreshDue()
{
    // Never over what the user started: a refresh, a ping, a details query or a box.
    const bool detailsLoading = m_moreInfo && m_moreInfo->state() == frmMoreInfo::State::Loading;
    if (m_closing || refreshRunning() || pingRunning() || detailsLoading
        || QApplication::activeModalWidget() || !cmdRefresh->isEnabled())
        return false;
    cmdRefresh_Click();
    return true;
}

} // namespace tarvex
