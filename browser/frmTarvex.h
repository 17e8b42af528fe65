#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <map>
#include <memory>

#include "core/browser/ServerPing.h"
#include "core/model/ServerKey.h"
#include "core/pipeline/RefreshPipeline.h"
#include "core/sources/SourceSettings.h"

class QAction;
class QActionGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QTimer;

namespace tarvex {

class ServerView;
class InfoPane;
class JoinState;
namespace model {
class ServerModel;
}
class HttpTransfer;
class frmAbout;
class frmMoreInfo;
class frmFindPlayer;
namespace buddies {
class Notifier;
}
namespace filter {
class BuddyWatch;
}
namespace geo {
class CountryLookup;
}
namespace hosting {
class PingControl;
struct SearchPath;
} // namespace hosting
namespace sources {
struct ListedServer;
}
namespace status {
class StatusEngine;
struct ServerStatus;
} // namespace status
// --- server history ---
namespace history {
class HistoryStore;
}
// --- end server history ---

// The main window: the server list, its commands and the program's settings. The
// program starts by running Form_Load and ends when this window closes.
class frmTarvex : public QMainWindow
{
    Q_OBJECT

public:
    // Column indexes of the server grid.
    enum Column { ColName = 0, ColAddress = 1, ColPlayers = 2, ColMap = 3, ColPing = 4 };

    static const QString RefreshedText;

    // Whether the constructor loads the Ping library and creates the Ping control.
    // Skip leaves the window without one until createPingControl() is called; windows
    // that never ping (in tests, say) need not load the library at all.
    enum class PingControl { Load, Skip };

    explicit frmTarvex(QWidget *parent = nullptr, PingControl ping = PingControl::Load);
    ~frmTarvex() override;

    // Start-up: caption, settings, grid set-up, show, locate the game when needed, the
    // About box as a splash, then the server list.
    void Form_Load();

    // --- server list ---
    void cmdRefresh_Click();
    void ParseList();

    // --- list sources and the status refresh ---
    // Options › Server Sources: edits the sources and stores them.
    void mnuSources_Click();
    // Ends a running status refresh (Esc, or "Refresh List" pressed again).
    void cancelStatusRefresh();
    bool statusRefreshRunning() const;
    // A refresh is under way, at any of its steps (list, status, ping).
    bool refreshRunning() const;
    RefreshPipeline *refreshPipeline() const { return m_refresh; }
    status::StatusEngine *statusEngine() const;
    static const QString NoAnswerMark;
    static const QString DownMark;

    // --- options and menus ---
    void mnuPingStartup_Click();
    void mnuCloseStartup_Click();
    void mnuExit_Click();

    // --- game location and launch ---
    virtual void mnuDirectory_Click();
    void Grid1_DblClick();
    void Grid1_MouseDown(int button, int shift, double x, double y);

    // --- pinging ---
    virtual void Ping();
    void cmdPing_Click();
    void cmdPingSelect_Click();
    // Ends every ping under way: no answer of it is written any more.
    void cancelPings();
    bool pingRunning() const { return !m_pingRuns.empty(); }
    // Creates the window's Ping control by its program identifier, looking where
    // search says, and loads it with the window's stored properties. On failure the
    // window works without it and the ping commands say why.
    bool createPingControl(const hosting::SearchPath &search);
    hosting::PingControl *pingControl() const { return Ping1; }
    QString pingControlError() const { return m_pingControlError; }

    // --- details ---
    void cmdMoreInfo_Click();
    // Tools › Remote Console: the selected server's console, for its operator.
    void mnuRemoteConsole_Click();

    // --- submission and About box ---
    void Command1_Click();
    virtual void mnuAbout_Click();
    virtual void showAboutSplash();

    // The window's parts, named as the program's handlers know them.
    ServerView *Grid1 = nullptr; // the servers, shown through a sorting view
    QPushButton *cmdRefresh = nullptr;
    QPushButton *cmdPing = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *cmdPingSelect = nullptr;
    QPushButton *cmdMoreInfo = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QMenu *mnuFile = nullptr;
    QAction *mnudash2 = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuOptions = nullptr;
    QAction *mnuPingStartup = nullptr;
    QAction *mnuCloseStartup = nullptr;
    QAction *mnudash1 = nullptr;
    QAction *mnuDirectory = nullptr;
    QAction *mnuSources = nullptr;
    QMenu *mnuView = nullptr;
    QAction *mnuDescending = nullptr;
    QMenu *mnuTools = nullptr;
    QAction *mnuRemoteConsole = nullptr;
    QMenu *mnuhelp = nullptr;
    QAction *mnuAbout = nullptr;
    HttpTransfer *Inet1 = nullptr;

