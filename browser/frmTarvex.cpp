#include "browser/frmTarvex.h"

#include "core/net/HttpTransfer.h"
#include "core/browser/ServerListParser.h"
#include "core/browser/Settings.h"
#include "core/model/ServerModel.h"
#include "ui/ServerView.h"
#include "hosting/PingLoader.h"
#include "ui/Dialogs.h"
#include "ui/WindowLayout.h"
#include "core/Program.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QSignalBlocker>

namespace tarvex {

const QString frmTarvex::RefreshedText =
    QStringLiteral("Server list refreshed.  Double-click a server to join game.");

namespace {

// The window's own layout (geometry, column widths), apart from the program's options.
const QString WindowSection = QStringLiteral("Window");

// Client area and control positions, in twips.
constexpr int ClientWidth = 8310;
constexpr int ClientHeight = 4665;

} // namespace

frmTarvex::frmTarvex(QWidget *parent, PingControl ping)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmTarvex"));
    Inet1 = new HttpTransfer(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    buildLayout();
    buildMenus();
    setUpRefresh();
    wireHandlers();
    // Filter bar, extra columns, favourites, buddies, the server menu and keys.
    setUpFinding();
    setUpJoin(); // info pane and joining, with their entries in the server menu
    if (ping == PingControl::Load)
        createPingControl(hosting::defaultSearch());
    setUpHistory();
}

frmTarvex::~frmTarvex() = default;

bool frmTarvex::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        layOutClient();
    return QMainWindow::eventFilter(watched, event);
}

void frmTarvex::layOutClient()
{
    QWidget *client = centralWidget();
    if (!Label2 || !Label2->property("baseGeometry").isValid())
        return; // still being built
    const int dx = std::max(0, client->width() - twipsToPixels(ClientWidth));
    const int dy = std::max(0, client->height() - twipsToPixels(ClientHeight));
    // The grid's rectangle; the info pane, when there is one, shares it below the grid.
    QWidget *gridArea = infoSplit ? static_cast<QWidget *>(infoSplit) : Grid1;
    gridArea->setGeometry(twipsRect(60, -15, 8115, 3750).adjusted(0, 0, dx, dy));
    for (QWidget *w : {static_cast<QWidget *>(cmdRefresh), static_cast<QWidget *>(cmdPing),
                       static_cast<QWidget *>(Command1), static_cast<QWidget *>(cmdPingSelect),
                       static_cast<QWidget *>(cmdMoreInfo), static_cast<QWidget *>(Label1)}) {
        const QRect base = w->property("baseGeometry").toRect();
        w->setGeometry(base.translated(0, dy));
    }
    Label1->resize(Label1->width() + dx, Label1->height());
    const QRect base2 = Label2->property("baseGeometry").toRect();
    Label2->setGeometry(base2.translated(dx, dy));
}

void frmTarvex::restoreLayout()
{
    {
        const QSignalBlocker quiet(mnuDescending); // read, not stored again
        mnuDescending->setChecked(
            Settings::GetBoolSetting(WindowSection, QStringLiteral("DescendingOrder"), false));
    }
    Grid1->setSortDescending(mnuDescending->isChecked());
    Grid1->setSortColumn(
        Settings::GetSetting(WindowSection, QStringLiteral("SortColumn"), {}).toInt() - 1);
    const QString geometry = Settings::GetSetting(WindowSection, QStringLiteral("Geometry"), {});
    if (!geometry.isEmpty())
        restoreGeometry(QByteArray::fromBase64(geometry.toLatin1()));
    const QStringList widths =
        Settings::GetSetting(WindowSection, QStringLiteral("ColumnWidths"), {})
            .split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int c = 0; c < widths.size() && c <= ColPing; ++c) {
        bool ok = false;
        const int twips = widths[c].trimmed().toInt(&ok);
        if (ok && twips > 0 && twips <= 30000)
            Grid1->setColWidth(c, twips);
    }
    restoreJoinLayout(); // info pane and joining
}

void frmTarvex::storeLayout()
{
    QStringList widths;
    for (int c = 0; c <= ColPing; ++c)
        widths << QString::number(Grid1->ColWidth(c));
    // A layout that cannot be stored is not worth a box on the way out.
    Settings::SaveSetting(WindowSection, QStringLiteral("Geometry"),
                          QString::fromLatin1(saveGeometry().toBase64()));
    Settings::SaveSetting(WindowSection, QStringLiteral("ColumnWidths"),
                          widths.join(QLatin1Char(',')));
    // 1 for the first column; 0 for the list's own order.
    Settings::SaveSetting(WindowSection, QStringLiteral("SortColumn"),
                          QString::number(Grid1->sortColumn() + 1));
    storeJoinLayout(); // info pane and joining
}

