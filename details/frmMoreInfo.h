#pragma once

#include "core/details/QStatQuery.h"

#include <QString>
#include <QWidget>

class QLabel;

namespace tarvex {

class FlexGrid;
class ListBox;

// The details window: the live status of one server as QStat reports it, with a
// summary row (Grid1), the players (Grid2) and the rules (List1). The main window owns
// the one instance. Loading it runs the query for the server it was made for and fills it; it
// becomes visible only once that is done. Closing it unloads it (the object is
// deleted), so the next "More Server Info" loads a fresh one and runs a new query.
class frmMoreInfo final : public QWidget
{
    Q_OBJECT

public:
    enum class State { NotLoaded, Loading, Shown };

    // host: a plain host name or address; port: the server's port.
    frmMoreInfo(QWidget *owner, const QString &host, int port);

    QString host() const { return m_host; }
    int port() const { return m_port; }
    ~frmMoreInfo() override;

    // Loads the window when it is not loaded and shows it; a shown window is only
    // brought to the front. When the load fails the user is told why and the window
    // unloads itself without showing.
    void Show();

    State state() const { return m_state; }
    // The folder of info.bat and tmp.txt used by the last load.
    QString folder() const { return m_folder; }
    // How the last load's QStat run went (its duration feeds the benchmark).
    const QStatQuery::RunResult &lastRun() const { return m_lastRun; }

    // Fills the grids and the list from a query's details.
    void showDetails(const Module2::Details &details);

    FlexGrid *Grid1 = nullptr;
    FlexGrid *Grid2 = nullptr;
    QLabel *Label1 = nullptr;
    ListBox *List1 = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class LoadResult { Loaded, Failed, ProgramEnded };

    LoadResult Form_Load();
    void Form_QueryUnload();
    void setUpGrids();
    LoadResult fail(const QString &message);

    State m_state = State::NotLoaded;
    QString m_host;
    int m_port = QStatQuery::DefaultPort;
    QString m_folder;
    QStatQuery::RunResult m_lastRun;
};

} // namespace tarvex
