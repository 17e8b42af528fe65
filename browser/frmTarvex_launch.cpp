// Locating the game and starting it on a double-click; sorting by a column title.
#include "core/browser/GameLaunch.h"
#include "core/browser/Module1.h"
#include "core/browser/Settings.h"
#include "browser/frmTarvex.h"
#include "ui/ServerView.h"
#include "ui/Dialogs.h"
#include "core/Program.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextDocument>

namespace tarvex {

namespace {

const QString LocateText = QStringLiteral("You must locate Quake to continue.");
// The open dialog's filters. The game's Windows build ships as Quake2.exe, QUAKE2.EXE
// or quake2.exe; the dialog matches names in any letter case. The second entry lets
// the user pick a native Linux build, which is usually named quake2 or yquake2.
const QStringList LocateFilters = {
    QStringLiteral("Quake2 (Quake2.exe)"),
    QStringLiteral("All files (*)"),
};

} // namespace

void frmTarvex::mnuDirectory_Click()
{
    const ui::Answer chosen =
        ui::openFileDialog(this, QStringLiteral("Find Quake2"), m_dialogFileName, LocateFilters);
    if (!chosen)
        return; // cancelled: the previous location stays, nothing is stored
    m_dialogFileName = *chosen;

    const std::optional<QString> location = Module1::ShortPathOf(*chosen);
    if (!location) {
        ui::messageBox(
            this,
            QStringLiteral("File not found: %1\nThe game's location was not changed.").arg(*chosen),
            ui::MsgIcon::Critical);
        return;
    }
    const QString notRegular = GameLaunch::notRegularFileMessage(*location);
    if (!notRegular.isEmpty()) {
        ui::messageBox(this, notRegular + tr("\nThe game's location was not changed."),
                       ui::MsgIcon::Critical);
        return;
    }
    m_quakeLocation = *location;
    if (!Settings::SaveSetting(Settings::DataSection, Settings::KeyQuakeLocation, m_quakeLocation))
        ui::messageBox(this,
                       tr("The game's location could not be saved: the settings file is not "
                          "writable. It is kept until the program ends."),
                       ui::MsgIcon::Warning);
}

QString frmTarvex::usableQuakeLocation() const
{
    if (m_quakeLocation.isEmpty())
        return {};
    return Module1::ShortPathOf(m_quakeLocation).value_or(QString());
}

void frmTarvex::Grid1_DblClick()
{
    Grid1->setCol(ColAddress);
    // The title row names no server: a double-click on a column title sorts (its
    // presses did that already), and one before any server row was chosen does nothing.
    if (m_lastPressOnTitle || Grid1->Row() < 1)
        return;
    joinRow(Grid1->Row(), false);
}

bool frmTarvex::joinTarget(int row, QString &address, QString &location)
{
    // The game joins its arguments and runs every "+" or ";" piece as a console
    // command, so only a plain host and port may reach its command line.
    address = Grid1->TextMatrix(row, ColAddress);
    if (address.isEmpty()) {
        ui::messageBox(this, tr("This row holds no server address, so the game was not started."),
                       ui::MsgIcon::Warning);
        return false;
    }
    if (!Module1::IsPlainAddress(address)) {
        ui::messageBox(this,
                       tr("The address \"%1\" is not a host name or IP address with an "
                          "optional \":port\", so the game was not started.")
                           .arg(address),
                       ui::MsgIcon::Warning);
        return false;
    }

    location = usableQuakeLocation();
    if (location.isEmpty()) {
        ui::messageBox(this, LocateText, ui::MsgIcon::Critical);
        if (m_closing)
            return false;
        mnuDirectory_Click();
        if (m_closing)
            return false;
        location = usableQuakeLocation();
        if (location.isEmpty())
            return false;
    }
    return true;
}

bool frmTarvex::startGame(const QString &location, const QString &address, const QString &password)
{
    const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    const GameLaunch::Launch launch = password.isEmpty()
        ? GameLaunch::plan(location, address, wine)
        : GameLaunch::planWithPassword(location, address, password, wine);
    if (!launch.error.isEmpty()) {
        ui::messageBox(this, launch.error, ui::MsgIcon::Critical);
        return false;
    }
    if (!QDir::setCurrent(launch.folder)) {
        ui::messageBox(this, tr("The game's folder %1 could not be entered.").arg(launch.folder),
                       ui::MsgIcon::Critical);
        return false;
    }

    // Arguments go to the program one by one, never through a shell.
    QProcess game;
    game.setProgram(launch.program);
    game.setArguments(launch.arguments);
    game.setWorkingDirectory(launch.folder);
    qint64 pid = 0;
    if (!game.startDetached(&pid)) {
        QString text =
            tr("The game could not be started: %1\n%2").arg(game.errorString(), game.program());
        if (launch.wineMissing)
            text += tr("\nIt is a Windows program: install wine to run it.");
        ui::messageBox(this, text, ui::MsgIcon::Critical);
        return false;
    }

    gameStarted(address);
    if (mnuCloseStartup->isChecked()) {
        // The program ends with the game's start: nothing more is sent or shown.
        m_closing = true;
        m_refresh->cancel();
        cancelPings();
        Program::end(0);
    }
    return true;
}

void frmTarvex::Grid1_MouseDown(int, int, double x, double y)
{
    m_lastPressOnTitle = y <= Grid1->RowHeight();
    if (!m_lastPressOnTitle)
        return;
    // Edges are reckoned from the grid's left edge; a press exactly on the edge between
    // two columns belongs to the left one, a press right of the last column to none.
    double left = 0;
    for (int i = 0; i < Grid1->Cols(); ++i) {
        const double right = left + Grid1->ColWidth(i);
        if (left <= x && x <= right) {
            Grid1->setCol(i);
            Grid1->Sort();
            return;
        }
        left = right;
    }
}

} // namespace tarvex