    // Everything known of the listed servers, one record per server.
    model::ServerModel *serverModel() const { return m_servers; }

    // The game's executable as stored; empty until the game is located.
    QString quakeLocation() const { return m_quakeLocation; }

    // Writes the status line.
    void setStatus(const QString &text);

    // ---- Info pane and joining (browser/frmTarvex_join.cpp) ----
public:
    QSplitter *infoSplit = nullptr; // the grid above, the info pane below
    InfoPane *infoPane = nullptr;
    QAction *mnuInfoPane = nullptr; // View › Server Info Pane
    QAction *mnuJoin = nullptr;
    QAction *mnuJoinPassword = nullptr;
    QAction *mnuJoinWhenFree = nullptr;
    // Joins the chosen server, asking for its password when it needs one.
    void mnuJoin_Click();
    // Joins the chosen server with a password, whether or not it says it needs one.
    void mnuJoinPassword_Click();
    // Starts waiting for a free slot on the chosen server, or stops the wait.
    void mnuJoinWhenFree_Click();
    bool waitingForSlot() const;
    void stopWaitingForSlot();
    // Whether the pane asks a chosen server for a fresh answer: from Form_Load on. A
    // window that was only made (as tests make them) shows what the model knows.
    void setInfoAsking(bool on);
    // The age beyond which a chosen server's answer is asked for again (10 s), and the
    // pace and limit of the wait for a free slot (3 s, 30 min); tests shorten them.
    void setInfoMaxAgeMs(qint64 ms);
    void setSlotWatchTimings(int intervalMs, int limitMs);

signals:
    // The game was started the moment a slot came free; text is the notification's.
    void startedWhenFree(const QString &text);

private:
    friend class JoinState;
    JoinState *m_join = nullptr;
    void setUpJoin(); // the pane, its splitter and the Server menu
    void restoreJoinLayout();
    void storeJoinLayout();
    void stopJoin(); // the window closes: no more asking or waiting
    // Checks row's address and the game's location (asking for it when there is none);
    // false, after telling the user why, when the game cannot be started.
    bool joinTarget(int row, QString &address, QString &location);
    void joinRow(int row, bool withPassword);
    void gameStarted(const QString &address);
    // ---- end of info pane and joining ----
public:
    // --- finding games (frmTarvex_find.cpp): filter bar, columns, favourites, buddies,
    // the server menu, auto refresh and keys ---
    QLineEdit *txtFilter = nullptr; // the quick filter above the grid
    QLabel *lblShown = nullptr; // "showing K of N servers, P players"
    QMenu *mnuServer = nullptr; // the selected server's commands; also the grid's menu
    QMenu *mnuColumns = nullptr;
    QMenu *mnuFilter = nullptr;
    QMenu *mnuAutoRefresh = nullptr;
    QAction *mnuFindPlayer = nullptr;
    QAction *mnuBuddies = nullptr;
    // The server menu, built once: another command is appended to what it returns.
    QMenu *serverMenu();
    // Starts the game on the selected server, as a double-click on its row does.
    void joinSelected();
    // Adds the selected server to the favourites, or takes it off.
    void addFavourite();
    void removeFavourite();
    // Esc: stops a refresh; with none running, clears the quick filter.
    void escapePressed();
    // Applies the filter again and writes the count beside the status line.
    void updateShown();
    // The minutes between automatic refreshes; 0: off.
    int autoRefreshMinutes() const { return m_autoRefreshMinutes; }
    void setAutoRefreshMinutes(int minutes);
    // The automatic refresh's turn: it starts a refresh unless the user is busy with one,
    // a ping or a details query. Returns whether it started one.
    bool autoRefreshDue();
    buddies::Notifier *buddyNotifier() const { return m_notifier; }
    frmFindPlayer *findPlayerWindow() const; // null until Find Player is first opened

signals:
    // A buddy has been seen on a server where the last refresh did not find them.
    void buddySeen(const QString &buddy, const QString &serverName);
    // Every text written into the status line, in order.
    void statusShown(const QString &text);
    // A refresh has ended, whichever way.
    void refreshFinished();
    // A submission has had its answer, or failed.
    void submissionFinished();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void buildMenus();
    void wireHandlers();
    void setUpServerGrid();
    void storeOption(QAction *entry, const QString &key);
    void layOutClient(); // the grid grows with the window; the bottom row follows its edge
    void restoreLayout(); // geometry and column widths of the last run
    void storeLayout();

