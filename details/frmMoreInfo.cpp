#include "details/frmMoreInfo.h"

#include "details/ListBox.h"
#include "core/details/Module2.h"
#include "core/details/QStatQuery.h"
#include "ui/FlexGrid.h"
#include "ui/Dialogs.h"
#include "ui/WindowLayout.h"
#include "core/Program.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPointer>

namespace tarvex {

namespace {

// Client area and control positions, in twips.
constexpr int ClientWidth = 8355;
constexpr int ClientHeight = 4905;

struct Column
{
    const char *heading;
    int width; // twips
};

constexpr Column SummaryColumns[] = {
    {"Server Address", 2000}, {"Server Name", 2000}, {"Map Name", 1500},
    {"Max Players", 1000},    {"# Players", 800},    {"Ping", 700},
};
constexpr Column PlayerColumns[] = {{"Player", 1500}, {"Frags", 700}, {"Ping", 700}};

// Left and top, as the grids' alignment code.
constexpr int AlignLeftTop = 0;

} // namespace

frmMoreInfo::frmMoreInfo(QWidget *owner, const QString &host, int port)
    : QWidget(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_host(host),
      m_port(port)
{
    setObjectName(QStringLiteral("frmMoreInfo"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Server Info"));
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(ClientHeight));
    setCompactFace(this);

    Grid1 = new FlexGrid(2, 6, this);
    Grid1->setObjectName(QStringLiteral("Grid1"));
    Grid1->setGeometry(twipsRect(75, 60, 8190, 720));

    Grid2 = new FlexGrid(2, 3, this);
    Grid2->setObjectName(QStringLiteral("Grid2"));
    Grid2->setGeometry(twipsRect(105, 960, 3495, 3825));

    Label1 = new QLabel(QStringLiteral("Additional Server Information:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(3810, 960, 4230, 255));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    List1 = new ListBox(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twipsRect(3750, 1215, 4470, 3540));
}

frmMoreInfo::~frmMoreInfo() = default;

void frmMoreInfo::Show()
{
    if (m_state == State::Shown) {
        raise();
        activateWindow();
        return;
    }
    if (m_state == State::Loading) // a query is already running for this window
        return;

    m_state = State::Loading;
    const QPointer<frmMoreInfo> self(this);
    const LoadResult result = Form_Load();
    if (!self || result == LoadResult::ProgramEnded)
        return;
    if (result == LoadResult::Failed) {
        // Unload as a close would, without ever having been shown.
        Form_QueryUnload();
        m_state = State::NotLoaded;
        deleteLater();
        return;
    }
    m_state = State::Shown;
    show();
}

frmMoreInfo::LoadResult frmMoreInfo::fail(const QString &message)
{
    // The window is not visible yet, so the box belongs to its owner.
    ui::messageBox(parentWidget(), message, ui::MsgIcon::Warning);
    return Program::endRequested() ? LoadResult::ProgramEnded : LoadResult::Failed;
}

frmMoreInfo::LoadResult frmMoreInfo::Form_Load()
{
    setUpGrids();
    const QPointer<frmMoreInfo> self(this);
    // The query processes window events while QStat runs, so this window may be gone
    // when it returns.
    QStatQuery::Outcome outcome =
        QStatQuery::query(m_host, m_port, QStatQuery::environment(), Grid1->Cols(), Grid2->Cols());
    if (!self)
        return LoadResult::ProgramEnded;
    m_folder = outcome.folder;
    if (outcome.run)
        m_lastRun = *outcome.run;
    if (Program::endRequested() || outcome.kind == QStatQuery::Outcome::Kind::ProgramEnded)
        return LoadResult::ProgramEnded;
    if (outcome.kind == QStatQuery::Outcome::Kind::Failed)
        return fail(outcome.message);

    if (outcome.incomplete) {
        ui::messageBox(parentWidget(), *outcome.incomplete, ui::MsgIcon::Warning);
        if (Program::endRequested() || !self)
            return LoadResult::ProgramEnded;
    }
    showDetails(outcome.details);
    return LoadResult::Loaded;
}

void frmMoreInfo::setUpGrids()
{
    for (int c = 0; c < 6; ++c) {
        Grid1->setColWidth(c, SummaryColumns[c].width);
        Grid1->setColAlignment(c, AlignLeftTop);
    }
    for (int c = 0; c < 6; ++c)
        Grid1->setTextMatrix(0, c, QLatin1String(SummaryColumns[c].heading));

    for (int c = 0; c < 3; ++c)
        Grid2->setTextMatrix(0, c, QLatin1String(PlayerColumns[c].heading));
    for (int c = 0; c < 3; ++c) {
        Grid2->setColWidth(c, PlayerColumns[c].width);
        Grid2->setColAlignment(c, AlignLeftTop);
    }
}

void frmMoreInfo::showDetails(const Module2::Details &details)
{
    for (int col = 0; col < details.summary.size() && col < Grid1->Cols(); ++col)
        Grid1->setTextMatrix(1, col, details.summary[col]);

    // One row per player from row 1 on, each followed by a new blank row, so the grid
    // ends with one blank row.
    GridBatch batch(*Grid2);
    int row = 1;
    for (const QStringList &player : details.players) {
        for (int col = 0; col < player.size() && col < Grid2->Cols(); ++col)
            Grid2->setTextMatrix(row, col, player[col]);
        Grid2->AddItem(QString());
        ++row;
    }

    for (const QString &rule : details.rules)
        List1->AddItem(rule);
}

void frmMoreInfo::Form_QueryUnload()
{
    // info.bat stays, holding the last query's command.
    if (!m_folder.isEmpty())
        QStatQuery::deleteOutput(m_folder);
}

void frmMoreInfo::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    m_state = State::NotLoaded;
    event->accept();
}

} // namespace tarvex
