#!/usr/bin/python3
"""End to end: the real tarvex on a private X display, with the list service serving a
page of loopback servers, a Quake 2 status responder per server, the real quakestat
and a stand-in game. A user's session, checked through the program's own windows:

  the grid lists the servers of the page;
  "Ping List" fills the Ping column;
  "Add Server to List" with an address typed into its box reaches the list service;
  a double-click on a server row starts the game with "+connect" and that address;
  "More Server Info" on a selected row opens "Server Info" with that server's status;
  File > Exit ends the program.

Exit status 0: passed; 1: failed; 77: skipped, because something it needs is missing.
Usage: tst_e2e.py <folder of the built programs> [--keep]
"""

import os
import re
import signal
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

SKIP = 77

try:
    from tarvex_session import Failure, Session, Unavailable, log
except ImportError as error:  # pragma: no cover - the module is beside this file
    print(f"SKIP: {error}")
    sys.exit(SKIP)

REFRESHED = "Server list refreshed.  Double-click a server to join game."
PING_FINISHED = "Finished pinging.  Double-click a server to join game."
SUBMITTED_ADDRESS = "127.45.67.89"
# The Ping control's time-out as the window sets it: a reply is always faster.
PING_TIME_OUT_MS = 1500


def check(condition, message):
    if not condition:
        raise Failure(message)


def status_text(main):
    from tarvex_driver import labels
    texts = [t for t in labels(main) if t != "A Quake 2 server browser"]
    return texts[0] if texts else None


def run(session):
    # The accessibility bus must be up before the program starts: Qt joins it only
    # when it is there (or when it appears while Qt listens).
    try:
        import gi
        gi.require_version("Atspi", "2.0")
    except (ImportError, ValueError) as error:
        raise Unavailable(f"AT-SPI for Python is missing (Debian package python3-pyatspi): {error}")
    session.start()
    import tarvex_driver as d
    from gi.repository import Atspi
    d.start_accessibility_bus()

    started = time.monotonic()
    tarvex = session.start_tarvex()
    ui = d.Driver(session, tarvex.pid)
    ui.wait_for_app(30)
    main = ui.wait_for_window("Tarvex 1.3", 30)
    log(f"main window shown after {time.monotonic() - started:.1f} s")
    servers = session.servers

    # --- the grid filled from the list page ---
    grid = d.tables(main)[0]
    expected = [[s.name, s.endpoint, f"{len(s.players)}/{s.maxclients}", s.mapname, ""]
                for s in servers]
    # The first five columns are the list's; the ones after them come from status answers.
    ui.wait("the grid to list the servers of the page",
            lambda: [r[:5] for r in d.table_rows(grid)] == expected, 30)
    check(d.column_titles(grid)[:5] == ["Server List", "Address", "Players", "Map", "Ping"],
          f"grid titles: {d.column_titles(grid)}")
    check(status_text(main) == REFRESHED, f"status line after the list: {status_text(main)!r}")
    log("grid filled: " + "; ".join(s.name for s in servers))

    # --- the About box of the start-up goes with its OK button ---
    about = ui.wait_for_window("About Tarvex", 15)
    ui.click(d.button(about, "OK"))
    ui.wait_window_gone("About Tarvex", 10)

    # --- Ping List ---
    ping_list = d.button(main, "Ping List")
    check(d.enabled(ping_list), '"Ping List" is disabled after the list came')
    ui.click(ping_list)

    def pinged():
        rows = d.table_rows(grid)
        return status_text(main) == PING_FINISHED and all(r[4] for r in rows) and rows
    rows = ui.wait('the Ping column to fill after "Ping List"', pinged, 30)
    for r in rows:
        check(re.fullmatch(r"\d+", r[4]) and int(r[4]) < PING_TIME_OUT_MS,
              f"ping of {r[1]}: {r[4]!r}, not the milliseconds of a reply")
    check([r[:4] for r in rows] == [e[:4] for e in expected], f"rows changed by the ping: {rows}")
    log("pings: " + ", ".join(f"{r[1]} {r[4]} ms" for r in rows))

    # --- Add Server to List: an address typed into the box reaches the list service ---
    ui.click(d.button(main, "Add Server to List"))
    box = ui.wait_for_window("Server IP Address", 15)
    field = d.find(box, Atspi.Role.TEXT)
    ui.click(field)
    ui.keys("ctrl+a")
    ui.type_text(SUBMITTED_ADDRESS)
    ui.wait("the typed address in the box",
            lambda: Atspi.Text.get_text(field, 0, -1) == SUBMITTED_ADDRESS, 10)
    ui.keys("Return")
    ui.wait_window_gone("Server IP Address", 10)
    wanted = f"/q2serverlist/addserver.asp?tIP={SUBMITTED_ADDRESS}&tPort=27910"
    submissions = ui.wait("the submission at the list service", session.submissions, 15)
    check(submissions == [wanted], f"the list service received {submissions}, not [{wanted!r}]")
    log(f"submission received: {submissions[0]}")

    # --- a double-click on a server row starts the game ---
    joined = servers[2]
    ui.double_click(d.cell(grid, 2, 0))
    ui.wait("the game to start after the double-click", session.launches, 15)
    time.sleep(0.5)  # a second start would show up by now
    launches = session.launches()
    check(len(launches) == 1, f"the game started {len(launches)} times: {launches}")
    folder, arguments = launches[0]
    check(os.path.realpath(folder) == os.path.realpath(session.game_folder),
          f"the game started in {folder}, not in its own folder {session.game_folder}")
    check(arguments == ["+connect", joined.endpoint],
          f"the game's arguments: {arguments}, not +connect {joined.endpoint}")
    ui.alive()  # Close On Game Startup is off: the program stays
    log(f"game started in {folder} with {' '.join(arguments)}")

    # --- More Server Info on a selected row ---
    shown = servers[1]
    ui.click(d.cell(grid, 1, 0))
    ui.click(d.button(main, "More Server Info"))
    info = ui.wait_for_window("Server Info", 30)

    def details():
        found = d.tables(info)
        if len(found) != 2:
            return None
        summary, players = d.table_rows(found[0]), d.table_rows(found[1])
        return summary and summary[0][0] and (summary, players, d.list_items(info))
    summary, players, rules = ui.wait("the details of the server", details, 15)
    check(len(summary) == 1 and summary[0][:5] == [shown.endpoint, shown.name, shown.mapname,
                                                    str(shown.maxclients), str(len(shown.players))],
          f"details of {shown.endpoint}: {summary}")
    check(re.fullmatch(r"\d+", summary[0][5]), f"QStat's ping in the details: {summary[0][5]!r}")
    shown_players = [p for p in players if any(p)]
    wanted_players = [[name, str(frags), str(ping)] for frags, ping, name in shown.players]
    check(shown_players == wanted_players,
          f"players of {shown.endpoint}: {shown_players}, not {wanted_players}")
    check("timelimit=20" in rules and "fraglimit=30" in rules,
          f"rules of {shown.endpoint}: {rules}")
    log(f"details: {summary[0]}, players {shown_players}, rules {rules}")

    # --- the details window goes with Alt+F4, as any window ---
    ui.click(d.find(info, Atspi.Role.LABEL, "Additional Server Information:"))
    ui.keys("alt+F4")
    ui.wait_window_gone("Server Info", 10)

    # --- File > Exit ends the program ---
    ui.click(d.find(main, Atspi.Role.MENU_ITEM, "File"))
    exit_entry = ui.wait('"Exit" in the File menu',
                         lambda: next((m for m in d.descendants(main, Atspi.Role.MENU_ITEM, "Exit")
                                       if d.showing(m)), None), 10)
    ui.click(exit_entry)
    try:
        code = tarvex.wait(15)
    except Exception:
        raise Failure("the program did not end within 15 s of File > Exit")
    check(code == 0, f"the program ended with status {code} after File > Exit")
    log(f"program ended with status 0 after {time.monotonic() - started:.1f} s")
    return 0


