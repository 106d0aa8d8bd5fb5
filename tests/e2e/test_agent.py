"""The agent's life: its window and icon, and every way it ends."""

import os
import runpy
import shutil
import signal
import subprocess
import time

from harness import (AGENT_CLASS, AGENT_TITLE, IDOK, ROOT, TRAY_ICON_ID, WM_CLOSE, WM_COMMAND,
                     WM_DESTROY, WM_ENDSESSION, AgentTestCase, wait_for)

IDM_EXIT = 1
WM_QUERYENDSESSION = 17
WM_SETTINGCHANGE, WM_DISPLAYCHANGE, WM_DPICHANGED = 26, 126, 736
ENDSESSION_CLOSEAPP = 1
ENDSESSION_LOGOFF = 0x80000000


def folder_contents(folder):
    contents = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            contents[name] = f.read()
    return contents


class WindowAndIcon(AgentTestCase):

    def test_hidden_window_is_found_by_class_title_or_both(self):
        agent = self.new_agent()
        for spec in (f"{AGENT_CLASS}|{AGENT_TITLE}", f"{AGENT_CLASS}|", f"|{AGENT_TITLE}"):
            found = self.world.windows(spec)
            self.assertEqual([w.hwnd for w in found], [agent.hwnd], spec)
            self.assertFalse(found[0].visible, "the agent's window must stay hidden")

    def test_icon_is_in_the_tray_with_its_tip_and_answers_a_press(self):
        agent = self.new_agent()
        self.assertEqual(self.world.icons(), [agent.icon])
        self.assertEqual(self.world.tip_at(*agent.icon), "Folderlane")

        # A real right-button press on the icon reaches the agent: its menu opens.
        agent.right_click_icon()
        agent.wait_for_menu()
        self.world.keys("Escape")
        wait_for(lambda: not self.world.menu_windows(), 5, what="the menu to close")
        self.assertTrue(agent.running)

    def test_second_copy_runs_on_its_own(self):
        first = self.new_agent()
        # The same copy started again, under other spellings of its path (Z:
        # is Wine's drive for /): the running agent shows its menu at the
        # icon (Wine's tray does not tell where it is: there at the pointer),
        # and the new process ends with 0 without an icon.
        self.world.xdotool("mousemove", *first.icon)
        exe = first.path("Folderlane.exe")
        for spelling in (self.world.windows_path(exe).upper(), "Z:" + exe.replace("/", "\\")):
            again = subprocess.run(["wine", spelling], env=first.record_env(), stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=60)
            self.assertEqual(again.returncode, 0, spelling)
            first.wait_for_menu()
            self.assertEqual(self.world.icons(), [first.icon])
            self.world.keys("Escape")
            wait_for(lambda: not self.world.menu_windows(), 5, what="the menu to close")
        # An opener's start says /quiet: it ends as well, but shows no menu.
        quiet = subprocess.run(["wine", self.world.windows_path(exe), "/quiet"], env=first.record_env(),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(quiet.returncode, 0)
        time.sleep(2)
        self.assertEqual((self.world.menu_windows(), self.world.icons()), ([], [first.icon]))

        second = self.new_agent()
        self.assertNotEqual(first.folder, second.folder)
        self.assertEqual({w.hwnd for w in self.world.agent_windows()}, {first.hwnd, second.hwnd})
        self.assertNotEqual(first.pid, second.pid)
        icons = self.world.icons()
        self.assertEqual(len(icons), 2)
        for icon in icons:
            self.assertEqual(self.world.tip_at(*icon), "Folderlane")

        self.assertEqual(second.send(WM_CLOSE), 0)
        self.assertEqual(second.wait_exit(), 0)
        wait_for(lambda: len(self.world.icons()) == 1, 5, what="one icon left")
        self.assertTrue(first.running)
        self.assertEqual([w.hwnd for w in self.world.agent_windows()], [first.hwnd])

        self.assertEqual(first.send(WM_CLOSE), 0)
        self.assertEqual(first.wait_exit(), 0)
        self.assertNoIcons()

    def test_a_second_start_says_so_and_adds_no_icon_when_the_agent_cannot_be_reached(self):
        agent = self.new_agent(start=False)
        shutil.copy(os.path.join(self.world.tools, "probe.exe"), agent.folder)
        exe = self.world.windows_path(agent.path("Folderlane.exe"))

        def start_again(text, code):
            again = subprocess.Popen(["wine", exe], env=agent.record_env(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            box, shown = self.world.message_box("Folderlane", 30)
            self.assertEqual(shown, text)
            self.world.press(box, IDOK)
            self.assertEqual(again.wait(20), code)

        # An agent with other rights holds the lock, which nobody else may open.
        lock = subprocess.Popen(["wine", self.world.windows_path(agent.path("probe.exe")), "lock", "60",
                                 "deny"], env=self.world.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, text=True)
        self.addCleanup(lock.kill)
        self.assertEqual(lock.stdout.readline().strip(), "held")
        start_again("Folderlane runs with higher rights than this program (it was started as administrator), "
                    "and Windows keeps this program's messages from it. End Folderlane and start it again "
                    "without administrator rights.", 0)
        self.assertNoIcons()
        lock.kill()
        lock.wait(10)

        # A hung agent (stopped here): asked, it does not answer in time.
        agent.start()
        os.kill(agent.process.pid, signal.SIGSTOP)
        self.addCleanup(lambda: agent.running and os.kill(agent.process.pid, signal.SIGCONT))
        start_again("Folderlane is running but not answering.\r\n\r\nEnd Folderlane.exe in the Task Manager "
                    "(its Details), then start Folderlane again.", 1)
        os.kill(agent.process.pid, signal.SIGCONT)
        self.assertEqual(self.world.icons(), [agent.icon])
        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)

    def test_taskbar_created_adds_the_icon_again(self):
        agent = self.new_agent()
        # While the icon is there, the notice must not give a second one.
        agent.send("TaskbarCreated")
        time.sleep(0.5)
        self.assertEqual(len(self.world.icons()), 1)

        # A restarted shell has lost every icon; then it tells the windows.
        self.world.probe("notify", "delete", agent.hwnd, TRAY_ICON_ID)
        self.assertNoIcons()
        agent.send("TaskbarCreated")
        icons = wait_for(self.world.icons, 5, what="the icon to come back")
        self.assertEqual(len(icons), 1)
        self.assertEqual(self.world.tip_at(*icons[0]), "Folderlane")

        # The same record serves for taking it away at the end.
        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()


# The picture drawn for a size, as the icons hold it: rows of (r, g, b, alpha).
drawn = runpy.run_path(os.path.join(ROOT, "res", "draw-icons.py"))["rgba"]


class DisplayScale(AgentTestCase):

    def assertTrayShows(self, agent, picture, name, changed=False):
        """The agent's tray cell shows picture over the tray's background within the blend's
        rounding (when changed, where it is opaque); the screenshot stays as name."""
        size, cell = len(picture), len(picture) + 4  # Wine's tray leaves 2 pixels around

        def shown():
            screen = self.world.pixels(self.world.screenshot(name), agent.icon[0] - cell // 2,
                                       agent.icon[1] - cell // 2, cell, cell)
            # Wherever in the cell the tray put it; its corner is background.
            return any(all(abs(s - round((c * p[3] + b * (255 - p[3])) / 255)) <= 3
                           for row, line in enumerate(picture) for col, p in enumerate(line)
                           if p[3] == 255 or not changed
                           for s, c, b in zip(screen[dy + row][dx + col], p, screen[0][0]))
                       for dx in range(cell - size + 1) for dy in range(cell - size + 1))

        wait_for(shown, 5, 0.3, f"{name}: the tray to show the picture of {size} pixels")

    def test_icon_is_the_picture_drawn_for_the_taskbar_size_at_every_scale(self):
        self.addCleanup(self.world.set_scale, 96)
        for dpi, size in ((96, 16), (120, 20), (144, 24), (216, 36), (336, 56), (192, 32)):
            with self.subTest(dpi=dpi):
                self.world.set_scale(dpi)
                agent = self.new_agent()
                self.assertTrayShows(agent, drawn(size), f"tray-at-{dpi}-dpi")

        # Wine cannot change the scale while programs run: its tray stays at
        # 32 pixels and stretches a 16-pixel picture to that, each pixel
        # doubled. It draws a changed picture over the old one, not over its
        # background (no compositor here), so only opaque pixels are compared.
        doubled = [[p for p in line for _ in "xx"] for line in drawn(16) for _ in "xx"]
        for message in (WM_SETTINGCHANGE, WM_DISPLAYCHANGE, "TaskbarCreated"):
            with self.subTest(message=message):
                # As Windows tells of a change to 100 % on the window's monitor.
                agent.send(WM_DPICHANGED, 96 * 0x10001)
                self.assertTrayShows(agent, doubled, "tray-at-192-dpi-told-96", changed=True)
                # Then the size is taken again for the primary monitor: 200 %.
                agent.send(message)
                self.assertTrayShows(agent, drawn(32), f"tray-at-192-dpi-after-{message}",
                                     changed=True)


class Ending(AgentTestCase):

    def test_close_ends_with_0_removes_the_icon_and_writes_nothing(self):
        agent = self.new_agent(start=False)
        with open(agent.path("FolderList.txt"), "wb") as f:
            f.write(b"C:\\windows\r\nC:\\\r\n")
        before = folder_contents(agent.folder)
        agent.start()

        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()
        self.assertEqual(self.world.agent_windows(), [])
        self.assertEqual(folder_contents(agent.folder), before)

    def test_destroy_ends_with_0(self):
        agent = self.new_agent()
        self.assertEqual(agent.send(WM_DESTROY), 0)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()

    def test_close_then_destroy_ends_with_0(self):
        agent = self.new_agent()
        # Queued together, so that both are handled before the loop sees the quit message.
        agent.post_together(WM_CLOSE, WM_DESTROY)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()

    def test_exit_command_ends_with_0_only_when_it_comes_from_a_menu(self):
        agent = self.new_agent()
        # A control's notification (lParam set) and a number whose high word
        # is set are not the Exit command.
        self.assertEqual(agent.send(WM_COMMAND, IDM_EXIT, agent.hwnd), 0)
        self.assertEqual(agent.send(WM_COMMAND, 0x10000 | IDM_EXIT, 0), 0)
        time.sleep(0.5)
        self.assertTrue(agent.running)
        self.assertEqual(len(self.world.icons()), 1)

        self.assertEqual(agent.command(IDM_EXIT), 0)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()


class EndOfSession(AgentTestCase):

    def test_cancelled_end_of_session_changes_nothing(self):
        agent = self.new_agent()
        for lparam in (0, ENDSESSION_LOGOFF, ENDSESSION_CLOSEAPP):
            self.assertEqual(agent.send(WM_ENDSESSION, 0, lparam), 0)
        time.sleep(1)
        self.assertTrue(agent.running)
        self.assertEqual(self.world.icons(), [agent.icon])
        self.assertEqual(self.world.tip_at(*agent.icon), "Folderlane")

        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()

    def test_an_ending_session_ends_the_agent_with_0(self):
        # A log-off, and an update's Restart Manager close, which the session
        # outlives; a cancelled shutdown would otherwise leave an agent without
        # icon or list whose window keeps the openers from starting another.
        for lparam in (0, ENDSESSION_LOGOFF, ENDSESSION_CLOSEAPP):
            with self.subTest(lparam=lparam):
                agent = self.new_agent()
                self.assertEqual(agent.send(WM_QUERYENDSESSION, 0, lparam), 1)
                self.assertEqual(agent.send(WM_ENDSESSION, 1, lparam), 0)
                self.assertEqual(agent.wait_exit(5), 0)
                self.assertNoIcons()
