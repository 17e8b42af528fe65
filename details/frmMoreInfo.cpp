#include "details/frmMoreInfo.h"

#include "core/Program.h"
#include "core/details/QStatOutput.h"
#include "core/details/QStatQuery.h"
#include "details/ListBox.h"
#include "ui/Dialogs.h"
#include "ui/FlexGrid.h"
#include "ui/WindowLayout.h"

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

frmMoreInfo::frmMoreInfo(QWidget *owner, const QString &host, int port, QStatQuery::Options query)
    : QWidget(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_host(host),
      m_port(port),
      m_options(std::move(query))
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

    // Once the program ends nothing more of a load may run: no message, no window.
    connect(&Program::notifier(), &Program::Notifier::ending, this, [this] {
        m_programEnded = true;
        Form_QueryUnload();
        if (m_state == State::Loading) {
            m_state = State::NotLoaded;
            deleteLater();
        }
    });
}

frmMoreInfo::~frmMoreInfo() = default;

void frmMoreInfo::Show()
{
    if (m_state == State::Shown) {
        raise();
        activateWindow();
        return;
    }
    // A loading window leaves its query alone; after the program's end nothing starts.
    if (m_state == State::Loading || m_programEnded)
        return;
    m_state = State::Loading;
    Form_Load();
}

void frmMoreInfo::Form_Load()
{
    setUpGrids();
    m_query = new QStatQuery(m_options, this);
    connect(m_query, &QStatQuery::finished, this, &frmMoreInfo::queryFinished);
    m_query->start(m_host, m_port, Grid1->Cols(), Grid2->Cols());
}

void frmMoreInfo::queryFinished(const QStatQuery::Result &result)
{
    // Called by the query itself: it goes once it has returned.
    m_query->deleteLater();
    m_query = nullptr;
    if (result.run)
        m_lastRun = *result.run;

    // A message box waits for the user while the other windows go on: this window may
    // be gone, closed or the program ended once it returns (each leaves the load).
    const QPointer<frmMoreInfo> self(this);
    if (result.kind == QStatQuery::Result::Kind::Failed) {
        // The window is not visible yet, so the box belongs to its owner.
        ui::messageBox(parentWidget(), result.message, ui::MsgIcon::Warning);
        if (!self || m_state != State::Loading)
            return;
        unload();
        emit loaded(false);
        return;
    }
    if (result.incomplete) {
        ui::messageBox(parentWidget(), *result.incomplete, ui::MsgIcon::Warning);
        if (!self || m_state != State::Loading)
            return;
    }
    showDetails(result.details);
    m_state = State::Shown;
    show();
    emit loaded(true);
}

void frmMoreInfo::unload()
{
    // As a close would, without ever having been shown.
    Form_QueryUnload();
    m_state = State::NotLoaded;
    deleteLater();
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

void frmMoreInfo::showDetails(const QStatOutput::Details &details)
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
    // A query still running ends here, QStat with it.
    delete m_query;
    m_query = nullptr;
}

void frmMoreInfo::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    m_state = State::NotLoaded;
    event->accept();
}

} // namespace tarvex