    QString m_quakeLocation;
    model::ServerModel *m_servers = nullptr;

    // --- game location and launch ---
    QString m_dialogFileName = QStringLiteral("quake2.exe"); // the file dialog's last file
    // The latest press on the grid lay on the title row: the double-click that follows
    // it sorts, it never starts the game.
    bool m_lastPressOnTitle = false;
    QString usableQuakeLocation() const; // empty when it names no existing file
    // True when the game was started; a password, when given, is set before joining.
    bool startGame(const QString &location, const QString &address,
                   const QString &password = QString());

    // --- pinging ---
    hosting::PingControl *Ping1 = nullptr; // the window's Ping control, by its identifier
    QString m_pingControlError; // why it could not be created, when it could not
    bool pingControlReady(); // says why not, once per command, when it is missing
    // The pings under way, by the control's run number; m_listPing is the list ping's.
    std::map<qint32, ServerPing::Run> m_pingRuns;
    qint32 m_listPing = 0;
    void startPingRun(ServerPing::Run run, bool list);
    void pingAnswered(qint32 run, qint32 index, const QVariant &result);
    void pingFinished(qint32 run);

    // --- list sources and the status refresh ---
    void setUpRefresh();
    // The command buttons: none while a list is fetched, the list's own after a failed
    // fetch, all once servers are listed.
    enum class Commands { None, ListOnly, All };
    void setCommands(Commands which);
    void refreshListed(const RefreshPipeline::Listing &listing);
    void refreshFailed(const QList<RefreshPipeline::Failure> &failures);
    void statusAnswered(const sources::ServerAddress &server, const status::ServerStatus &answer,
                        int rttMs);
    void statusFailed(const sources::ServerAddress &server, bool down);
    RefreshPipeline *m_refresh = nullptr;
    bool m_pageOnlyRefresh = false;
    QStringList m_sourceProblems; // unreadable [Sources] entries of this refresh
    bool m_askedServers = false; // the running refresh has asked the servers
    bool m_closing = false; // the window is closing: nothing more is shown
    QString m_refreshedText; // the status text once the refresh is over
    qint64 m_lastProgressMs = 0;

    // --- details ---
    QPointer<frmMoreInfo> m_moreInfo;

    // --- submission and About box ---
    QPointer<frmAbout> m_about;

    // --- server history (browser/frmTarvex_history.cpp) ---
public:
    // The servers' history: recorded after every refresh, read by its charts and by
    // the "Last Seen"/"Peak Today" cells. Opened at the first refresh's end.
    history::HistoryStore *historyStore() const { return m_history; }

private:
    // Records each refresh's answers and adds Options › History.
    void setUpHistory();
    history::HistoryStore *m_history = nullptr;
    // --- end server history ---
    // --- finding games (frmTarvex_find.cpp) ---
    void setUpFinding();
    void buildFindingMenus();
    void readFilterOptions();
    void storeFilterOptions();
    void filterChanged();
    void restoreColumns();
    void storeColumns();
    void loadFavourites();
    bool saveFavourites(const QStringList &addresses);
    void refreshOneServer();
    void copySelected(bool connectLine);
    void afterRefresh();
    void findPlayer();
    void editBuddies();
    void showServerMenu(const QPoint &at);
    void updateServerMenu();
    QTimer *m_filterDelay = nullptr; // refilters a while after answers change the list
    QTimer *m_autoRefresh = nullptr;
    int m_autoRefreshMinutes = 0;
    QActionGroup *m_autoRefreshGroup = nullptr;
    QList<QAction *> m_filterActions; // the View › Filter toggles, in order
    QAction *m_maxPing = nullptr;
    QAction *m_favouriteAdd = nullptr;
    QAction *m_favouriteRemove = nullptr;
    QMenu *m_serverMenu = nullptr;
    status::StatusEngine *m_oneServer = nullptr; // Refresh This Server
    QList<model::ServerKey> m_oneServerKeys;
    // Shared pointers: their deleters are made where the objects are, in the finding code.
    std::shared_ptr<geo::CountryLookup> m_countries;
    std::shared_ptr<filter::BuddyWatch> m_buddyWatch;
    buddies::Notifier *m_notifier = nullptr;
    QPointer<QWidget> m_findPlayer; // the Find Player window
};

} // namespace tarvex
