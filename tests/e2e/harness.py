"""End-to-end harness: the real Folderlane.exe under Wine on a private Xvfb.

One Wine world (Xvfb, prefix, HOME, associations) serves a whole run; every
test gets its own agent in a fresh folder of the prefix, so FolderList.txt
and what the shell opened are the test's own. Other processes are played by
the probe (tools/probe.cpp); the programs the shell would start are played
by the recorder (tools/recorder.cpp).

Run through scripts/e2e.sh, or: python3 tests/e2e/harness.py --build DIR.
Standard library only.
"""

import argparse
import errno
import glob
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# Messages and numbers the agent answers to.
WM_DESTROY = 2
WM_CLOSE = 16
WM_ENDSESSION = 22
WM_COPYDATA = 74
WM_COMMAND = 273
WM_TRAYNOTIFY = 1032
WM_HANDOFF = 1033
WM_LBUTTONDOWN = 513
WM_RBUTTONDOWN = 516
TRAY_ICON_ID = 102
AGENT_CLASS = "NelvoFolderWindow"
AGENT_TITLE = "NelvoFolder"
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7

# Where the tray's first icon sits is measured, not assumed: see World.icons().
AWAY_FROM_TRAY = (700, 500)


# Wine's reports of faults it swallowed and of a damaged heap (Agent.debug).
FAULT_CHANNELS = "-all,err+seh,err+heap,warn+heap"

# No Mono/Gecko prompts, no desktop menu entries, no crash dialog.
QUIET_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"

# Locales a world can run in, and the ANSI code page Wine gives with each.
LOCALE_CODECS = {"ja_JP.UTF-8": "cp932"}


def wine_env(prefix, home, display, overrides=QUIET_OVERRIDES):
    """The environment of a private Wine world: its prefix, HOME and display."""
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG="-all", HOME=home,
               DISPLAY=display, WINEDLLOVERRIDES=overrides,
               # Caches beside HOME, not in it: Wine 8 shows HOME as Documents,
               # where a normal user's run would find a ".cache" of its own.
               XDG_CACHE_HOME=os.path.join(os.path.dirname(home), "cache"))
    return env


def dist_file(pattern):
    """The one file of dist/ (or $E2E_DIST) that matches pattern."""
    dist = os.environ.get("E2E_DIST", os.path.join(ROOT, "dist"))
    found = glob.glob(os.path.join(dist, pattern))
    if len(found) != 1:
        raise AssertionError(f"{len(found)} files {pattern} in {dist}: run `make dist` first")
    return found[0]


def wait_for(predicate, timeout=10.0, interval=0.2, what="condition"):
    """Polls until predicate() gives a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def start_xvfb(first):
    """Starts an Xvfb on a free display number from `first` on, away from the
    low ones people use; returns (process, ":N")."""
    for number in range(first, first + 50):
        if os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", f":{number}", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        # Xvfb writes its display number once it is ready, nothing if it gave up
        # (the number was taken meanwhile); then the next is tried.
        with os.fdopen(read_fd) as pipe:
            ready = pipe.readline().strip()
        if ready:
            return xvfb, f":{number}"
        xvfb.wait(10)
    raise RuntimeError("no free X display for Xvfb")


class Window:
    """One line of the probe's window listing."""

    LINE = re.compile(r"(\d+) pid=(\d+) visible=(\d) rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) "
                      r"class=(.*?) text=(.*)$")

    def __init__(self, line):
        m = self.LINE.match(line.strip())
        if not m:
            raise ValueError(f"not a window line: {line!r}")
        self.hwnd, self.pid = int(m.group(1)), int(m.group(2))
        self.visible = m.group(3) == "1"
        self.rect = tuple(int(m.group(i)) for i in range(4, 8))
        self.cls, self.text = m.group(8), m.group(9)

    def __repr__(self):
        return f"<{self.cls} {self.hwnd} pid={self.pid} {self.text!r}>"


