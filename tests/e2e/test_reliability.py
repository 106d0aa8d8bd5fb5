"""Reliability: a storm of messages from other processes, messages that
arrive while the agent waits in a menu, box or dialog, thousands of menus
and hand-offs without growth, and a start before the taskbar is ready.

Environment: E2E_STORM_SECONDS (default 60), E2E_STORM_SEED (default
20240611, the second sender takes the next number) and E2E_STORM_MIX
("menus": half the messages are right presses on the icon), E2E_STORM_POINTER
("icon": the pointer rests on the icon); E2E_LEAK_MENUS and
E2E_LEAK_HANDOFFS (defaults 3000 and 2000, about two and a half minutes
here; the full 5000 and 5000 take about five and a half, so raise
E2E_TIMEOUT with them).
"""

import collections
import os
import re
import select
import shutil
import subprocess
import time

from harness import (AWAY_FROM_TRAY, FAULT_CHANNELS, IDCANCEL, IDNO, IDOK, TRAY_ICON_ID, WM_CLOSE, WM_DESTROY, WM_ENDSESSION,
                     WM_HANDOFF, WM_RBUTTONDOWN, WM_TRAYNOTIFY, AgentTestCase, wait_for)
from test_export import SIGNATURE, ExportTestCase, vantro_bytes
from test_menu import MenuTestCase

IDM_EXIT = 1
WM_OPENRECEIVED = 0x8001
WM_CONTEXTMENU = 0x7B
WM_KEYDOWN = 0x100
VK_ESCAPE = 0x1B
MAX_ENTRIES = 16
PATH_BYTES = 260


