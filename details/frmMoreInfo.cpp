#include "details/frmMoreInfo.h"

#include "core/browser/Module1.h"
#include "details/ListBox.h"
#include "core/details/Module2.h"
#include "core/details/QStatQuery.h"
#include "ui/FlexGrid.h"
#include "ui/Dialogs.h"
#include "ui/WindowLayout.h"
#include "core/Program.h"

#include <QCloseEvent>
#include <QDir>
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

frmMoreInfo::frmMoreInfo(QWidget *owner)
    : QWidget(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
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
    const QString host = Module1::ServerIP;
    const QStatQuery::Environment &env = QStatQuery::environment();

    m_folder = QStatQuery::resolveFolder(env);
    if (m_folder.isEmpty())
        return fail(QStringLiteral("The details of %1 cannot be queried: neither the "
                                   "program's folder nor the cache folder is writable.")
                        .arg(Module1::IsPlainHost(host) ? host : QStringLiteral("the server")));

    // An answer left by an earlier query must never be read as this one's.
    QStatQuery::deleteOutput(m_folder);
    setUpGrids();

    if (!Module1::IsPlainHost(host))
        return fail(Module1::NotPlainHostText);
    if (const auto error = QStatQuery::writeBatchFile(m_folder, host))
        return fail(
            QStringLiteral("The query file could not be written:\n%1\n%2")
                .arg(QDir::toNativeSeparators(QDir(m_folder).filePath(QStatQuery::BatchFileName)),
                     *error));

    QDir::setCurrent(m_folder);
    const QString path = QStatQuery::searchPath(env, m_folder);
    const QPointer<frmMoreInfo> self(this);
    const QStatQuery::RunResult run = QStatQuery::runBatch(m_folder, path, env.timeoutMs);
    if (self)
        m_lastRun = run;
    if (Program::endRequested() || !self
        || run.outcome == QStatQuery::RunResult::Outcome::ProgramEnded)
        return LoadResult::ProgramEnded;
    if (const auto message = QStatQuery::runFailureMessage(run, host, m_folder))
        return fail(*message);

    const std::optional<QString> output = QStatQuery::readOutput(m_folder);
    if (!output)
        return fail(QStatQuery::unreadableOutputMessage(m_folder, host));
    if (output->trimmed().isEmpty())
        return fail(QStatQuery::noOutputMessage(host));
    if (const auto problem = QStatQuery::serverProblem(*output))
        return fail(QStatQuery::problemMessage(*problem, host));

    if (const auto incomplete = QStatQuery::incompleteOutputMessage(m_folder, *output, host)) {
        ui::messageBox(parentWidget(), *incomplete, ui::MsgIcon::Warning);
        if (Program::endRequested() || !self)
            return LoadResult::ProgramEnded;
    }
    Module2::RawData = Module2::WithCrLf(*output);
    Module2::CutOutput();
    Module2::ParseServer(*Grid1);
    Module2::ParsePlayers(*Grid2);
    Module2::ParseRules(*List1);
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
