"""What a Windows user gets from the installer (dist/, made by `make dist`):
a silent per-user installation, the shortcuts, the "Open with Folderlane"
verbs on folders, folder backgrounds and drives, the agent started at the
end, and an uninstaller that ends the agent and takes everything away again.

Wine does not merge HKEY_CURRENT_USER\\Software\\Classes into
HKEY_CLASSES_ROOT, so its shell cannot find a per-user verb itself: the test
copies the installed verbs to HKEY_CLASSES_ROOT of its own prefix and has
Wine's shell run them, as Explorer does."""

import contextlib
import glob
import hashlib
import http.server
import json
import os
import shutil
import struct
import subprocess
import tempfile
import threading
import time
import zipfile

import jsonschema
import yaml

from harness import AGENT_CLASS, IDCANCEL, IDOK, ROOT as CHECKOUT, WM_CLOSE, Agent, dist_file, wait_for
from test_intake import IntakeTestCase
from test_menu import ROOT, vtr_entries

USER_CLASSES = "HKCU\\Software\\Classes\\"
MACHINE_CLASSES = "HKLM\\Software\\Classes\\"
UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Folderlane"
# The class of the item a verb is on, its key under Software\\Classes, and
# what the shell puts in for the item.
VERBS = (("Directory", "Directory\\shell\\Folderlane", "%1"),
         ("Directory\\Background", "Directory\\Background\\shell\\Folderlane", "%V"),
         ("Drive", "Drive\\shell\\Folderlane", "%1"))
CSIDL_PROGRAMS, CSIDL_STARTUP, CSIDL_LOCAL_APPDATA = 2, 7, 0x1C
PROGRAMS = ("Folderlane.exe", "folderlane-send.exe", "folderlane-open.exe")
SHIPPED = PROGRAMS + ("Nelvoreadme.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt")
# The published schemas of the winget manifest (copied unchanged, with their licence).
WINGET_SCHEMAS = os.path.join(CHECKOUT, "third_party", "winget-1.10.0")


def shortcut_target(path):
    """The local path a .lnk file points at (its LinkInfo's base path)."""
    with open(path, "rb") as f:
        data = f.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # an ID list comes first
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if not flags & 0x2:
        raise ValueError(f"{path}: no link info")
    base = struct.unpack_from("<I", data, at + 16)[0]
    return data[at + base:data.index(b"\0", at + base)].decode("latin-1")