class StressMixin:
    """The stress tool (tools/stress.cpp) and what the agent handed off."""

    def setUp(self):
        super().setUp()
        target = os.path.join(self.world.prefix, "drive_c", "e2e", "stress.exe")
        if not os.path.isfile(target):
            shutil.copy(os.path.join(self.world.tools, "stress.exe"), target)

    def stress(self, *args, timeout=60):
        run = subprocess.run(["wine", "C:\\e2e\\stress.exe", *map(str, args)],
                             env=self.world.env(), stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=timeout)
        self.assertEqual(run.returncode, 0, f"stress {args[0]}: {run.stderr.strip()}")
        return run.stdout

    def stress_in_background(self, *args, extra=None):
        return subprocess.Popen(["wine", "C:\\e2e\\stress.exe", *map(str, args)],
                                env=self.world.env(extra=extra), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def wait_said(self, process, word, timeout=30):
        """Waits for the background tool's first line, which must be word."""
        ready, _, _ = select.select([process.stdout], [], [], timeout)
        line = process.stdout.readline().strip() if ready else "no answer"
        if line != word:
            process.kill()
            self.fail(f"the stress tool said {line!r}, not {word!r}: {process.stderr.read().strip()}")

    def folders(self, agent, *names):
        """Existing folders of the test; their Windows paths."""
        paths = []
        for name in names:
            path = os.path.join(agent.base, "folders", name)
            os.makedirs(path, exist_ok=True)
            paths.append(self.world.windows_path(path))
        return paths

    def handoffs(self, agent):
        """Numbers of the records that received a hand-off file."""
        return [n for n, (kind, _) in enumerate(agent.records(), 1) if kind == "vtr"]

    def next_handoff(self, agent):
        """Asks for a hand-off as another process does; returns the file's bytes
        as the program that the shell started received them."""
        before = len(self.handoffs(agent))
        self.assertEqual(agent.send(WM_HANDOFF), 0)
        number = wait_for(lambda: self.handoffs(agent)[before:], 15, what="the hand-off")[0]
        return agent.handoff_copy(number)

    def busy_windows(self, agent):
        """The agent's menus, boxes and dialogs on the screen."""
        return [w for w in self.world.windows("#32770|") + self.world.menu_windows()
                if w.pid == agent.pid and w.visible]


class Storm(StressMixin, AgentTestCase):

    def test_message_storm_from_other_processes(self):
        seconds = int(os.environ.get("E2E_STORM_SECONDS", "60"))
        seed = int(os.environ.get("E2E_STORM_SEED", "20240611"))
        agent = self.new_agent(start=False)
        # A fault that Wine swallows, or a damaged heap, leaves the agent
        # alive but wrong: let Wine report both.
        agent.debug = FAULT_CHANNELS
        agent.start()
        # E2E_STORM_REFUSE=N: the first of every N posts the agent makes to
        # itself for the folders it took is refused, as a full queue does.
        refuse = int(os.environ.get("E2E_STORM_REFUSE", "0"))
        if refuse:
            self.stress("refuse", agent.pid, "PostMessageA", 16, refuse, WM_OPENRECEIVED)
        self.addCleanup(lambda: print("      hidden faults: {}, heap warnings: {}".format(
            *map(len, agent.hidden_faults())), flush=True))
        folders = self.folders(agent, "one", "two", "three")
        # E2E_STORM_POINTER=icon: the pointer rests on the icon, as after the
        # user's own press, and the menus open under it.
        if os.environ.get("E2E_STORM_POINTER") == "icon":
            self.world.xdotool("mousemove", *agent.icon)
        stop = os.path.join(agent.base, "dismiss.stop")
        dismisser = self.stress_in_background("dismiss", agent.pid, self.world.windows_path(stop))
        self.addCleanup(dismisser.kill)
        self.wait_said(dismisser, "ready")

        # E2E_STORM_MIX=menus: half the messages are right presses.
        mix = {"E2E_STORM_MIX": os.environ.get("E2E_STORM_MIX", "")}
        senders = [self.stress_in_background("storm", agent.hwnd, seed + i, seconds, *folders, extra=mix)
                   for i in range(2)]
        results = []
        for sender in senders:
            self.addCleanup(sender.kill)
            out, err = sender.communicate(timeout=seconds + 180)
            counts = dict(line.split("=", 1) for line in out.split())
            results.append((sender.returncode, counts, err.strip()))
            print(f"      storm sender: exit {sender.returncode}, "
                  + ", ".join(f"{k} {v}" for k, v in counts.items()), flush=True)

        # What is still queued opens its menus and boxes; the dismisser
        # closes them. Quiet for three seconds in a row counts as done.
        quiet_since = [time.monotonic()]

        def quiet():
            if self.busy_windows(agent):
                quiet_since[0] = time.monotonic()
            return time.monotonic() - quiet_since[0] >= 3
        wait_for(quiet, 120, 0.3, "the agent to settle after the storm")

        self.assertTrue(agent.running, f"the agent died in the storm (exit code {agent.process.returncode})")
        final = self.folders(agent, "final")[0]
        self.assertEqual(agent.copydata(final), 1)
        last = self.next_handoff(agent)
        self.assertEqual(last.split(b"\r\n")[:2], [SIGNATURE, final.encode()])

        open(stop, "w").close()
        told, _ = dismisser.communicate(timeout=30)
        boxes = collections.Counter(tuple(line.split("\t")[1:]) for line in told.splitlines()
                                    if line.startswith("box\t"))
        print(f"      dismissed: {told.splitlines()[-1]}", flush=True)
        for (caption, text), count in sorted(boxes.items()):
            print(f"      {count:5} x {caption!r}: {text!r}", flush=True)

        for code, counts, err in results:
            self.assertEqual((code, counts.get("copydata_bad"), counts.get("send_failed"),
                              counts.get("post_failed")), (0, "0", "0", "0"),
                             f"a storm sender saw wrong or missing answers: {err}")
        # Every folder taken is opened once, as received (show 5; a menu's
        # folder item opens with 1): none lost in the queue, none twice.
        taken = {folder: sum(int(counts[f"folder{n}_taken"]) for _, counts, _ in results)
                 for n, folder in enumerate(folders)}

        def received():
            return {folder: sum(1 for kind, path, show in agent.records(shows=True)
                                if kind in ("folder", "directory") and path == folder and show == 5)
                    for folder in folders}
        wait_for(lambda: all(received()[f] >= n for f, n in taken.items()), 60, 0.5,
                 "every folder taken to be opened")
        time.sleep(2)
        print(f"      folders taken and opened: {taken}", flush=True)
        self.assertEqual(received(), taken)
        self.assertFalse([b for b in boxes if b[0] == "Application Error"],
                         f"an error ended the agent's handling: {boxes}")

        # Every hand-off file as its program received it, whole, although a
        # later hand-off may have been writing the next one meanwhile.
        numbers = self.handoffs(agent)
        for number in numbers:
            data = agent.handoff_copy(number)
            where = f"hand-off copy {number} ({len(data)} bytes): {data[:300]!r}"
            self.assertTrue(data.startswith(SIGNATURE + b"\r\n") and data.endswith(b"\r\n"), where)
            lines = data.split(b"\r\n")
            entries = lines[1:-1]
            self.assertLessEqual(len(entries), MAX_ENTRIES, where)
            for entry in entries:
                self.assertLessEqual(len(entry), PATH_BYTES, where)
                self.assertNotIn(b"\0", entry, where)
        print(f"      hand-off files checked: {len(numbers)}; programs started: {len(agent.records())}",
              flush=True)

        self.assertEqual(self.busy_windows(agent), [])
        self.assertEqual(agent.command(IDM_EXIT), 0)
        self.assertEqual(agent.wait_exit(), 0)
        faults, heap = agent.hidden_faults()
        self.assertEqual((faults[:3], heap[:3]), ([], []), "Wine saw faults or a damaged heap in the agent")


class RefusedCalls(StressMixin, MenuTestCase):
    """Calls that Windows may answer otherwise than Wine does, answered so
    inside the agent by the stress tool."""

    def test_a_post_a_full_queue_refused_and_a_foreground_not_given(self):
        agent = self.new_agent()
        # Every other post of the agent to itself for a folder taken is
        # refused, the first among them: each folder still opens, once.
        self.stress("refuse", agent.pid, "PostMessageA", 16, 2, WM_OPENRECEIVED)
        folders = self.folders(agent, "one", "two", "three")
        self.send_folders(agent, *folders)
        time.sleep(1)
        self.assertEqual(sorted(path for _, path in agent.records()), sorted(folders))
        # Without the foreground no menu opens; the next press shows it.
        self.stress("refuse", agent.pid, "SetForegroundWindow", 4, 2)
        agent.post(WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN)
        time.sleep(2)
        self.assertEqual(self.world.menu_windows(), [])
        self.open_menu(agent)
        self.world.keys("Escape")

    def test_a_second_start_that_may_not_pass_the_foreground_on_asks_for_no_menu(self):
        agent = self.new_agent()
        start = '"{}"'.format(self.world.windows_path(agent.path("Folderlane.exe")))
        self.assertEqual(self.stress("second", agent.hwnd, start, timeout=90).split(), ["0"])
        time.sleep(2)
        self.assertEqual(self.world.menu_windows(), [])

    def test_the_menu_keys_menu_opens_at_the_icon_where_the_tray_tells_it_wherever_the_pointer_is(self):
        agent = self.new_agent()
        shutil.copy(os.path.join(self.world.tools, "iconrect.dll"), agent.folder)
        # The tray then says the icon is at (300, 200)-(316, 216).
        self.stress("inject", agent.pid, self.world.windows_path(agent.path("iconrect.dll")))
        self.world.xdotool("mousemove", *AWAY_FROM_TRAY)
        agent.post(WM_TRAYNOTIFY, TRAY_ICON_ID, WM_CONTEXTMENU)
        menu = agent.wait_for_menu()
        self.assertEqual((menu.rect[2], menu.rect[1]), (316, 200))
        self.world.probe("post", menu.hwnd, WM_KEYDOWN, VK_ESCAPE, 0)


class WhileWaiting(StressMixin, ExportTestCase):
    """Messages handled inside the agent's own modal waits."""

    def test_a_folder_sent_during_each_wait_reaches_the_next_handoff(self):
        agent = self.new_agent()
        documents_file = os.path.join(self.world.documents, "TmpTmpTmp.vtr")
        # The list as the agent should hold it, index 0 first.
        expected = ["C:\\"]

        def to_top(folder):
            if folder in expected:
                expected.remove(folder)
            expected.insert(0, folder)

        def menu():
            agent.right_click_icon()
            agent.wait_for_menu()
            return lambda: self.world.keys("Escape")

        def from_menu(ups, caption, text=None):
            # Counted from the bottom of the menu: Exit, Donate, About Nelvo, Refresh List...
            def show():
                agent.right_click_icon()
                agent.wait_for_menu()
                self.world.xdotool("key", "--delay", "80", *["Up"] * ups, "Return")
                if text is None:
                    # Only the box's caption counts here; its text is
                    # checked in the menu tests.
                    box = wait_for(lambda: [w for w in self.busy_windows(agent)
                                            if w.text == caption], 10, what=caption)[0]
                else:
                    box, shown = self.world.message_box(caption)
                    self.assertEqual(shown, text)
                def close():
                    self.world.press(box, IDNO)
                    if caption == "Nelvo":
                        # A refresh answered No puts the drive root on top.
                        to_top("C:\\")
                return close
            return show

        def error_box():
            # The hand-off cannot write its file: a folder stands there.
            if os.path.isfile(documents_file):
                os.remove(documents_file)
            os.makedirs(documents_file)
            self.addCleanup(shutil.rmtree, documents_file, True)
            agent.post(WM_HANDOFF)
            box, text = self.world.message_box("Nelvo")
            self.assertEqual(text, "File access denied")

            def close():
                self.world.press(box, IDOK)
                wait_for(lambda: not self.busy_windows(agent), 10, what="the box to close")
                os.rmdir(documents_file)
            return close

        def save_dialog():
            dialog = self.open_dialog(agent)
            return lambda: self.world.press(dialog, IDCANCEL)

        waits = [("menu", menu), ("About box", from_menu(3, "About Nelvo")),
                 ("Refresh List? box", from_menu(4, "Nelvo", "Refresh List?")),
                 ("error box", error_box), ("Save As dialog", save_dialog)]
        for name, show in waits:
            folder = self.folders(agent, name.replace(" ", "_").replace("?", ""))[0]
            close = show()
            self.assertEqual(agent.copydata(folder), 1, f"a folder sent while the {name} was open")
            to_top(folder)
            close()
            wait_for(lambda: not self.busy_windows(agent), 10, what=f"the {name} to close")
            # The hand-off's reload puts the last folder received on top again.
            to_top(folder)
            self.assertEqual(self.next_handoff(agent), vantro_bytes(expected),
                             f"the hand-off after the {name}")
        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)

    def test_a_folder_item_beyond_a_list_that_shrank_while_the_menu_was_open(self):
        agent = self.new_agent(start=False)
        folders = self.folders(agent, "a", "b", "c", "d", "e")
        with open(agent.path("FolderList.txt"), "wb") as f:
            f.write(b"".join(p.encode() + b"\r\n" for p in folders))
        agent.start()
        # The menu shows C:\ (the last entry) at the top, then e ... a.
        agent.right_click_icon()
        agent.wait_for_menu()

        # The folders go, and a hand-off request reloads and prunes the list under the menu.
        shutil.rmtree(os.path.join(agent.base, "folders"))
        os.remove(agent.path("FolderList.txt"))
        self.assertEqual(self.next_handoff(agent), vantro_bytes(["C:\\"]))
        opened = len(agent.records())

        # The topmost item names index 5, which the list no longer has: it
        # opens what it showed all the same.
        self.world.keys("Down", "Return")
        wait_for(lambda: not self.world.menu_windows(), 5, what="the menu to close")
        time.sleep(1.5)
        self.assertEqual(agent.records()[opened:], [("folder", "C:\\")])
        self.assertTrue(agent.running)
        self.assertEqual(agent.copydata("C:\\"), 1)
        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)

    def test_the_end_of_the_session_while_the_save_dialog_is_open_ends_the_agent(self):
        agent = self.start_agent()
        dialog = self.open_dialog(agent)
        self.type_name(dialog, self.win("session.vtr"))
        self.assertEqual(agent.send(WM_ENDSESSION, 1, 0), 0)
        self.assertNoIcons()
        time.sleep(1)
        if dialog.hwnd in [w.hwnd for w in self.agent_dialogs(agent)]:
            self.world.keys("Return")
        self.assertEqual(agent.wait_exit(), 0)
        self.assertEqual(os.listdir(self.out), [], "nothing is saved at the end of a session")

    def test_destroy_while_the_save_dialog_is_open_writes_nothing_and_ends_with_0(self):
        agent = self.start_agent()
        dialog = self.open_dialog(agent)
        self.type_name(dialog, self.win("destroyed.vtr"))
        self.assertEqual(agent.send(WM_DESTROY), 0)
        time.sleep(1)
        if dialog.hwnd in [w.hwnd for w in self.agent_dialogs(agent)]:
            self.world.keys("Return")
        self.assertEqual(agent.wait_exit(), 0)
        self.assertEqual(os.listdir(self.out), [])

    def ended_while_the_menu_was_open(self, how, end):
        agent = self.new_agent()
        agent.right_click_icon()
        agent.wait_for_menu()
        end(agent)
        self.assertNoIcons()
        self.world.keys("Escape")
        wait_for(lambda: not self.world.menu_windows(), 5, what="the menu to close")
        try:
            code = agent.wait_exit(10)
        except AssertionError:
            code = None
        self.assertEqual(code, 0, f"{how} while the menu was open: the icon went, but the "
                                  "process still runs 10 s after the menu closed")

    def test_close_while_the_menu_is_open_ends_with_0_once_it_closes(self):
        self.ended_while_the_menu_was_open(
            "WM_CLOSE", lambda agent: self.assertEqual(agent.send(WM_CLOSE), 0))

    def test_exit_from_another_process_while_the_menu_is_open_ends_with_0(self):
        self.ended_while_the_menu_was_open(
            "the Exit command", lambda agent: self.assertEqual(agent.command(IDM_EXIT), 0))