def describe_windows(session):
    """The program's windows as AT-SPI shows them, with their texts: a message box that
    stood in the way says here what it said."""
    if session.tarvex is None or session.tarvex.poll() is not None:
        return "(the program is not running)"
    try:
        import tarvex_driver as d
        ui = d.Driver(session, session.tarvex.pid)
        if ui.app() is None:
            return "(the program is not on the accessibility bus)"
        ui.refresh()
        lines = []
        for w in ui.windows():
            if w is None or not d.showing(w):
                continue
            lines.append(f"{w.get_role_name()} \"{w.get_name()}\"")
            lines += [f"    {t!r}" for t in d.labels(w) if t]
        return "\n".join(lines) or "(no window shown)"
    except Exception as error:
        return f"(could not be read: {error})"


class Stopped(Exception):
    pass


def stop(signum, _frame):
    # Through the normal way out, so that every process of the session is ended.
    raise Stopped(f"stopped by signal {signum}")


def main():
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, stop)
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    keep = "--keep" in sys.argv[2:]
    session = Session(sys.argv[1])
    started = time.monotonic()
    try:
        result = run(session)
        print(f"PASS: end to end in {time.monotonic() - started:.1f} s", flush=True)
        return result
    except Unavailable as why:
        print(f"SKIP: {why}", flush=True)
        return SKIP
    except Exception:
        traceback.print_exc()
        if session.folder:
            keep = True  # the logs and a picture of the screen, for a look afterwards
            session.screenshot(session.path("failure.png"))
            print("--- the program's windows ---\n" + describe_windows(session), flush=True)
            print("--- tarvex's output ---\n" + session.log_tail("tarvex"), flush=True)
            print(f"The session's folder is kept: {session.folder}", flush=True)
        print("FAIL", flush=True)
        return 1
    finally:
        session.close(keep_folder=keep)


if __name__ == "__main__":
    sys.exit(main())