class World:
    """Xvfb, Wine prefix and HOME of one test run, made once; in a locale of
    LOCALE_CODECS for every Wine process, or in the machine's."""

    def __init__(self, build, results, locale=None):
        self.locale = locale
        self.codec = LOCALE_CODECS[locale] if locale else None
        self.build = os.path.abspath(build)
        self.results = os.path.abspath(results)
        self.exe = os.path.join(self.build, "Folderlane.exe")
        self.tools = os.path.join(self.build, "e2e-tools")
        for path in (self.exe, os.path.join(self.tools, "probe.exe"),
                     os.path.join(self.tools, "recorder.exe")):
            if not os.path.isfile(path):
                raise RuntimeError(f"missing {path}: build the win32 tree first")
        self.tmp = tempfile.mkdtemp(prefix="folderlane-e2e-")
        self.prefix = os.path.join(self.tmp, "prefix")
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)
        self.documents = None  # the user's Documents folder, once the prefix is made
        self.xvfb = None
        self.keeper = None
        self.keeper_icon = None
        self.display = None
        self.dpi = 96
        self.agents = []
        self.holders = []
        self.screens = os.path.join(self.results, "e2e-screens")

    # -- environment ---------------------------------------------------------

    def env(self, agent=False, extra=None):
        overrides = QUIET_OVERRIDES
        if agent:
            # Wine's explorer.exe with a shell-view argument can take the
            # desktop down; the shell falls back to App Paths (the recorder).
            overrides += ";explorer.exe=d"
        env = wine_env(self.prefix, self.home, self.display, overrides)
        if self.locale:
            env.update(LC_ALL=self.locale, LANG=self.locale)
        env.update(extra or {})
        return env

    def decode(self, data):
        """Text that the programs wrote in the ANSI code page."""
        return data.decode(self.codec or "latin-1")

    def encode(self, text):
        """Text for the programs, in the ANSI code page."""
        return text.encode(self.codec or "cp1252")

    def host_path(self, windows_path):
        """C:\\a\\b -> the file inside the prefix."""
        assert windows_path[1:3] == ":\\" and windows_path[0].upper() == "C", windows_path
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def windows_path(self, host_path):
        drive_c = os.path.join(self.prefix, "drive_c")
        rel = os.path.relpath(os.path.abspath(host_path), drive_c)
        assert not rel.startswith(".."), host_path
        return "C:\\" + ("" if rel == "." else rel.replace("/", "\\"))

    # -- life cycle ----------------------------------------------------------

    def start(self):
        os.makedirs(self.screens, exist_ok=True)
        self._start_xvfb()
        subprocess.run(["wine", "wineboot", "-i"], env=self.env(), timeout=180,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        e2e = os.path.join(self.prefix, "drive_c", "e2e")
        os.makedirs(e2e, exist_ok=True)
        for tool in ("probe.exe", "recorder.exe"):
            shutil.copy(os.path.join(self.tools, tool), e2e)
        # Named apart from explorer.exe: the override disables every module of that name.
        shutil.copy(os.path.join(self.tools, "recorder.exe"), os.path.join(e2e, "shellview.exe"))
        self._import_associations(e2e)
        self._start_keeper()
        # Wine 8 links Documents to HOME; Wine 10 makes it a folder of the prefix.
        CSIDL_PERSONAL = 5
        self.documents = os.path.realpath(self.host_path(self.probe("folder", CSIDL_PERSONAL).strip()))

    def _start_keeper(self):
        # The keeper (see "probe keep") holds the desktop and one tray icon
        # for the whole run. Nothing else may start meanwhile: a second Wine
        # process racing it for the desktop can hang.
        self.keeper = subprocess.Popen(["wine", "C:\\e2e\\probe.exe", "keep"], env=self.env(),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([self.keeper.stdout], [], [], 60)
        if not ready or not self.keeper.stdout.readline().startswith(b"ready"):
            raise RuntimeError("Wine's desktop and tray did not start")
        self.keeper_icon = wait_for(self._all_icons, 10, 0.2, "the keeper's tray icon")[0]

    def set_scale(self, dpi):
        """Starts the world's Wine session again at this DPI (96 is 100 %), which
        Wine reads once per session; every agent and holder ends."""
        if dpi == self.dpi:
            return
        def end_session():  # which saves the registry
            for flag in ("-k", "-w"):
                subprocess.run(["wineserver", flag], env=self.env(), timeout=60)
        end_session()
        self.keeper.wait(10)
        self.reg("add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                 "/d", str(dpi), "/f")
        end_session()  # reg.exe's own session still has the old value
        self.dpi = dpi
        self._start_keeper()

    def _start_xvfb(self):
        self.xvfb, self.display = start_xvfb(100 + os.getpid() % 400)

    def _import_associations(self, e2e):
        recorder = '\\"C:\\\\e2e\\\\recorder.exe\\"'
        lines = ["REGEDIT4", ""]

        def open_command(key, kind):
            lines.extend([f"[-{key}\\shell\\open\\ddeexec]", f"[{key}\\shell\\open\\command]",
                          f'@="{recorder} /kind:{kind} \\"%1\\""', ""])

        for ext, kind in ((".txt", "txt"), (".vtr", "vtr")):
            lines.extend([f"[HKEY_CLASSES_ROOT\\{ext}]", f'@="e2e.{kind}file"', ""])
            open_command(f"HKEY_CLASSES_ROOT\\e2e.{kind}file", kind)
        for key in ("Folder", "Directory", "http", "https"):
            open_command(f"HKEY_CLASSES_ROOT\\{key}", key.lower())
        lines.extend(["[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
                      "\\App Paths\\explorer.exe]", '@="C:\\\\e2e\\\\shellview.exe"', ""])
        reg = os.path.join(e2e, "associations.reg")
        with open(reg, "w", newline="\r\n") as f:
            f.write("\n".join(lines))
        subprocess.run(["wine", "reg", "import", "C:\\e2e\\associations.reg"], env=self.env(),
                       timeout=60, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        for agent in self.agents:
            agent.kill()
        for holder in self.holders:
            holder.kill()
        if self.display:
            subprocess.run(["wineserver", "-k"], env=self.env(), timeout=60)
        if self.keeper:
            try:
                self.keeper.wait(10)
            except subprocess.TimeoutExpired:
                self.keeper.kill()
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        if os.environ.get("E2E_KEEP"):
            print(f"kept {self.tmp}", file=sys.stderr)
        else:
            shutil.rmtree(self.tmp, ignore_errors=True)

    def reg(self, *args):
        """Runs Wine's reg.exe in this prefix (import, export, copy, delete...)."""
        subprocess.run(["wine", "reg", *args], env=self.env(), timeout=60, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def registry(self, key):
        """The values of a registry key, {name: data} ("(Default)" for the
        key's own), or None when there is no such key."""
        run = subprocess.run(["wine", "reg", "query", key], env=self.env(), capture_output=True,
                             text=True, errors="replace", timeout=60)
        if run.returncode != 0:
            return None
        values = {}
        for line in run.stdout.splitlines():
            match = re.match(r"^    (.+?)    (REG_\w+)    ?(.*)$", line)
            if match:
                name, kind, data = match.groups()
                values[name] = int(data, 16) if kind == "REG_DWORD" else data
        return values

    def wine_processes(self):
        """Command lines of this run's Wine processes: those whose environment
        names its prefix (other runs on the machine have their own)."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if f"WINEPREFIX={self.prefix}".encode() not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
                if command:  # not an ended process
                    found.append(command)
            except OSError:
                continue
        return found

    # -- the probe -----------------------------------------------------------

    def probe(self, *args, check=True, timeout=30):
        """Runs the probe; returns its stdout (exit code in .returncode if check=False)."""
        run = subprocess.run(["wine", "C:\\e2e\\probe.exe", *map(str, args)], env=self.env(),
                             stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             encoding=self.codec, errors="replace", timeout=timeout)
        if check and run.returncode != 0:
            raise AssertionError(f"probe {' '.join(map(str, args))}: exit {run.returncode}: "
                                 f"{run.stderr.strip()}")
        return run.stdout if check else run

    def windows(self, spec):
        """Top-level windows matching "Class|Title" (either part may be empty)."""
        run = self.probe("find", spec, check=False)
        return [Window(line) for line in run.stdout.splitlines() if line.strip()]

    def agent_windows(self):
        return self.windows(f"{AGENT_CLASS}|{AGENT_TITLE}")

    def texts(self, window):
        """The window's own text, then (class, id, text) of each child; a
        text's own line breaks are kept as CR LF."""
        run = subprocess.run(["wine", "C:\\e2e\\probe.exe", "texts", str(window)], env=self.env(),
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=30, check=True)
        # The console turns each LF printed into CR LF: a CR LF inside a text
        # comes out as CR CR LF, the end of one of the probe's lines as CR LF.
        records = run.stdout.replace(b"\r\r\n", b"\0").split(b"\r\n")
        decode = lambda raw: raw.replace(b"\0", b"\r\n").decode("latin-1")
        children = [tuple(decode(record).split("\t", 2)) for record in records[1:] if record]
        return decode(records[0]), children

    def message_box(self, caption, timeout=10):
        """Waits for a message box with this caption; returns (window, its static text)."""
        box = wait_for(lambda: [w for w in self.windows(f"#32770|{caption}") if w.visible],
                       timeout, what=f"message box {caption!r}")[0]
        _, children = self.texts(box.hwnd)
        text = "\n".join(t for cls, _, t in children if cls == "Static" and t)
        return box, text

    def press(self, window, button):
        """Presses a dialog button: a command id (IDOK, IDYES...) or a caption."""
        self.probe("press", getattr(window, "hwnd", window), button)

    def hold(self, windows_path, access="rw", share="", seconds=600):
        """Another process holds the file open (access r/w, share r/w/d or "");
        returns that process: kill() it to let go."""
        holder = subprocess.Popen(
            ["wine", "C:\\e2e\\probe.exe", "hold", windows_path, access or "-", share or "-",
             str(seconds)], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([holder.stdout], [], [], 30)
        line = holder.stdout.readline().decode(errors="replace").strip() if ready else "no answer"
        if line != "held":
            holder.kill()
            raise AssertionError(f"could not hold {windows_path}: {line}")
        self.holders.append(holder)
        return holder

    def full_drive(self, case, files):
        """Drive D: on a small tmpfs that holds files ({name: bytes}, names
        with '/' in folders) and no room for more; returns its host folder. Unmounted when the test case
        ends, also when it fails."""
        mount = tempfile.mkdtemp(prefix="drive-", dir=self.tmp)
        self.as_root("mount", "-t", "tmpfs", "-o", f"size=64k,uid={os.getuid()},gid={os.getgid()}",
                     "tmpfs", mount)
        # Lazily: a Wine process that has not let go yet cannot keep it mounted.
        case.addCleanup(self.as_root, "umount", "--lazy", mount)
        os.symlink(mount, os.path.join(self.prefix, "dosdevices", "d:"))
        case.addCleanup(os.remove, os.path.join(self.prefix, "dosdevices", "d:"))
        for name, data in dict(files, filler=b"\0" * 65536).items():
            os.makedirs(os.path.dirname(os.path.join(mount, name)), exist_ok=True)
            try:
                with open(os.path.join(mount, name), "wb") as f:
                    f.write(data)
            except OSError as error:  # the filler, at the end of the room
                if error.errno != errno.ENOSPC or name != "filler":
                    raise
        return mount

    @staticmethod
    def as_root(*command):
        """Runs a command that needs root: through sudo for a user who has it."""
        sudo = [] if os.geteuid() == 0 else ["sudo", "-n"]
        subprocess.run([*sudo, *command], check=True, timeout=60)

    def menu_windows(self):
        """Pop-up menus (class "#32768") shown at the moment."""
        run = self.probe("menu", check=False)
        return [Window(line) for line in run.stdout.splitlines() if line.strip()]

    # -- tray, mouse and keyboard -------------------------------------------

    def _all_icons(self):
        run = self.probe("tray", check=False)
        return [tuple(map(int, m.groups()))
                for m in re.finditer(r"icon (-?\d+),(-?\d+)", run.stdout)]

    def icons(self):
        """Centres (x, y) of the icons in Wine's tray, in order, but for the keeper's."""
        return [icon for icon in self._all_icons() if icon != self.keeper_icon]

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env(), timeout=30, check=True)

    def click(self, x, y, button=1):
        self.xdotool("mousemove", x, y, "click", button)

    def keys(self, *names, delay=0.15):
        """Presses keys one after the other ("Down", "Return", "Escape", "alt+s")."""
        for name in names:
            self.xdotool("key", name)
            time.sleep(delay)

    def type_text(self, text):
        self.xdotool("type", "--delay", "30", text)

    def tip_at(self, x, y, timeout=5):
        """Hovers over (x, y) and returns the tool-tip text that shows there."""
        self.xdotool("mousemove", *AWAY_FROM_TRAY)
        time.sleep(0.3)
        self.xdotool("mousemove", x, y)
        time.sleep(0.1)
        self.xdotool("mousemove", x + 1, y + 1)
        run = wait_for(lambda: self.probe("tip", check=False).stdout.strip(), timeout,
                       what=f"a tool-tip at {x},{y}")
        self.xdotool("mousemove", *AWAY_FROM_TRAY)
        return run

    def screenshot(self, name):
        path = os.path.join(self.screens, re.sub(r"[^\w.-]+", "_", name) + ".png")
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def pixels(self, screenshot, x, y, width, height):
        """Rows of (r, g, b) of a rectangle of a screenshot."""
        raw = subprocess.run(["convert", screenshot, "-crop", f"{width}x{height}+{x}+{y}", "-depth",
                              "8", "rgb:-"], capture_output=True, timeout=30, check=True).stdout
        pixels = list(zip(raw[0::3], raw[1::3], raw[2::3]))
        return [pixels[row * width:(row + 1) * width] for row in range(height)]


class Agent:
    """One Folderlane.exe in a folder of its own, started and watched."""

    def __init__(self, world, name, copy=True):
        self.world = world
        self.name = re.sub(r"[^\w-]+", "_", name)
        self.base = os.path.join(world.prefix, "drive_c", "runs", self.name)
        self.folder = os.path.join(self.base, "agent")
        self.record_dir = os.path.join(self.base, "record")
        os.makedirs(self.folder)
        readme = os.path.join(os.path.dirname(world.exe), "Nelvoreadme.txt")
        for path in (world.exe, readme) if copy else ():
            if os.path.isfile(path):
                shutil.copy(path, self.folder)
        self.process = None
        self.hwnd = None
        self.pid = None     # the Windows process id
        self.icon = None    # where its icon appeared in the tray
        self.log = None
        # Wine's debug channels for this agent (WINEDEBUG), when not the quiet default.
        self.debug = None
        world.agents.append(self)

    def path(self, name):
        """A file beside the agent's executable (FolderList.txt...)."""
        return os.path.join(self.folder, name)

    def start(self, wait=True, timeout=30):
        """Starts the agent; with wait, returns once its window and icon are there."""
        before = {w.hwnd for w in self.world.agent_windows()}
        icons_before = self.world.icons()
        self.log = open(os.path.join(self.base, "wine.log"), "wb")
        exe = self.world.windows_path(os.path.join(self.folder, "Folderlane.exe"))
        self.process = subprocess.Popen(["wine", exe], env=self.record_env(), cwd=self.folder,
                                        stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        if not wait:
            return self

        def new_window():
            if self.process.poll() is not None:
                raise AssertionError(f"agent ended at start-up with exit code {self.process.returncode}")
            return [w for w in self.world.agent_windows() if w.hwnd not in before]

        window = wait_for(new_window, timeout, 0.3, "the agent's window")[0]
        self.hwnd, self.pid = window.hwnd, window.pid
        new_icons = wait_for(lambda: [i for i in self.world.icons() if i not in icons_before],
                             timeout, 0.3, "the agent's tray icon")
        self.icon = new_icons[0]
        return self

    def record_env(self):
        """The environment for the agent, or for a program that starts it:
        what the shell opens on its behalf is recorded in its own folder."""
        extra = {"E2E_RECORD_DIR": self.world.windows_path(self.record_dir)}
        if self.debug:
            extra["WINEDEBUG"] = self.debug
        return self.world.env(agent=True, extra=extra)

    def attach(self, window):
        """Watches an agent that another program started (the installer):
        its window is known; its process is not ours to wait for."""
        self.hwnd, self.pid = window.hwnd, window.pid
        return self

    # -- what another process does ------------------------------------------

    def send(self, message, wparam=0, lparam=0):
        """SendMessage to the agent's window; returns the result as a number.
        A message given by name is registered first ("TaskbarCreated")."""
        return int(self.world.probe("send", self.hwnd, message, wparam, lparam).strip())

    def post(self, message, wparam=0, lparam=0):
        self.world.probe("post", self.hwnd, message, wparam, lparam)

    def post_together(self, *messages):
        """Posts several messages at once, each a number or (message, wparam, lparam),
        so that all are queued before the agent handles the first."""
        args = []
        for message in messages:
            message = message if isinstance(message, tuple) else (message,)
            args.extend((tuple(message) + (0, 0))[:3])
        self.world.probe("post", self.hwnd, *args)

    def copydata(self, payload, dwdata=0):
        """Sends WM_COPYDATA with these bytes; returns the agent's answer."""
        if isinstance(payload, str):
            payload = self.world.encode(payload)
        return int(self.world.probe("copydata", self.hwnd, dwdata, payload.hex()).strip())

    def command(self, command_id):
        """WM_COMMAND as a chosen menu item sends it (lParam 0)."""
        return self.send(WM_COMMAND, command_id, 0)

    def right_click_icon(self):
        self.world.click(*self.icon, button=3)

    def left_click_icon(self):
        self.world.click(*self.icon, button=1)

    def wait_for_menu(self, timeout=5):
        """Waits for this agent's pop-up menu; returns its window."""
        return wait_for(lambda: [m for m in self.world.menu_windows() if m.pid == self.pid],
                        timeout, what="the agent's pop-up menu")[0]

    # -- what the agent left behind -----------------------------------------

    def records(self, shows=False):
        """What the shell started on the agent's behalf: [(kind, argument)],
        with shows [(kind, argument, show command)]. kind is the association
        used (folder, directory, txt, vtr, http, https) or "shellview" for
        explorer.exe; quotes around a single argument are taken off."""
        log = os.path.join(self.record_dir, "record.log")
        if not os.path.isfile(log):
            return []
        result = []
        with open(log, "rb") as f:
            for line in self.world.decode(f.read()).splitlines():
                kind, _, argument = line.partition("\t")
                argument, _, show = argument.rpartition("\t")
                if len(argument) >= 2 and argument[0] == argument[-1] == '"':
                    argument = argument[1:-1]
                result.append((kind, argument, int(show)) if shows else (kind, argument))
        return result

    def handoff_copy(self, record_number):
        """Bytes of the .vtr file that the record_number-th record (from 1) was given
        (named so once whole, just after the record)."""
        path = os.path.join(self.record_dir, f"handoff-{record_number}.vtr")
        wait_for(lambda: os.path.exists(path), 5, 0.1, f"the copy {path}")
        with open(path, "rb") as f:
            return f.read()

    # -- the end -------------------------------------------------------------

    @property
    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout=15):
        """Waits for the process to end; returns its exit code (Wine passes the
        program's exit code on as the status of the wine process)."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"agent still running after {timeout} s") from None

    def hidden_faults(self):
        """From Wine's log (see FAULT_CHANNELS): the faults it swallowed or
        reported, and its heap warnings."""
        with open(os.path.join(self.base, "wine.log"), "rb") as f:
            lines = f.read().decode("latin-1").splitlines()
        return ([line for line in lines if "ignoring exception" in line or "page fault" in line],
                [line for line in lines if ":heap:" in line])

    def kill(self):
        if self.running:
            self.process.kill()
            self.process.wait(10)
        if self.log:
            self.log.close()
            self.log = None


_worlds = {}
_world_failures = {}


def world(locale=None):
    """The run's Wine world in this locale, started by the first test that
    asks; when that fails, every test in it fails at once with the same reason."""
    if locale in _world_failures:
        raise RuntimeError(f"no Wine world for this run: {_world_failures[locale]}")
    if locale not in _worlds:
        build = os.environ.get("E2E_BUILD", os.path.join(ROOT, "build", "win32"))
        results = os.environ.get("E2E_RESULTS", os.path.join(build, "results"))
        try:
            _worlds[locale] = World(build, results, locale)
            _worlds[locale].start()
        except Exception as error:
            _world_failures[locale] = f"{type(error).__name__}: {error}"
            raise
    return _worlds[locale]


class AgentTestCase(unittest.TestCase):
    """A test with the run's world at hand; agents it makes end with it."""

    LOCALE = None  # the world's (see LOCALE_CODECS)

    def setUp(self):
        self.world = world(self.LOCALE)
        self._agents = []

    def tearDown(self):
        for agent in self._agents:
            agent.kill()
        while self.world.holders:
            holder = self.world.holders.pop()
            holder.kill()
            holder.wait(10)
        # Icons of killed agents go with their windows; wait, so the next test starts clean.
        try:
            wait_for(lambda: not self.world.icons(), 10, 0.3, "an empty tray")
        except AssertionError:
            pass

    def new_agent(self, start=True, name=None):
        name = name or f"{self.id().split('.')[-1]}-{len(self._agents) + 1}"
        agent = Agent(self.world, name)
        self._agents.append(agent)
        return agent.start() if start else agent

    def assertNoIcons(self, timeout=5):
        wait_for(lambda: not self.world.icons(), timeout, 0.3, "the tray icon to go")


# -- running and reporting ----------------------------------------------------

class _Stop(KeyboardInterrupt):
    """Raised by SIGTERM so that the run still tears its world down."""


class ReportingResult(unittest.TestResult):
    """Prints each outcome as it comes, keeps timings, screenshots failures."""

    def __init__(self):
        super().__init__()
        self.cases = []   # (test id, outcome, seconds, detail)
        self._started = 0.0

    def startTest(self, test):
        super().startTest(test)
        self._started = time.monotonic()

    def _record(self, test, outcome, detail=""):
        seconds = time.monotonic() - self._started
        self.cases.append((test.id(), outcome, seconds, detail))
        print(f"{outcome.upper():5} {test.id()} ({seconds:.1f} s)", flush=True)
        if detail and outcome != "skip":
            print("      " + detail.rstrip().replace("\n", "\n      "), flush=True)

    def _screenshot(self, test):
        # Taken before tearDown, while the agent and its windows still exist.
        test_world = getattr(test, "world", None)
        if test_world is not None and test_world.display:
            try:
                test_world.screenshot(test.id())
            except Exception:
                pass

    def addSuccess(self, test):
        super().addSuccess(test)
        self._record(test, "pass")

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._screenshot(test)
        self._record(test, "fail", self._exc_info_to_string(err, test))

    def addError(self, test, err):
        super().addError(test, err)
        self._screenshot(test)
        self._record(test, "error", self._exc_info_to_string(err, test))

    def addSubTest(self, test, subtest, err):
        # A failing subtest fails its test; unittest's default would only
        # keep it in a list nobody reads here.
        super().addSubTest(test, subtest, err)
        if err is not None:
            self._screenshot(test)
            failed = issubclass(err[0], test.failureException)
            self._record(subtest, "fail" if failed else "error", self._exc_info_to_string(err, test))

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self._record(test, "skip", reason)

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self._record(test, "fail", "unexpected success")

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self._record(test, "pass")


def write_junit(cases, path, seconds):
    suite = ET.Element("testsuite", name="e2e", tests=str(len(cases)),
                       failures=str(sum(o == "fail" for _, o, _, _ in cases)),
                       errors=str(sum(o == "error" for _, o, _, _ in cases)),
                       skipped=str(sum(o == "skip" for _, o, _, _ in cases)),
                       time=f"{seconds:.3f}")
    for test_id, outcome, took, detail in cases:
        module, _, name = test_id.rpartition(".")
        case = ET.SubElement(suite, "testcase", classname=module, name=name, time=f"{took:.3f}")
        if outcome in ("fail", "error", "skip"):
            tag = {"fail": "failure", "error": "error", "skip": "skipped"}[outcome]
            ET.SubElement(case, tag, message=detail.strip().splitlines()[-1] if detail.strip() else "") \
                .text = detail
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    ET.ElementTree(suite).write(path, encoding="utf-8", xml_declaration=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"),
                        help="the win32 build folder (Folderlane.exe, e2e-tools/)")
    parser.add_argument("--xml", help="JUnit XML output (default <build>/results/e2e.xml)")
    parser.add_argument("-k", dest="patterns", action="append", default=[],
                        help="run only tests whose id contains this text")
    args = parser.parse_args(argv)
    os.environ["E2E_BUILD"] = os.path.abspath(args.build)
    os.environ.setdefault("E2E_RESULTS", os.path.join(os.environ["E2E_BUILD"], "results"))
    xml_path = args.xml or os.path.join(os.environ["E2E_RESULTS"], "e2e.xml")

    def stop(signum, frame):
        raise _Stop()
    signal.signal(signal.SIGTERM, stop)

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [f"*{p}*" for p in args.patterns]
    suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    result = ReportingResult()
    started = time.monotonic()
    try:
        suite.run(result)
    except KeyboardInterrupt:
        print("ERROR the run was stopped before its end", flush=True)
        result.cases.append(("e2e.run.interrupted", "error", 0.0,
                             "the run was stopped (time limit or signal) before its end"))
    finally:
        for each in _worlds.values():
            each.stop()
    seconds = time.monotonic() - started
    write_junit(result.cases, xml_path, seconds)
    passed = sum(o == "pass" for _, o, _, _ in result.cases)
    failed = sum(o in ("fail", "error") for _, o, _, _ in result.cases)
    skipped = sum(o == "skip" for _, o, _, _ in result.cases)
    if skipped:
        print(f"{skipped} skipped")
    print(f"took {seconds:.0f} s; results in {xml_path}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not result.cases else 0


if __name__ == "__main__":
    # The tests import this file as "harness"; run that one module, not a
    # second copy of it as __main__, so that both see the same world.
    sys.path.insert(0, HERE)
    import harness
    sys.exit(harness.main())