def throwaway_certificate(folder, name, usage):
    """A self-signed certificate for one extended key usage: (key, cert)."""
    key, cert = (os.path.join(folder, f"{usage.split(',')[-1]}.{kind}.pem") for kind in ("key", "cert"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN={name}",
                    "-addext", f"extendedKeyUsage={usage}", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return key, cert


@contextlib.contextmanager
def time_stamp_server(folder):
    """A local RFC 3161 time-stamp authority (`openssl ts -reply` behind HTTP): address, certificate."""
    key, cert = throwaway_certificate(folder, "Folderlane e2e TSA", "critical,timeStamping")
    config = os.path.join(folder, "tsa.cnf")
    with open(config, "w") as f:
        f.write(f"[tsa]\ndefault_tsa = e2e\n[e2e]\nserial = {folder}/tsa.serial\nsigner_cert = {cert}\n"
                f"signer_key = {key}\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n")

    class Authority(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin"],
                                   input=query, capture_output=True).stdout
            self.send_response(200 if reply else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *_):
            pass
    server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield f"http://127.0.0.1:{server.server_port}", cert
    finally:
        server.shutdown()
        server.server_close()


class Installer(IntakeTestCase):

    def setUp(self):
        super().setUp()
        setup = dist_file("Folderlane-*-setup.exe")
        self.assertEqual(self.world.agent_windows(), [], "an agent from an earlier test runs")
        self.setup = os.path.join(self.world.prefix, "drive_c", "e2e", os.path.basename(setup))
        shutil.copy(setup, self.setup)
        self.local_appdata = self.special_folder(CSIDL_LOCAL_APPDATA)
        self.start_menu = self.special_folder(CSIDL_PROGRAMS)
        self.startup = self.special_folder(CSIDL_STARTUP)
        self.install_dir = self.local_appdata + "\\Programs\\Folderlane"
        self.had_programs_folder = os.path.isdir(
            self.world.host_path(self.local_appdata + "\\Programs"))
        # The installed agent's opened folders are recorded like any test agent's.
        self.agent = Agent(self.world, self.id().split(".")[-1], copy=False)

    def tearDown(self):
        # Whatever a failed test left: uninstall, end agents, drop the files.
        uninstaller = self.world.host_path(self.install_dir + "\\Uninstall.exe")
        if os.path.isfile(uninstaller):
            self.wine(self.install_dir + "\\Uninstall.exe", "/S")
            try:
                wait_for(lambda: not os.path.exists(uninstaller), 20, what="the uninstaller")
            except AssertionError:
                pass
        for window in self.world.agent_windows():
            self.world.probe("post", window.hwnd, 16, check=False)
        shutil.rmtree(self.world.host_path(self.install_dir), ignore_errors=True)
        super().tearDown()

    def special_folder(self, csidl):
        return self.world.probe("folder", csidl).strip()

    def wine(self, *command, log="wine.log"):
        """Runs a Windows program as the user would, with the installed
        agent's recording environment (the installer starts the agent).
        Output goes to a file: the agent would hold a pipe open."""
        with open(os.path.join(self.agent.base, log), "ab") as out:
            return subprocess.run(["wine", *command], env=self.agent.record_env(),
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=out, timeout=120)

    def choose_verb(self, verb_class, item):
        """Chooses "Open with Folderlane" on an item in Wine's shell, as in
        Explorer (which gives a background's folder as the directory too);
        returns what the probe printed: the program's exit code."""
        log = os.path.join(self.agent.base, "verb.log")
        if os.path.exists(log):
            os.remove(log)
        directory = (item,) if verb_class == "Directory\\Background" else ()
        self.wine("C:\\e2e\\probe.exe", "verb", verb_class, "Folderlane", item, *directory,
                  log="verb.log")
        with open(log, "rb") as f:
            return f.read().decode("latin-1").strip()

    def install(self, *switches):
        """Installs silently; returns the agent the installer started."""
        before = {w.hwnd for w in self.world.agent_windows()}
        run = self.wine(self.world.windows_path(self.setup), "/S", *switches)
        self.assertEqual(run.returncode, 0, "setup's exit code")
        window = wait_for(lambda: [w for w in self.world.agent_windows() if w.hwnd not in before],
                          30, 0.3, "the agent the installer starts")
        self.assertEqual(len(window), 1, window)
        return self.agent.attach(window[0])

    def install_by_hand(self, *switches):
        """Goes through setup's pages as a user does (past the warning that
        it runs elevated, where Wine runs every program so); returns the
        finish page's texts."""
        setup = subprocess.Popen(["wine", self.world.windows_path(self.setup), *switches],
                                 env=self.agent.record_env(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.world.probe("elevated").strip() == "1":
            box, _ = self.world.message_box("Folderlane Setup", 30)
            self.world.press(box, IDOK)
        def texts(hwnd):
            try:
                return [t for _, _, t in self.world.texts(hwnd)[1]]
            except subprocess.CalledProcessError:  # gone meanwhile
                return []
        # (The wizard's caption is not found by title under Wine.)
        pages = lambda: [w.hwnd for w in self.world.windows("#32770|")
                         if w.visible and w.text == "Folderlane Setup"]
        for caption in ("&Next >", "&Install", "&Finish"):
            wizard = wait_for(lambda: [w for w in pages() if caption in texts(w)], 60, 0.5, caption)[0]
            shown = texts(wizard)
            self.world.press(wizard, IDOK)  # the button that goes on
        self.assertEqual(setup.wait(30), 0)
        return "\n".join(shown)

    def uninstall(self):
        """Uninstalls as winget does, by the entry's QuietUninstallString: all is gone
        when it returns. (Output to a file: a pipe would wait for whoever inherits it.)"""
        quiet = self.world.registry(UNINSTALL_KEY)["QuietUninstallString"]
        self.assertEqual(self.run_logged(quiet, "uninstall.log"), 0, "the uninstaller's exit code")
        install = self.world.host_path(self.install_dir)
        self.assertFalse(os.path.exists(install), os.listdir(install) if os.path.isdir(install) else "")
        self.assertIsNone(self.world.registry(UNINSTALL_KEY))
        temp = self.world.host_path(self.world.registry("HKCU\\Environment")["TEMP"])
        self.assertEqual(glob.glob(os.path.join(temp, "Folderlane-uninstall*")), [], "the uninstaller's copy")

    def run_logged(self, command_line, log):
        """Starts a command line as the shell does, its output to a file (a
        pipe would wait for whoever inherits it); returns the exit code."""
        self.assertEqual(self.wine("C:\\e2e\\probe.exe", "run", command_line, log=log).returncode, 0)
        with open(os.path.join(self.agent.base, log), "rb") as f:
            return int(f.read().split()[-1])

    def close_agent(self, agent):
        agent.post(WM_CLOSE)
        wait_for(lambda: not self.world.agent_windows(), 15, 0.3, "the agent to close")

    def build_setup(self, name, define):
        """A setup built with a test's define beside the shipped one; its path."""
        setup = os.path.join(os.path.dirname(self.setup), f"{name}-setup.exe")
        subprocess.run(["makensis", "-V1", "-INPUTCHARSET", "UTF8", "-DVERSION=5.4.0.0",
                        f"-DBUILD={self.world.build}", f"-DROOT={CHECKOUT}", f"-DOUTFILE={setup}",
                        f"-D{define}", os.path.join(CHECKOUT, "installer", "Folderlane.nsi")],
                       check=True, capture_output=True)
        return setup

    def run_command_line(self, command_line):
        """Starts a command line as the shell does; returns the exit code."""
        return int(self.world.probe("run", command_line, timeout=90).strip())

    def test_installs_for_the_user_opens_folders_through_the_agent_and_uninstalls_cleanly(self):
        agent = self.install()
        install = self.world.host_path(self.install_dir)
        build = self.world.build

        # Files: the shipped ones, byte for byte, and the uninstaller.
        self.assertEqual(sorted(os.listdir(install)), sorted(SHIPPED + ("Uninstall.exe", "Uninstall-quietly.cmd")))
        for name in SHIPPED:
            with open(os.path.join(install, name), "rb") as got, \
                    open(os.path.join(build, name), "rb") as want:
                self.assertEqual(got.read(), want.read(), name)

        # Shortcuts: the Start menu's starts the agent; the log-on one (ticked
        # by default) the opener, which starts it only when none runs.
        for folder, program in ((self.start_menu, "Folderlane.exe"), (self.startup, "folderlane-open.exe")):
            link = self.world.host_path(folder + "\\Folderlane.lnk")
            self.assertEqual(shortcut_target(link), self.install_dir + "\\" + program, folder)

        # Registry: the entry of "Apps & features" and the verbs.
        entry = self.world.registry(UNINSTALL_KEY)
        self.assertEqual((entry["DisplayName"], entry["DisplayVersion"], entry["InstallLocation"]),
                         ("Folderlane", "5.4.0.0", self.install_dir))
        self.assertEqual(entry["UninstallString"], f'"{self.install_dir}\\Uninstall.exe"')
        self.assertIn(f'"{self.install_dir}\\Uninstall-quietly.cmd"', entry["QuietUninstallString"])
        for _, key, item in VERBS:
            self.assertEqual(self.world.registry(USER_CLASSES + key)["(Default)"],
                             "Open with Folderlane", key)
            self.assertEqual(self.world.registry(USER_CLASSES + key + "\\command")["(Default)"],
                             f'"{self.install_dir}\\folderlane-open.exe" "{item}"', key)
            self.world.reg("copy", USER_CLASSES + key, MACHINE_CLASSES + key, "/s", "/f")
            self.addCleanup(self.world.reg, "delete", MACHINE_CLASSES + key, "/f")

        # "Open with Folderlane", chosen in Wine's shell with no agent running,
        # on a folder whose name has a space and on the background of a folder
        # whose name the ANSI code page lacks: the agent starts, opens the
        # folder, and the folder heads its list. On a drive, the agent runs.
        space, omega = self.make_folder(agent, "Site Projects"), self.make_folder(agent, "\u03a9mega")
        for verb_class, item in (("Directory", space), ("Directory\\Background", omega), ("Drive", ROOT)):
            with self.subTest(verb_class):
                if verb_class != "Drive":
                    self.close_agent(agent)
                before = len(agent.records())
                self.assertEqual(self.choose_verb(verb_class, item), "0")
                (window,) = self.world.agent_windows()
                agent.attach(window)
                (record,) = self.new_records(agent, before)
                if item == omega:
                    self.assertShortNameOf(record[1], omega)
                else:
                    self.assertOpenedFolder([record], item)
                self.assertEqual(self.run_command_line(
                    f'"{self.install_dir}\\folderlane-send.exe" --handoff'), 0)
                ((kind, _),) = self.new_records(agent, before + 1)
                self.assertEqual(kind, "vtr")
                self.assertEqual(vtr_entries(agent.handoff_copy(before + 2))[0], record[1])

        self.uninstall()
        self.assertEqual(self.world.agent_windows(), [], "the uninstaller ends the agent")
        self.assertNoIcons()
        self.assertEqual([c for c in self.world.wine_processes() if "folderlane" in c.lower()], [])
        for folder in (self.start_menu, self.startup):
            self.assertFalse(os.path.exists(self.world.host_path(folder + "\\Folderlane.lnk")))
        for _, key, _ in VERBS:
            self.assertIsNone(self.world.registry(USER_CLASSES + key), key)
        self.assertIsNone(self.world.registry(UNINSTALL_KEY))
        # The folder above the installation goes only when the installer made it.
        self.assertEqual(os.path.isdir(self.world.host_path(self.local_appdata + "\\Programs")),
                         self.had_programs_folder)

    def test_installing_again_ends_the_running_agent_first_and_keeps_the_users_files_and_choices(self):
        startup_link = self.world.host_path(self.startup + "\\Folderlane.lnk")
        folder_verb = USER_CLASSES + VERBS[0][1]
        old_pid = self.install("/NOSTARTUP").pid
        install = self.world.host_path(self.install_dir)
        with open(os.path.join(install, "FolderList.txt"), "wb") as f:
            f.write(ROOT.encode() + b"\r\n")

        second = self.install()
        # The old agent was told to close, and was gone before its files were replaced.
        self.assertNotEqual(second.pid, old_pid)
        self.assertEqual([w.pid for w in self.world.windows(AGENT_CLASS + "|")], [second.pid])
        # Its process is gone, or (while Wine still knows it by its id) it
        # ended as its Exit ends it, with exit code 0; exit 3 means it still runs.
        ended = self.world.probe("wait", old_pid, 0, check=False)
        self.assertIn((ended.returncode, ended.stdout.strip()), ((1, ""), (0, "0")), ended.stderr)
        # The option left out is left out again; switches choose anew.
        self.assertFalse(os.path.exists(startup_link))
        self.assertIsNotNone(self.world.registry(folder_verb))
        # Over a version that remembered nothing, what the user kept of its
        # shortcut and verb tells the options.
        for choice in ("StartAtLogOn", "OpenWith"):
            self.world.reg("delete", UNINSTALL_KEY, "/v", choice, "/f")
        for _, key, _ in VERBS:
            self.world.reg("delete", USER_CLASSES + key, "/f")
        self.install()
        self.assertFalse(os.path.exists(startup_link))
        self.assertIsNone(self.world.registry(folder_verb))
        entry = self.world.registry(UNINSTALL_KEY)
        self.assertEqual((entry["StartAtLogOn"], entry["OpenWith"]), (0, 0))
        # By hand, the finish page says that the running agent's list went.
        finish = self.install_by_hand("/STARTUP", "/NOOPENWITH")
        self.assertIn("The Folderlane that was running has been ended", finish)
        (installed,) = self.world.agent_windows()
        self.assertTrue(os.path.exists(startup_link))
        self.assertIsNone(self.world.registry(folder_verb))

        # A copy in another folder runs on through an installation and the
        # uninstaller, which end only the installed agent.
        # Setup still starts the installed one beside it.
        portable = self.new_agent()
        self.assertEqual(self.wine(self.world.windows_path(self.setup), "/S").returncode, 0)
        wait_for(lambda: len(self.world.agent_windows()) == 2, 20, 0.3, "setup to start the installed agent")
        self.assertNotIn(installed.hwnd, [w.hwnd for w in self.world.agent_windows()])
        self.assertIn(portable.hwnd, [w.hwnd for w in self.world.agent_windows()])

        # Run in place (_?=), the uninstaller is done when it returns, and
        # leaves itself; what the user put beside the agent stays too.
        run = self.wine(self.install_dir + "\\Uninstall.exe", "/S", "_?=" + self.install_dir)
        self.assertEqual(run.returncode, 0)
        self.assertIsNone(self.world.registry(UNINSTALL_KEY))
        self.assertEqual(sorted(os.listdir(install)), ["FolderList.txt", "Uninstall.exe"])
        self.assertEqual([w.pid for w in self.world.agent_windows()], [portable.pid])
        self.assertTrue(portable.running)

    def test_a_folder_outside_the_profile_is_private_from_its_start_and_one_others_control_is_refused(self):
        # Wine keeps no ACLs: it answers with an owner and an ACL made from
        # the Unix owner and mode (another uid: S-1-5-7; o+w: Everyone may
        # write and delete), and turns the ACL of a folder made into a mode.
        drive_c = os.path.join(self.world.prefix, "drive_c")
        taken, open_ = os.path.join(drive_c, "e2e-taken"), os.path.join(drive_c, "e2e-open")
        for folder in (taken, open_):
            os.makedirs(folder)
            self.addCleanup(shutil.rmtree, folder, True)
        self.world.as_root("chown", "4321:4321", taken)
        os.chmod(open_, 0o777)
        # A junction to a private folder (Wine shows a host symlink as one),
        # and a private folder holding a DLL another account planted.
        target, planted = os.path.join(drive_c, "e2e-target"), os.path.join(drive_c, "e2e-planted")
        for folder in (target, planted):
            os.makedirs(folder)
            self.addCleanup(shutil.rmtree, folder, True)
        os.symlink(target, os.path.join(drive_c, "e2e-junction"))
        self.addCleanup(os.unlink, os.path.join(drive_c, "e2e-junction"))
        open(os.path.join(planted, "version.dll"), "wb").close()
        self.world.as_root("chown", "4321:4321", os.path.join(planted, "version.dll"))
        long_name = "C:\\e2e-long\\" + "n" * 300 + "\\Folderlane"
        for folder in ("C:\\e2e-taken", "C:\\e2e-open", "C:\\e2e-open\\Folderlane", long_name, "C:\\e2e-junction",
                       "C:\\e2e-planted", self.local_appdata + "\\..\\..\\..\\..\\e2e-taken"):
            with self.subTest(folder[:30]):
                run = self.wine(self.world.windows_path(self.setup), "/S", "/D=" + folder)
                self.assertEqual(run.returncode, 3)
                self.assertIsNone(self.world.registry(UNINSTALL_KEY))
                self.assertEqual(self.world.agent_windows(), [])
        self.assertEqual(os.listdir(taken) + os.listdir(open_) + os.listdir(target), [])
        # A level another account makes between the check and the making
        # (a setup built to wait there): seen by the second check.
        late = os.path.join(drive_c, "e2e-late")
        self.addCleanup(shutil.rmtree, late, True)
        checked = os.path.join(os.path.dirname(self.setup), "checked")
        with open(os.path.join(os.path.dirname(self.setup), "late.cmd"), "w") as f:
            f.write("echo.>C:\\e2e\\checked\r\n:wait\r\nif exist C:\\e2e\\checked goto wait\r\n")
        setup = subprocess.Popen(["wine", self.world.windows_path(self.build_setup("late", "AFTER_CHECK=cmd /c C:\\e2e\\late.cmd")),
                                  "/S", "/D=C:\\e2e-late\\Folderlane"], env=self.agent.record_env(),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(checked), 30, 0.1, "setup's check")
        os.mkdir(late)
        self.world.as_root("chown", "4321:4321", late)
        os.remove(checked)
        self.assertEqual(setup.wait(60), 3)
        self.assertEqual(os.listdir(late), [])
        # (A level that could not be made leaves none of those made before it.)
        self.assertFalse(os.path.exists(os.path.join(drive_c, "e2e-long")))

        # Through cmd, the uninstall entry removes a folder whose name has its special characters; one with % is refused.
        self.assertEqual(self.wine(self.world.windows_path(self.setup), "/S", "/D=C:\\e2e-new\\50%\\x").returncode, 2)
        self.install_dir = "C:\\e2e-new\\Tools & Apps ^(1)!\\Folderlane"
        # (/D= unquoted, as NSIS takes it.)
        self.assertEqual(self.run_logged(f'"{self.world.windows_path(self.setup)}" /S /D={self.install_dir}', "setup.log"), 0)
        for folder in ("e2e-new", "e2e-new/Tools & Apps ^(1)!/Folderlane"):
            self.assertEqual(os.stat(os.path.join(drive_c, folder)).st_mode & 0o007, 0, folder)
        self.uninstall()
        self.assertFalse(os.path.exists(os.path.join(drive_c, "e2e-new")))

    def test_one_agent_whoever_starts_it_no_folder_the_code_page_cannot_spell_and_elevation_told(self):
        # Run as administrator (Wine 8 runs every program so), setup says
        # whom it installs for, and Cancel ends it untouched.
        setup = subprocess.Popen(["wine", "C:\\e2e\\probe.exe", "runas", self.world.windows_path(self.setup)],
                                 env=self.agent.record_env(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        box, text = self.world.message_box("Folderlane Setup", 30)
        self.assertIn("installs Folderlane for the account it runs as", text)
        self.world.press(box, IDCANCEL)
        self.assertEqual(setup.communicate(timeout=30)[0].split()[-1:], [b"1"])
        # A quote in the path (a user named O'Brien) does not unsettle the
        # check: refused (NSIS's 2), not crashed.
        self.assertEqual(self.wine(self.world.windows_path(self.setup), "/S",
                                   "/D=C:\\e2e\\O'Brien\\\u03a9mega").returncode, 2)
        self.assertFalse(os.path.exists(self.world.host_path("C:\\e2e\\O'Brien")))
        self.assertIsNone(self.world.registry(UNINSTALL_KEY))
        # Wine never runs a program as SYSTEM: a setup built to take Wine's
        # one user (S-1-5-21-0-0-0-1000) for SYSTEM refuses it, with 5.
        as_system = self.build_setup("as-system", "SYSTEM_SID=S-1-5-21-0-0-0-1000")
        self.assertEqual(self.wine(self.world.windows_path(as_system), "/S").returncode, 5)
        # Silent, it says why where an administrator looks.
        with open(self.world.host_path(self.world.registry("HKCU\\Environment")["TEMP"] + "\\Folderlane-setup.log")) as f:
            self.assertIn("Folderlane installs per user", f.read())
        setup = subprocess.Popen(["wine", self.world.windows_path(as_system)], env=self.agent.record_env(),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        box, text = self.world.message_box("Folderlane Setup", 30)
        self.assertIn("Folderlane installs per user", text)
        self.world.press(box, IDOK)
        self.assertEqual(setup.wait(30), 5)
        self.assertIsNone(self.world.registry(UNINSTALL_KEY))

        agent = self.install()
        opener = self.install_dir + "\\folderlane-open.exe"
        agents = lambda: [c for c in self.world.wine_processes() if "\\folderlane.exe" in c.lower()]

        def one_agent():
            # A process Wine is still taking down can show for a moment; a
            # second agent would stay.
            wait_for(lambda: len(agents()) == 1, 10, 0.3, "one agent")
            time.sleep(1)
            self.assertEqual(len(agents()), 1, agents())
        # The log-on shortcut's way with an agent running: no second one.
        self.assertEqual(self.run_command_line(f'"{opener}"'), 0)
        one_agent()

        # Five folders chosen at once with no agent running: one agent takes all.
        self.close_agent(agent)
        folders = [self.make_folder(agent, f"Chosen{n}") for n in range(5)]
        before = len(agent.records())
        openers = [subprocess.Popen(["wine", opener, folder], env=self.agent.record_env(),
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL) for folder in folders]
        self.assertEqual([o.wait(60) for o in openers], [0] * 5)
        one_agent()
        (window,) = self.world.agent_windows()
        agent.attach(window)
        self.assertCountEqual([path for _, path in self.new_records(agent, before, 5)], folders)
        self.assertEqual(self.run_command_line(f'"{self.install_dir}\\folderlane-send.exe" --handoff'), 0)
        self.new_records(agent, before + 5)
        self.assertCountEqual(vtr_entries(agent.handoff_copy(before + 6))[:5], folders)

    def test_releases_signed_with_a_pkcs12_file_or_on_a_token_with_a_time_stamp_and_their_manifest_and_sums(self):
        work = tempfile.mkdtemp(prefix="signed-", dir=self.agent.base)
        key, cert = throwaway_certificate(work, "Folderlane e2e", "codeSigning")
        def make_dist(**variables):
            dist = tempfile.mkdtemp(prefix="dist-", dir=work)
            made = subprocess.run([os.path.join(CHECKOUT, "scripts", "make-dist.sh"), self.world.build, dist],
                                  env=dict(os.environ, **variables), capture_output=True, text=True)
            return made, dist
        def verify(path, *trusted):
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, *trusted, "-in", path],
                                      capture_output=True, text=True).stdout
            self.assertIn("Signature verification: ok", verified, path)
            self.assertIn("Subject: /CN=Folderlane e2e", verified, path)
            return verified

        # A PKCS#12 file, its password given through a file (any osslsigncode
        # reads one): the setup and each program of the archive are signed.
        pfx = os.path.join(work, "throwaway.pfx")
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                        "-passout", "pass:it's a secret"], check=True, capture_output=True)
        made, dist = make_dist(FOLDERLANE_SIGN_PFX=pfx, FOLDERLANE_SIGN_PASSWORD="it's a secret")
        self.assertEqual(made.returncode, 0, made.stderr)
        verify(glob.glob(os.path.join(dist, "*-setup.exe"))[0])
        with zipfile.ZipFile(glob.glob(os.path.join(dist, "*-portable.zip"))[0]) as archive:
            archive.extractall(os.path.join(work, "unpacked"), PROGRAMS)
        for name in PROGRAMS:
            verify(os.path.join(work, "unpacked", name))
        # Rebuilt with the published signatures and no key: every file the same.
        rebuilt, again = make_dist(FOLDERLANE_SIGNATURES=os.path.join(dist, "signatures"))
        self.assertEqual(rebuilt.returncode, 0, rebuilt.stderr)
        self.assertEqual(subprocess.run(["diff", "-r", dist, again], capture_output=True, text=True).stdout, "")
        self.assertEqual(len(os.listdir(os.path.join(again, "signatures"))), 5)
        self.assertFalse(os.path.exists(os.path.join(dist, "winget")), "a manifest without a release address")
        # A PKCS#12 file without a password: none is handed over (an empty one fails).
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx, "-passout", "pass:"],
                       check=True, capture_output=True)
        made, dist = make_dist(FOLDERLANE_SIGN_PFX=pfx, FOLDERLANE_SIGN_PASSWORD="")
        self.assertEqual(made.returncode, 0, made.stderr)
        verify(glob.glob(os.path.join(dist, "*-setup.exe"))[0])

        # The key on a token (SoftHSM2, in a folder of its own), for a release.
        token = {"SOFTHSM2_CONF": os.path.join(work, "softhsm2.conf")}
        os.mkdir(os.path.join(work, "tokens"))
        with open(token["SOFTHSM2_CONF"], "w") as f:
            f.write(f"directories.tokendir = {work}/tokens\n")
        for command in (("--init-token", "--free", "--label", "e2e", "--so-pin", "5678", "--pin", "1234"),
                        ("--import", key, "--token", "e2e", "--label", "signing", "--id", "01", "--pin", "1234")):
            subprocess.run(["softhsm2-util", *command], env=dict(os.environ, **token), check=True, capture_output=True)
        url = "https://downloads.example.test/folderlane/5.4.0.0"
        release = dict(token, FOLDERLANE_SIGN_PKCS11_MODULE="/usr/lib/softhsm/libsofthsm2.so",
                       FOLDERLANE_SIGN_KEY="pkcs11:token=e2e;object=signing;type=private",
                       FOLDERLANE_SIGN_CERTS=cert, FOLDERLANE_SIGN_PASSWORD="1234", FOLDERLANE_RELEASE_URL=url,
                       FOLDERLANE_PROJECT_URL="https://folderlane.example.test/")
        refused, _ = make_dist(**release)
        self.assertIn("a release is signed only with a time-stamp", refused.stderr)
        with time_stamp_server(work) as (server, authority):
            made, dist = make_dist(FOLDERLANE_SIGN_TIMESTAMP=server, **release)
        self.assertEqual(made.returncode, 0, made.stderr)
        (setup,) = glob.glob(os.path.join(dist, "*-setup.exe"))
        shutil.copy(setup, self.setup)
        self.install()
        install = self.world.host_path(self.install_dir)
        # Setup, the uninstaller it wrote and each program, installed or unpacked.
        with zipfile.ZipFile(setup.replace("-setup.exe", "-portable.zip")) as archive:
            for name in PROGRAMS:
                with open(os.path.join(install, name), "rb") as f:
                    self.assertEqual(archive.read(name), f.read(), name)
        for path in (setup, os.path.join(install, "Uninstall.exe"), *(os.path.join(install, n) for n in PROGRAMS)):
            self.assertIn("Timestamp Server Signature verification: ok", verify(path, "-TSA-CAfile", authority))

        # The sums name every published file, and the manifest holds to the
        # published schemas, to the entry setup writes and to the files of
        # the release's address.
        def sha256(path):
            with open(path, "rb") as f:
                return hashlib.sha256(f.read()).hexdigest()
        with open(os.path.join(dist, "SHA256SUMS")) as f:
            sums = dict(reversed(line.split("  ")) for line in f.read().splitlines())
        self.assertEqual(sums, {n: sha256(os.path.join(dist, n)) for n in os.listdir(dist)
                                if os.path.isfile(os.path.join(dist, n)) and n != "SHA256SUMS"})
        manifest = {}
        for kind, name in (("version", ""), ("installer", ".installer"), ("defaultLocale", ".locale.en-US")):
            with open(os.path.join(dist, "winget", f"Folderlane.Folderlane{name}.yaml"), encoding="utf-8") as f:
                manifest[kind] = yaml.safe_load(f)
            with open(os.path.join(WINGET_SCHEMAS, f"manifest.{kind}.1.10.0.json")) as f:
                jsonschema.validate(manifest[kind], json.load(f))
        (installer,) = manifest["installer"]["Installers"]
        self.assertEqual((installer["InstallerUrl"], installer["InstallerSha256"]),
                         (f"{url}/{os.path.basename(setup)}", sha256(setup).upper()))
        locale = manifest["defaultLocale"]
        self.assertEqual((locale["License"], locale["PackageUrl"]), ("MIT", "https://folderlane.example.test/"))
        for link in (locale["LicenseUrl"], locale["ReleaseNotesUrl"]):
            self.assertTrue(link.startswith(url + "/") and link[len(url) + 1:] in sums, link)
        self.assertEqual((manifest["installer"]["Scope"], manifest["installer"]["InstallerSwitches"]["Silent"]),
                         ("user", "/S"))
        entry = self.world.registry(UNINSTALL_KEY)
        (listed,) = manifest["installer"]["AppsAndFeaturesEntries"]
        self.assertEqual(listed, {"DisplayName": entry["DisplayName"], "Publisher": entry["Publisher"],
                                  "DisplayVersion": entry["DisplayVersion"], "ProductCode": "Folderlane"})
        self.assertEqual({m["PackageVersion"] for m in manifest.values()}, {entry["DisplayVersion"]})
