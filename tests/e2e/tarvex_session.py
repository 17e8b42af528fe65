"""A whole Tarvex session on a private display: an X server, a session bus with
the accessibility bus behind it, the list service, one Quake 2 status responder per
listed server, a stand-in for the game, and the real program reading its settings
from a temporary folder.

Everything it starts is ended by close(), also after a failure: the process becomes a
child subreaper, so whatever its children leave behind (the accessibility bus that
the session bus starts on demand, the game the program starts detached) comes back to
it and is ended too.

Used by the end-to-end test and by tools/take-screenshots.
"""

import ctypes
import os
import random
import select
import shutil
import signal
import subprocess
import tempfile
import time

PR_SET_CHILD_SUBREAPER = 36

# QStat asks every server on this port, whatever port the list gives.
QUAKE2_PORT = 27910


class Unavailable(Exception):
    """Something the session needs is not on this machine."""


class Failure(Exception):
    """The session could not be set up, or the program did not do what it should."""


class Hopeless(Failure):
    """A wait cannot succeed any more: the program has ended, or a message box stands
    in the way."""


def log(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", flush=True)


def wait_until(what, probe, timeout_s, interval_s=0.1):
    """Calls probe until it returns something true, at most timeout_s seconds; returns
    that value or raises Failure naming what was awaited."""
    deadline = time.monotonic() + timeout_s
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except Hopeless:
            raise
        except Exception as error:  # the program may be between two states
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise Failure(f"timed out after {timeout_s:g} s waiting for {what}{detail}")
        time.sleep(interval_s)


def read_line_from(stream, timeout_s, what):
    """One line from a child's pipe within timeout_s seconds."""
    deadline = time.monotonic() + timeout_s
    data = b""
    fd = stream.fileno()
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0:
            raise Failure(f"timed out after {timeout_s:g} s waiting for {what}")
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        chunk = os.read(fd, 4096)
        if not chunk:
            raise Failure(f"{what}: the program closed its output ({data!r})")
        data += chunk
    return data.split(b"\n", 1)[0].decode("utf-8", "replace").strip()


def require_program(name, package):
    path = shutil.which(name)
    if not path:
        raise Unavailable(f"{name} is missing (Debian package {package})")
    return path


class Server:
    """A listed server and what its responder reports. The address is picked when the
    session starts: the preferred one when it is free, else one at random."""

    def __init__(self, name, mapname, maxclients, players, info=None, preferred_address=None):
        self.name = name
        self.mapname = mapname
        self.maxclients = maxclients
        self.players = players  # (frags, ping, name)
        self._info = info
        self.preferred_address = preferred_address
        self.address = None  # the loopback address, without port

    @property
    def endpoint(self):
        return f"{self.address}:{QUAKE2_PORT}"

    @property
    def info(self):
        if self._info:
            return self._info
        return (f"\\hostname\\{self.name}\\mapname\\{self.mapname}\\maxclients\\"
                f"{self.maxclients}\\timelimit\\20\\fraglimit\\30\\version\\3.20 x86 Linux")


def test_servers():
    """The servers of the end-to-end test; their addresses are picked per session."""
    return [
        Server("E2E Railgun Arena", "q2dm1", 16,
               [(27, 34, "Grunt"), (19, 48, "Major Havoc"), (4, 120, "Slowpoke")]),
        Server("E2E The Edge CTF", "q2ctf1", 20, [(11, 52, "RedFlagRunner"), (9, 61, "Blue Baron")]),
        Server("E2E Base Camp Coop", "base1", 4, [(0, 23, "Marine")]),
    ]


def servers_from_config(path):
    """The servers of a tarvex-q2responder configuration file ([address:port] sections
    with info and player keys), each preferring its own address."""
    servers, current = [], None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.strip()
            if not line or line.startswith(("#", ";")):
                continue
            if line.startswith("[") and line.endswith("]"):
                current = {"address": line[1:-1].rsplit(":", 1)[0], "info": "", "players": []}
                servers.append(current)
                continue
            key, _, value = (part.strip() for part in line.partition("="))
            if current is None:
                continue
            if key == "info":
                current["info"] = value
            elif key == "player":
                frags, ping, name = value.split(" ", 2)
                current["players"].append((int(frags), int(ping), name.strip().strip('"')))
    result = []
    for entry in servers:
        fields = entry["info"].split("\\")[1:]
        info = dict(zip(fields[0::2], fields[1::2]))
        result.append(Server(info.get("hostname", ""), info.get("mapname", ""),
                             int(info.get("maxclients", "0")), entry["players"],
                             info=entry["info"], preferred_address=entry["address"]))
    return result


def list_page(servers):
    """The server-list page as the list service publishes it."""
    cell = '<td><font face="arial">{}</font></td>'
    rows = ["<tr>" + "".join(cell.format(f"<b>{t}</b>") for t in
                             ("Server Name", "Address", "Players", "Map", "Retries")) + "</tr>"]
    for s in servers:
        values = (s.name, s.endpoint, f"{len(s.players)}/{s.maxclients}", s.mapname, "0")
        rows.append("<tr>" + "".join(cell.format(v) for v in values) + "</tr>")
    return ("<html>\n<head><title>Quake 2 Server List</title></head>\n"
            '<body bgcolor="#000000" text="#c0c0c0">\n'
            '<h2><font face="arial">Quake 2 Servers</font></h2>\n'
            '<table border="1" cellpadding="2">\n' + "\n".join(rows) + "\n</table>\n"
            "<p>&nbsp;</p>\n<hr>\n</body>\n</html>\n")


class Session:
    def __init__(self, bin_dir, servers=None, screen="1024x768x24", window_manager="openbox",
                 ping_on_startup=False, lifetime_s=600):
        self.bin_dir = os.path.abspath(bin_dir)
        self.screen = screen
        self.window_manager = window_manager
        self.ping_on_startup = ping_on_startup
        self.lifetime_s = lifetime_s
        self.folder = None
        self.children = []  # (what, Popen)
        self.env = None
        self.servers = servers if servers is not None else test_servers()
        self.list_url = None
        self.tarvex = None

    # --- paths ---
    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    @property
    def submissions_file(self):
        return self.path("submissions.txt")

    @property
    def launches_file(self):
        return self.path("game-launches.txt")

    @property
    def game_folder(self):
        return self.path("game")

    # --- checks ---
    def check_prerequisites(self):
        for program in ("tarvex", "tarvex-listd", "tarvex-q2responder"):
            if not os.path.exists(os.path.join(self.bin_dir, program)):
                raise Failure(f"{program} is not in {self.bin_dir}: build the project first")
        self.xvfb = require_program("Xvfb", "xvfb")
        self.dbus_daemon = require_program("dbus-daemon", "dbus")
        require_program("quakestat", "qstat")
        require_program("xdotool", "xdotool")
        if not any(os.path.exists(os.path.join(d, "at-spi-bus-launcher"))
                   for d in ("/usr/libexec", "/usr/lib/at-spi2-core")):
            raise Unavailable("the accessibility bus launcher is missing (Debian package at-spi2-core)")
        if self.window_manager:
            require_program(self.window_manager, self.window_manager)
            require_program("xprop", "x11-utils")
        self.check_icmp()

    def check_icmp(self):
        """Pinging needs raw sockets (root, or the helper's capability) or ping sockets
        for this user's group."""
        if os.geteuid() == 0:
            return
        try:
            with open("/proc/sys/net/ipv4/ping_group_range", encoding="ascii") as f:
                low, high = (int(v) for v in f.read().split())
            if any(low <= g <= high for g in os.getgroups() + [os.getgid()]):
                return
        except (OSError, ValueError):
            pass
        helper = os.path.join(self.bin_dir, "pingocx-icmp-helper")
        getcap = shutil.which("getcap") or "/usr/sbin/getcap"
        try:
            caps = subprocess.run([getcap, helper], capture_output=True, text=True, timeout=10).stdout
        except (OSError, subprocess.TimeoutExpired):
            caps = ""
        if "cap_net_raw" not in caps:
            raise Unavailable("this user cannot send ICMP echoes: run as root, give the helper "
                              "its capability (ping/set-helper-capability) or allow ping "
                              "sockets (net.ipv4.ping_group_range)")

    # --- start-up ---
    def start(self):
        self.check_prerequisites()
        # Orphans of our children come back to us, so close() can end them all.
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)

        self.folder = tempfile.mkdtemp(prefix="tarvex-e2e.")
        for sub in ("config/Tarvex", "cache", "home", "game"):
            os.makedirs(self.path(sub))
        os.makedirs(self.path("runtime"), mode=0o700)
        log(f"session folder {self.folder}")

        self.start_responders()
        self.start_list_service()
        self.write_game()
        self.write_settings()
        self.start_display()
        self.start_session_bus()
        if self.window_manager:
            self.start_window_manager()

    def spawn(self, what, argv, env=None, **kwargs):
        kwargs.setdefault("stderr", open(self.path(f"{what.replace(' ', '-')}.log"), "ab"))
        process = subprocess.Popen(argv, env=env or self.env or os.environ.copy(),
                                   start_new_session=True, **kwargs)
        self.children.append((what, process))
        return process

    def start_responders(self):
        """One responder per server, each on an address of its own in 127.0.0.0/8: QStat
        always asks port 27910, which another program may hold on some address."""
        used = set()
        for server in self.servers:
            candidates = [server.preferred_address] if server.preferred_address else []
            candidates += ["127.{}.{}.{}".format(random.randint(64, 250), random.randint(0, 255),
                                                 random.randint(2, 254)) for _ in range(10)]
            for address in candidates:
                if address in used:
                    continue
                argv = [os.path.join(self.bin_dir, "tarvex-q2responder"),
                        "--server", f"{address}:{QUAKE2_PORT}", "--info", server.info,
                        "--lifetime-s", str(self.lifetime_s)]
                for frags, ping, player in server.players:
                    argv += ["--player", f'{frags} {ping} "{player}"']
                process = self.spawn(f"responder {address}", argv, stdout=subprocess.PIPE)
                try:
                    line = read_line_from(process.stdout, 10, f"the responder on {address}")
                except Failure:
                    if process.poll() is not None:  # the address was taken: another one
                        continue
                    raise
                if not line.startswith("listening on"):
                    raise Failure(f"responder on {address}: unexpected output {line!r}")
                used.add(address)
                server.address = address
                break
            else:
                raise Failure(f"no free loopback address for {server.name} "
                              f"after {len(candidates)} attempts")
        log("responders: " + ", ".join(s.endpoint for s in self.servers))

    def start_list_service(self):
        with open(self.path("q2servers.html"), "w", encoding="utf-8") as page:
            page.write(list_page(self.servers))
        process = self.spawn("list service", [
            os.path.join(self.bin_dir, "tarvex-listd"), "--page", self.path("q2servers.html"),
            "--record", self.submissions_file, "--lifetime-s", str(self.lifetime_s)],
            stdout=subprocess.PIPE)
        self.list_url = read_line_from(process.stdout, 10, "the list service's address")
        if not self.list_url.startswith("http://127."):
            raise Failure(f"the list service printed {self.list_url!r}, not its address")
        log(f"list service {self.list_url}")

    def write_game(self):
        """A stand-in for the game: it records its folder and its arguments, one line
        each, and ends."""
        script = self.path("game", "quake2")
        with open(script, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\n"
                    f'{{ pwd; for a in "$@"; do printf "%s\\n" "$a"; done; echo --; }} >> "{self.launches_file}"\n')
        os.chmod(script, 0o755)

    def write_settings(self):
        with open(self.path("config", "Tarvex", "Tarvex.ini"), "w", encoding="utf-8") as f:
            f.write("[Data]\n"
                    f"QuakeLocation={self.path('game', 'quake2')}\n"
                    f"mnuPing={'True' if self.ping_on_startup else 'False'}\n"
                    "mnuCloseStartup=False\n\n"
                    "[Endpoints]\n"
                    f"ServerListHost={self.list_url}\n"
                    f"AddServerHost={self.list_url}\n")

    def start_display(self):
        # -displayfd: the server picks a free display number and tells it.
        read_end, write_end = os.pipe()
        self.spawn("xvfb", [self.xvfb, "-displayfd", str(write_end), "-screen", "0", self.screen,
                            "-nolisten", "tcp", "-noreset"],
                   env=os.environ.copy(), pass_fds=(write_end,), stdout=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            number = read_line_from(pipe, 15, "the X server's display number")
        if not number.isdigit():
            raise Failure(f"Xvfb gave the display {number!r}")
        self.display = f":{number}"
        log(f"display {self.display}")

    def start_session_bus(self):
        base = {k: v for k, v in os.environ.items()
                if not k.startswith(("DBUS_", "XDG_", "QT_", "AT_SPI", "WAYLAND", "DISPLAY"))}
        base.update({
            "DISPLAY": self.display,
            "HOME": self.path("home"),
            "XDG_CONFIG_HOME": self.path("config"),
            "XDG_CACHE_HOME": self.path("cache"),
            "XDG_DATA_HOME": self.path("home", ".local", "share"),
            "XDG_RUNTIME_DIR": self.path("runtime"),
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
        })
        bus = self.spawn("session bus", [self.dbus_daemon, "--session", "--nofork", "--nopidfile",
                                         "--print-address=1", f"--address=unix:dir={self.path('runtime')}"],
                         env=base, stdout=subprocess.PIPE)
        address = read_line_from(bus.stdout, 10, "the session bus's address")
        base["DBUS_SESSION_BUS_ADDRESS"] = address
        # Qt tells the accessibility bus about its widgets only when asked to, or when
        # a screen reader has said it is listening.
        base["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        base["QT_ACCESSIBILITY"] = "1"
        base["QT_QPA_PLATFORM"] = "xcb"
        self.env = base
        # This process talks to the same buses.
        for key in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "HOME"):
            os.environ[key] = base[key]
        os.environ.pop("AT_SPI_BUS_ADDRESS", None)
        log(f"session bus {address}")

    def start_window_manager(self):
        """The window manager, awaited until it has taken over the screen: a window shown
        before that would keep the place and the focus it had without one."""
        self.spawn("window manager", [self.window_manager], stdout=subprocess.DEVNULL)

        def managing():
            result = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                    capture_output=True, text=True, timeout=10)
            return "window id" in result.stdout
        wait_until(f"{self.window_manager} to manage the screen", managing, 15, 0.2)
        log(f"window manager {self.window_manager}")

    def start_tarvex(self):
        self.tarvex = self.spawn("tarvex", [os.path.join(self.bin_dir, "tarvex")],
                                 stdout=open(self.path("tarvex.out"), "ab"))
        return self.tarvex

    # --- reading ---
    def submissions(self):
        try:
            with open(self.submissions_file, encoding="utf-8") as f:
                return [line.strip() for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def launches(self):
        """Each start of the game: (folder, arguments)."""
        try:
            with open(self.launches_file, encoding="utf-8") as f:
                lines = f.read().split("\n")
        except FileNotFoundError:
            return []
        runs, current = [], []
        for line in lines:
            if line == "--":
                if current:
                    runs.append((current[0], current[1:]))
                current = []
            elif line or current:
                current.append(line)
        return runs

    def log_tail(self, what, lines=30):
        try:
            with open(self.path(f"{what}.log"), encoding="utf-8", errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except FileNotFoundError:
            return ""

    def screenshot(self, png, window_id="root"):
        """The whole screen, or one X window, as a PNG; False when it could not be taken."""
        if not getattr(self, "display", None) or not shutil.which("import"):
            return False
        try:
            return subprocess.run(["import", "-window", window_id, png], env=self.env,
                                  timeout=30, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0
        except (OSError, subprocess.TimeoutExpired):
            return False

    # --- ending ---
    def close(self, keep_folder=False):
        """Ends every process of the session, the program first, then whatever came
        back to this process, then the rest; bounded in time."""
        if self.tarvex and self.tarvex.poll() is None:
            terminate_group(self.tarvex.pid)
            wait_bounded(self.tarvex, 5)
        for what, process in reversed(self.children):
            if process.poll() is None:
                terminate_group(process.pid)
        for what, process in reversed(self.children):
            wait_bounded(process, 5)
        end_descendants()
        for what, process in self.children:
            for stream in (process.stdout, process.stderr):
                if stream:
                    stream.close()
        if self.folder and not keep_folder:
            shutil.rmtree(self.folder, ignore_errors=True)


def terminate_group(pid):
    try:
        os.killpg(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass


def wait_bounded(process, timeout_s):
    try:
        process.wait(timeout_s)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            pass


def children_of(pid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", encoding="utf-8", errors="replace") as f:
                stat = f.read()
        except OSError:
            continue
        # The command name may hold blanks and parentheses: the fields follow the last ")".
        fields = stat[stat.rfind(")") + 2:].split()
        if len(fields) > 1 and int(fields[1]) == pid:
            found.append(int(entry))
    return found


def end_descendants():
    """Ends every process below this one (this process is a subreaper, so orphans of the
    session are among them) and reaps them; a few rounds, bounded."""
    me = os.getpid()
    for sig in (signal.SIGTERM, signal.SIGTERM, signal.SIGKILL, signal.SIGKILL):
        pending, everyone = [me], []
        while pending:
            for child in children_of(pending.pop()):
                everyone.append(child)
                pending.append(child)
        if not everyone:
            return
        for pid in everyone:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid == 0:
                time.sleep(0.05)