void frmTarvex::buildLayout()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    // The designed size is the default and the smallest; a larger window gives the grid
    // the room, and the buttons and status line keep to the bottom edge.
    client->setMinimumSize(twipsToPixels(ClientWidth), twipsToPixels(ClientHeight));
    client->resize(client->minimumSize());
    client->installEventFilter(this);
    setCompactFace(client);
    setCentralWidget(client);

    m_servers = new model::ServerModel(this);
    Grid1 = new ServerView(m_servers, client);
    Grid1->setObjectName(QStringLiteral("Grid1"));
    Grid1->setGeometry(twipsRect(60, -15, 8115, 3750));

    const auto button = [client](const char *name, const QString &caption, QRect rect) {
        auto *b = new QPushButton(caption, client);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(rect);
        b->setAutoDefault(false);
        return b;
    };
    cmdRefresh =
        button("cmdRefresh", QStringLiteral("&Refresh List"), twipsRect(60, 3840, 1065, 345));
    cmdPing = button("cmdPing", QStringLiteral("&Ping List"), twipsRect(1200, 3840, 1065, 345));
    Command1 =
        button("Command1", QStringLiteral("&Add Server to List"), twipsRect(2340, 3840, 1590, 345));
    cmdPingSelect = button("cmdPingSelect", QStringLiteral("Ping Selected &Server"),
                           twipsRect(4005, 3840, 1770, 345));
    cmdMoreInfo = button("cmdMoreInfo", QStringLiteral("&More Server Info"),
                         twipsRect(5865, 3825, 1770, 345));

    Label1 = new QLabel(QStringLiteral("Welcome to Tarvex"), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(60, 4275, 4125, 300));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The status line is narrow for its longest texts; a half point less lets them fit.
    QFont statusFace = client->font();
    statusFace.setPointSizeF(7.5);
    Label1->setFont(statusFace);

    Label2 = new QLabel(QStringLiteral("A Quake 2 server browser"), client);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twipsRect(4260, 4305, 4020, 225));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    for (QWidget *w : client->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        w->setProperty("baseGeometry", w->geometry());
}

