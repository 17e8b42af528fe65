"""Driving the running program as a user does: its windows, buttons and grid cells
are found and read through Qt's accessibility over AT-SPI, and the pointer and the
keyboard act on them through xdotool, at the places AT-SPI gives.

AT-SPI alone could press the buttons, but a grid row has no "double-click" action and
a press through AT-SPI skips what a click goes through (the widget being on top,
enabled, and where it says it is); xdotool alone could click, but could not read a
single cell. So: AT-SPI reads, xdotool acts.
"""

import subprocess

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

from tarvex_session import Failure, Hopeless, wait_until  # noqa: E402

# At most this many accessible objects are visited in one search.
MAX_NODES = 5000


def start_accessibility_bus():
    """Starts the accessibility bus behind the session bus, as a desktop does at login,
    and waits until the session bus names it: Qt looks for it once at start-up."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def named():
        reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "NameHasOwner",
                              GLib.Variant("(s)", ("org.a11y.Bus",)), GLib.VariantType("(b)"),
                              Gio.DBusCallFlags.NONE, 5000, None)
        return reply.unpack()[0]
    Atspi.get_desktop(0).get_child_count()  # asks the session bus for it, which starts it
    wait_until("the accessibility bus", named, 15)


class Driver:
    def __init__(self, session, pid):
        self.session = session
        self.pid = pid
        self._app = None

    # --- finding ---
    def app(self):
        """The program's accessible application: the desktop's child with its process id."""
        if self._app is not None:
            return self._app
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            child = desktop.get_child_at_index(i)
            if child is not None and child.get_process_id() == self.pid:
                self._app = child
                return child
        return None

    def alive(self):
        process = self.session.tarvex
        if process is not None and process.poll() is not None:
            raise Hopeless(f"the program ended (exit status {process.returncode})")

    def message_box(self):
        """The text of a message box the program shows, or None."""
        for w in self.windows():
            if w is not None and w.get_role() == Atspi.Role.ALERT and showing(w):
                texts = [t for t in (label.get_name() for label in
                                     descendants(w, Atspi.Role.LABEL)) if t]
                return f'"{w.get_name()}": ' + " / ".join(texts)
        return None

    def wait(self, what, probe, timeout_s, message_box_expected=False):
        """Waits for probe to give something true, failing at once when the program ends
        or, unless one is expected, shows a message box."""
        def probe_while_alive():
            self.alive()
            self.refresh()
            if not message_box_expected:
                box = self.message_box()
                if box:
                    raise Hopeless(f"a message box came instead: {box}")
            return probe()
        return wait_until(what, probe_while_alive, timeout_s)

    def wait_for_app(self, timeout_s):
        return self.wait("the program on the accessibility bus", self.app, timeout_s)

    def refresh(self):
        app = self._app
        if app is not None:
            app.clear_cache()

    def windows(self):
        app = self.app()
        if app is None:
            return []
        return [app.get_child_at_index(i) for i in range(app.get_child_count())]

    def window(self, title):
        """The program's showing top-level window with this title, or None."""
        self.refresh()
        for w in self.windows():
            if w is not None and w.get_name() == title and showing(w):
                return w
        return None

    def wait_for_window(self, title, timeout_s):
        return self.wait(f'the window "{title}"', lambda: self.window(title), timeout_s)

    def wait_window_gone(self, title, timeout_s):
        self.wait(f'the window "{title}" to close', lambda: self.window(title) is None, timeout_s)

    # --- acting ---
    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.session.env, timeout=20,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            raise Failure(f"xdotool {' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def click(self, accessible, count=1):
        """Moves the pointer to the middle of accessible and clicks there, count times in
        a row; one xdotool run, so the move and the clicks reach the server in order."""
        x, y = centre(accessible)
        # Well inside Qt's double-click interval (400 ms).
        self.xdotool("mousemove", str(x), str(y), "sleep", "0.1",
                     "click", "--repeat", str(count), "--delay", "80", "1")

    def double_click(self, accessible):
        self.click(accessible, 2)

    def keys(self, *names):
        self.xdotool("key", "--clearmodifiers", *names)

    def type_text(self, text):
        self.xdotool("type", "--delay", "30", text)


# --- reading ---
def showing(accessible):
    try:
        return accessible.get_state_set().contains(Atspi.StateType.SHOWING)
    except Exception:
        return False


def enabled(accessible):
    return accessible.get_state_set().contains(Atspi.StateType.ENABLED)


def centre(accessible):
    box = accessible.get_extents(Atspi.CoordType.SCREEN)
    if box.width <= 0 or box.height <= 0:
        raise Failure(f'"{accessible.get_name()}" has no place on the screen')
    return box.x + box.width // 2, box.y + box.height // 2


def descendants(root, role=None, name=None):
    """The objects below root with this role (an Atspi.Role) and name, breadth first."""
    found, queue, visited = [], [root], 0
    while queue and visited < MAX_NODES:
        node = queue.pop(0)
        visited += 1
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if child is None:
                continue
            if (role is None or child.get_role() == role) and (name is None or child.get_name() == name):
                found.append(child)
            queue.append(child)
    return found


def find(root, role, name=None):
    matches = descendants(root, role, name)
    if not matches:
        what = f'{role.value_nick} "{name}"' if name is not None else role.value_nick
        raise Failure(f'no {what} in "{root.get_name()}"')
    return matches[0]


def button(window, caption):
    """A push button by its caption as read out (without its "&" mnemonic mark)."""
    return find(window, Atspi.Role.PUSH_BUTTON, caption)


def tables(window):
    return descendants(window, Atspi.Role.TABLE)


def table_rows(table):
    """Every data row of a table as a list of cell texts; the title row is the table's
    column headers, not a data row."""
    rows = Atspi.Table.get_n_rows(table)
    cols = Atspi.Table.get_n_columns(table)
    return [[Atspi.Table.get_accessible_at(table, r, c).get_name() for c in range(cols)]
            for r in range(rows)]


def column_titles(table):
    cols = Atspi.Table.get_n_columns(table)
    return [Atspi.Table.get_column_header(table, c).get_name() for c in range(cols)]


def cell(table, row, col):
    return Atspi.Table.get_accessible_at(table, row, col)


def labels(window):
    return [label.get_name() for label in descendants(window, Atspi.Role.LABEL)]


def list_items(window):
    items = []
    for lst in descendants(window, Atspi.Role.LIST):
        items += [item.get_name() for item in descendants(lst, Atspi.Role.LIST_ITEM)]
    return items
