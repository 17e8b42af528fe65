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
// the one instance. Loading it starts the query for the server it was made for; the
// window becomes visible with the details once QStat has answered, or unloads itself
// after saying why there is nothing to show. Closing it (or the program's end) stops a
// query still running. Closing it unloads it (the object is deleted), so the next
// "More Server Info" loads a fresh one and runs a new query.
class frmMoreInfo final : public QWidget
{
    Q_OBJECT

public:
    enum class State { NotLoaded, Loading, Shown };

    // host: a plain host name or address; port: the server's port; query: how QStat is
    // run (the program found on the system, by default).
    frmMoreInfo(QWidget *owner, const QString &host, int port, QStatQuery::Options query = {});

    QString host() const { return m_host; }
    int port() const { return m_port; }
    ~frmMoreInfo() override;

    // Starts loading the window when it is not loaded and returns; a shown window is
    // only brought to the front, a loading one left to its query. The window shows
    // itself when the query has loaded it; when the load fails the user is told why and
    // the window unloads itself without showing. loaded() follows either way.
    void Show();

    State state() const { return m_state; }
    // How the last load's QStat run went (its duration feeds the benchmark).
    const QStatQuery::RunResult &lastRun() const { return m_lastRun; }

    // Fills the grids and the list from a query's details.
    void showDetails(const QStatOutput::Details &details);

    FlexGrid *Grid1 = nullptr;
    FlexGrid *Grid2 = nullptr;
    QLabel *Label1 = nullptr;
    ListBox *List1 = nullptr;

signals:
    // The load has ended (not sent when the window is closed or the program ends
    // first): shown is true when the window is now shown with its details.
    void loaded(bool shown);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void queryFinished(const QStatQuery::Result &result);
    void Form_QueryUnload();
    void setUpGrids();
    void unload();

    State m_state = State::NotLoaded;
    QString m_host;
    int m_port = QStatQuery::DefaultPort;
    QStatQuery::Options m_options;
    QStatQuery *m_query = nullptr;
    bool m_programEnded = false;
    QStatQuery::RunResult m_lastRun;
};

} // namespace tarvex