void frmTarvex::buildMenus()
{
    QMenuBar *bar = menuBar();
    mnuFile = bar->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnudash2 = mnuFile->addSeparator();
    mnudash2->setObjectName(QStringLiteral("mnudash2"));
    mnuExit = mnuFile->addAction(QStringLiteral("&Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));

    mnuOptions = bar->addMenu(QStringLiteral("&Options"));
    mnuOptions->setObjectName(QStringLiteral("mnuOptions"));
    mnuPingStartup = mnuOptions->addAction(QStringLiteral("&Ping On Startup"));
    mnuPingStartup->setObjectName(QStringLiteral("mnuPingStartup"));
    mnuPingStartup->setCheckable(true);
    mnuCloseStartup = mnuOptions->addAction(QStringLiteral("&Close On Game Startup"));
    mnuCloseStartup->setObjectName(QStringLiteral("mnuCloseStartup"));
    mnuCloseStartup->setCheckable(true);
    mnudash1 = mnuOptions->addSeparator();
    mnudash1->setObjectName(QStringLiteral("mnudash1"));
    mnuDirectory = mnuOptions->addAction(QStringLiteral("&Quake Directory"));
    mnuDirectory->setObjectName(QStringLiteral("mnuDirectory"));
    mnuSources = mnuOptions->addAction(QStringLiteral("Server &Sources..."));
    mnuSources->setObjectName(QStringLiteral("mnuSources"));

    mnuView = bar->addMenu(QStringLiteral("&View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuDescending = mnuView->addAction(QStringLiteral("&Descending Order"));
    mnuDescending->setObjectName(QStringLiteral("mnuDescending"));
    mnuDescending->setCheckable(true);

    mnuTools = bar->addMenu(QStringLiteral("&Tools"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    mnuRemoteConsole = mnuTools->addAction(QStringLiteral("&Remote Console..."));
    mnuRemoteConsole->setObjectName(QStringLiteral("mnuRemoteConsole"));
    mnuRemoteConsole->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));

    mnuhelp = bar->addMenu(QStringLiteral("&Help"));
    mnuhelp->setObjectName(QStringLiteral("mnuhelp"));
    mnuAbout = mnuhelp->addAction(QStringLiteral("&About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
}

void frmTarvex::wireHandlers()
{
    connect(cmdRefresh, &QPushButton::clicked, this, &frmTarvex::cmdRefresh_Click);
    connect(cmdPing, &QPushButton::clicked, this, &frmTarvex::cmdPing_Click);
    connect(Command1, &QPushButton::clicked, this, &frmTarvex::Command1_Click);
    connect(cmdPingSelect, &QPushButton::clicked, this, &frmTarvex::cmdPingSelect_Click);
    connect(cmdMoreInfo, &QPushButton::clicked, this, &frmTarvex::cmdMoreInfo_Click);
    connect(mnuExit, &QAction::triggered, this, &frmTarvex::mnuExit_Click);
    // The handlers toggle the check mark themselves; Qt's own toggle of a checkable
    // entry is undone first so that a click changes it exactly once.
    connect(mnuPingStartup, &QAction::triggered, this, [this] {
        mnuPingStartup->setChecked(!mnuPingStartup->isChecked());
        mnuPingStartup_Click();
    });
    connect(mnuCloseStartup, &QAction::triggered, this, [this] {
        mnuCloseStartup->setChecked(!mnuCloseStartup->isChecked());
        mnuCloseStartup_Click();
    });
    connect(mnuDirectory, &QAction::triggered, this, &frmTarvex::mnuDirectory_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmTarvex::mnuAbout_Click);
    connect(mnuSources, &QAction::triggered, this, &frmTarvex::mnuSources_Click);
    connect(mnuDescending, &QAction::toggled, this, [this](bool on) {
        Grid1->setSortDescending(on);
        // Kept beside the window's layout; a store that cannot be written is not worth a box.
        Settings::SaveSetting(WindowSection, QStringLiteral("DescendingOrder"),
                              Settings::boolToText(on));
    });
    connect(mnuRemoteConsole, &QAction::triggered, this, &frmTarvex::mnuRemoteConsole_Click);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &frmTarvex::escapePressed);
    connect(Grid1, &ServerView::DblClick, this, &frmTarvex::Grid1_DblClick);
    connect(Grid1, &ServerView::MouseDown, this, &frmTarvex::Grid1_MouseDown);
}

void frmTarvex::Form_Load()
{
    setWindowTitle(
        QStringLiteral("Tarvex %1.%2").arg(TARVEX_VERSION_MAJOR).arg(TARVEX_VERSION_MINOR));
    m_quakeLocation =
        Settings::GetSetting(Settings::DataSection, Settings::KeyQuakeLocation, QString());
    mnuPingStartup->setChecked(
        Settings::GetBoolSetting(Settings::DataSection, Settings::KeyPingOnStartup, true));
    mnuCloseStartup->setChecked(
        Settings::GetBoolSetting(Settings::DataSection, Settings::KeyCloseOnStartup, true));
    setUpServerGrid();
    restoreLayout();
    setInfoAsking(true); // info pane and joining
    show();
    if (m_quakeLocation.isEmpty()) {
        ui::messageBox(this, QStringLiteral("You must locate Quake to continue."),
                       ui::MsgIcon::Critical);
        if (m_closing)
            return;
        mnuDirectory_Click();
    }
    if (m_closing)
        return;
    showAboutSplash();
    ParseList();
}

void frmTarvex::setUpServerGrid()
{
    // The titles are the model's; the two wide columns get their room.
    Grid1->setColWidth(ColName, 2500);
    Grid1->setColWidth(ColAddress, 2500);
    Grid1->setRow(0);
}

void frmTarvex::cmdRefresh_Click()
{
    // Pressed while the servers are being asked: the press ends that, nothing more.
    if (statusRefreshRunning()) {
        cancelStatusRefresh();
        return;
    }
    // A refresh or a ping under way ends here: the grid it fills is about to go.
    m_refresh->cancel();
    cancelPings();
    m_servers->clear();
    ParseList();
}

void frmTarvex::setStatus(const QString &text)
{
    Label1->setText(text);
    emit statusShown(text);
}

void frmTarvex::storeOption(QAction *entry, const QString &key)
{
    entry->setChecked(!entry->isChecked());
    if (!Settings::SaveSetting(Settings::DataSection, key,
                               Settings::boolToText(entry->isChecked())))
        ui::messageBox(this,
                       tr("The option could not be saved: the settings file is not writable."),
                       ui::MsgIcon::Warning);
}

void frmTarvex::mnuPingStartup_Click() { storeOption(mnuPingStartup, Settings::KeyPingOnStartup); }

void frmTarvex::mnuCloseStartup_Click()
{
    storeOption(mnuCloseStartup, Settings::KeyCloseOnStartup);
}

void frmTarvex::mnuExit_Click() { close(); }

void frmTarvex::closeEvent(QCloseEvent *event)
{
    event->accept();
    storeLayout();
    // The program's end ends the refresh with it: nothing more is sent or shown.
    m_closing = true;
    m_refresh->cancel();
    cancelPings();
    stopJoin(); // info pane and joining
    Program::end(0);
}

} // namespace tarvex