class Leaks(StressMixin, AgentTestCase):

    def usage(self, agent):
        """What the system reports of the agent's process: Wine's counts, the
        Linux process's resident memory and open files."""
        figures = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", self.stress("usage", agent.pid))}
        with open(f"/proc/{agent.process.pid}/status") as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        figures["rss_kib"] = int(status["VmRSS"].split()[0])
        figures["fds"] = len(os.listdir(f"/proc/{agent.process.pid}/fd"))
        return figures

    def cycle(self, agent, menus, handoffs):
        out = self.stress("cycle", agent.hwnd, agent.pid, menus, handoffs,
                          timeout=120 + (menus + handoffs) // 10)
        figures = dict(re.findall(r"(\w+)=(\d+)", out))
        self.assertEqual((int(figures["menus"]), int(figures["handoffs"])), (menus, handoffs))
        return int(figures["ms"])

    def settle(self, agent, handoffs):
        """Waits until every program the hand-offs started has run."""
        wait_for(lambda: len(self.handoffs(agent)) >= handoffs, 300, 1,
                 f"{handoffs} hand-offs to be received")
        time.sleep(2)

    def test_thousands_of_menus_and_handoffs_leave_no_growth(self):
        menus = int(os.environ.get("E2E_LEAK_MENUS", "3000"))
        handoffs = int(os.environ.get("E2E_LEAK_HANDOFFS", "2000"))
        agent = self.new_agent(start=False)
        # Folders that exist and two that do not: every load merges, tests
        # existence side by side and prunes.
        folders = self.folders(agent, *"abcde")
        missing = [self.world.windows_path(os.path.join(agent.base, "gone", n)) for n in "xy"]
        with open(agent.path("FolderList.txt"), "wb") as f:
            f.write(b"".join(p.encode() + b"\r\n" for p in missing + folders))
        agent.start()

        # The warm-up brings the heap, caches and libraries to their working size.
        warm = 200
        self.cycle(agent, warm, warm)
        self.settle(agent, warm)
        before = self.usage(agent)
        took = self.cycle(agent, menus, handoffs)
        self.settle(agent, warm + handoffs)
        after = self.usage(agent)
        print(f"      {menus} menus and {handoffs} hand-offs took {took / 1000:.0f} s", flush=True)
        for key in before:
            print(f"      {key:16} before {before[key]:>10}  after {after[key]:>10}", flush=True)

        # Tolerances: handles and files are counted exactly, so one leaked
        # per menu or hand-off would add thousands; idle workers of the
        # existence tests may linger. A menu and its items take about 1 KiB
        # of the process's heap in Wine, so a leaked menu per display would
        # add megabytes, where 512 KiB of private memory (1 MiB resident,
        # which also counts library pages touched late) allow about 100
        # bytes per operation.
        limits = {"handles": 4, "fds": 2, "threads": 2, "private": 512 * 1024, "rss_kib": 1024}
        grown = {key: after[key] - before[key] for key in limits}
        self.assertEqual({k: v for k, v in grown.items() if v > limits[k]}, {},
                         f"grown after warm-up: {grown}, allowed {limits}")

        self.assertEqual(agent.copydata("C:\\"), 1)
        self.assertEqual(agent.command(IDM_EXIT), 0)
        self.assertEqual(agent.wait_exit(), 0)


class StartAtLogOn(StressMixin, AgentTestCase):
    """The taskbar is not ready when the agent starts. A stand-in taskbar
    window that refuses every icon is found before Wine's own (which comes
    with the desktop, and without which no window can be made)."""

    def blocker(self, agent):
        stop = os.path.join(agent.base, "blocker.stop")
        blocker = self.stress_in_background("blocker", self.world.windows_path(stop))
        self.addCleanup(blocker.kill)
        self.addCleanup(lambda: open(stop, "w").close())
        self.wait_said(blocker, "ready")
        return blocker, stop

    def started(self, agent):
        window = wait_for(lambda: self.world.agent_windows(), 20, 0.3, "the agent's window")[0]
        agent.hwnd, agent.pid = window.hwnd, window.pid
        return window

    def test_a_taskbar_that_comes_late_gets_the_icon(self):
        agent = self.new_agent(start=False)
        blocker, stop = self.blocker(agent)
        agent.start(wait=False)
        self.started(agent)
        # Well inside the retry period the agent keeps trying, quietly.
        time.sleep(3)
        self.assertTrue(agent.running)
        self.assertEqual(self.world.icons(), [])
        self.assertEqual(self.busy_windows(agent), [])

        # The taskbar comes and announces itself.
        open(stop, "w").close()
        self.assertEqual(blocker.communicate(timeout=15)[0].split(), ["gone"])
        icons = wait_for(self.world.icons, 10, what="the agent's icon")
        time.sleep(1)
        self.assertEqual(self.world.icons(), icons, "one icon, not two")
        agent.icon = icons[0]
        self.assertEqual(self.world.tip_at(*agent.icon), "Folderlane")
        agent.right_click_icon()
        agent.wait_for_menu()
        self.world.keys("Escape")
        wait_for(lambda: not self.world.menu_windows(), 5, what="the menu to close")
        folder = self.folders(agent, "late")[0]
        self.assertEqual(agent.copydata(folder), 1)
        self.assertEqual(self.next_handoff(agent), vantro_bytes([folder, "C:\\"]))
        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()

    def test_a_close_during_the_retries_ends_them_without_an_icon_or_a_box(self):
        agent = self.new_agent(start=False)
        blocker, stop = self.blocker(agent)
        agent.start(wait=False)
        self.started(agent)
        self.assertEqual(agent.send(WM_CLOSE), 0)
        # Well before the retry period would end.
        self.assertEqual(agent.wait_exit(timeout=4), 0)
        open(stop, "w").close()
        blocker.communicate(timeout=15)
        time.sleep(1)
        self.assertEqual(self.world.icons(), [])

    def test_no_taskbar_for_longer_than_the_retry_period_aborts_with_0(self):
        agent = self.new_agent(start=False)
        self.blocker(agent)
        agent.start(wait=False)
        self.started(agent)
        # No owner and no caption: Wine shows its default caption.
        box, text = self.world.message_box("Error", timeout=30)
        self.assertEqual(text, "Unable to Put Icon in Task Tray : Aborting!")
        self.assertEqual(box.pid, agent.pid)
        self.assertTrue(agent.running, "the process ends once the box is answered")
        self.assertEqual(self.world.icons(), [])
        self.world.press(box, IDOK)
        self.assertEqual(agent.wait_exit(), 0)
