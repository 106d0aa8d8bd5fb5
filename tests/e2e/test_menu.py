"""The tray menu as a user meets it: real presses on the real icon, the
keyboard in the open menu, and what each chosen item does."""

import os
import re
import time

from harness import (IDCANCEL, IDNO, IDOK, IDYES, TRAY_ICON_ID, WM_COMMAND, WM_HANDOFF, WM_RBUTTONDOWN,
                     WM_TRAYNOTIFY, AgentTestCase, wait_for)

FIXED_ITEMS = ("Open List in Vantro", "Export List", "My Computer", "My Documents",
               "Refresh List", "About Nelvo", "Donate", "Exit")
SIGNATURE_LINE = b"{5B585BC9-5C80-4a86-8B15-9EAF2FF9ED3F}\r\n"
MY_COMPUTER = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"
MY_DOCUMENTS = "::{450D8FBA-AD25-11D0-98A8-0800361B1103}"
ROOT = "C:\\"
FOLDER_KINDS = ("folder", "directory")
WM_KEYDOWN, WM_CHAR, VK_ESCAPE, VK_DOWN = 0x100, 0x102, 0x1B, 0x28


def vtr_entries(data):
    """The folders of a Vantro list file, index 0 first."""
    assert data.startswith(SIGNATURE_LINE), data[:60]
    body = data[len(SIGNATURE_LINE):]
    assert body == b"" or body.endswith(b"\r\n"), body[-20:]
    return [line.decode("latin-1") for line in body.split(b"\r\n")[:-1]]


def box_text(world, window):
    """The whole text of a message box, its CR LF pairs kept."""
    _, children = world.texts(window.hwnd)
    return "\n".join(text for cls, _, text in children if cls == "Static" and text)


class MenuTestCase(AgentTestCase):
    """Drives the menu with the mouse and keyboard, as the user does.

    The pointer stays on the icon while keys are pressed: with no window
    manager the keys go to the window under the pointer, which is the menu.
    """

    def make_folder(self, agent, name):
        """A real folder beside the agent's; returns its Windows path."""
        path = os.path.join(agent.base, name)
        os.makedirs(path, exist_ok=True)
        return self.world.windows_path(path)

    def write_folder_list(self, agent, *folders):
        with open(agent.path("FolderList.txt"), "wb") as f:
            f.write(b"".join(self.world.encode(folder) + b"\r\n" for folder in folders))

    def send_folders(self, agent, *folders):
        """Another process sends each folder; the agent opens each one."""
        before = len(agent.records())
        for folder in folders:
            self.assertEqual(agent.copydata(folder), 1)
        self.new_records(agent, before, len(folders))

    def new_records(self, agent, before, count=1, timeout=20):
        """Waits for count more things opened than before; returns them all."""
        return wait_for(lambda: agent.records()[before:] if len(agent.records()) >= before + count
                        else None, timeout, what=f"{count} more thing(s) opened")

    def open_menu(self, agent):
        # A press right after a menu closed is sometimes lost: press again.
        for attempt in range(3):
            agent.right_click_icon()
            try:
                return agent.wait_for_menu(timeout=6 if attempt < 2 else 15)
            except AssertionError:
                if attempt == 2:
                    raise

    def choose(self, agent, *keys):
        """Opens the menu and picks an item with these keys, then Enter."""
        self.open_menu(agent)
        self.world.keys(*keys, "Return")
        wait_for(lambda: not [m for m in self.world.menu_windows() if m.pid == agent.pid],
                 10, what="the menu to close")

    def choose_folder(self, agent, position):
        """The position-th item from the top (1 is the topmost)."""
        self.choose(agent, *["Down"] * position)

    def choose_fixed(self, agent, text):
        """A fixed item, reached from the bottom of the menu."""
        self.choose(agent, *["Up"] * (len(FIXED_ITEMS) - FIXED_ITEMS.index(text)))

    def hand_off_from_menu(self, agent, *keys):
        """Chooses "Open List in Vantro" (by keys, or from the bottom);
        returns the list that the hand-off file held."""
        before = len(agent.records())
        if keys:
            self.choose(agent, *keys)
        else:
            self.choose_fixed(agent, "Open List in Vantro")
        records = self.new_records(agent, before)
        self.assertEqual(len(records), 1, records)
        kind, path = records[0]
        self.assertEqual(kind, "vtr")
        self.assertTrue(path.endswith("\\TmpTmpTmp.vtr"), path)
        return vtr_entries(agent.handoff_copy(before + 1))

    def assertOpenedFolder(self, records, folder):
        self.assertEqual(len(records), 1, records)
        self.assertIn(records[0][0], FOLDER_KINDS, records)
        self.assertEqual(records[0][1], folder)

    def assertNothingMoreOpened(self, agent, before, marker):
        """Sends a marker folder, which is opened at once, and checks that it
        alone was opened since before (a short grace for a late opener)."""
        self.send_folders(agent, marker)
        time.sleep(1)
        records = agent.records()[before:]
        self.assertEqual([argument for _, argument in records], [marker], records)


class MouseOnTheIcon(MenuTestCase):

    def test_right_press_shows_the_menu_left_press_opens_my_computer(self):
        agent = self.new_agent()
        x, y = agent.icon
        self.send_folders(agent, self.make_folder(agent, "Alpha"), self.make_folder(agent, "Bravo"))
        sent = agent.records()

        # The left button acts on the press, and never shows the menu.
        self.world.xdotool("mousemove", x, y, "mousedown", 1)
        try:
            records = self.new_records(agent, len(sent))
            self.assertEqual(records, [("shellview", MY_COMPUTER)])
            self.assertEqual(self.world.menu_windows(), [])
        finally:
            self.world.xdotool("mouseup", 1)
        time.sleep(0.5)
        self.assertEqual(self.world.menu_windows(), [], "a left click must not show the menu")

        # The right button shows the menu on the press; its release chooses nothing.
        self.world.xdotool("mousemove", x, y, "mousedown", 3)
        try:
            menu = agent.wait_for_menu(timeout=10)
            self.assertTrue(menu.visible)
            self.world.screenshot("tray-menu-open")
        finally:
            self.world.xdotool("mouseup", 3)
        time.sleep(0.5)
        self.assertEqual([m.hwnd for m in self.world.menu_windows()], [menu.hwnd])
        self.world.keys("Escape")
        wait_for(lambda: not self.world.menu_windows(), 5, what="the menu to close")
        self.assertEqual(agent.records(), sent + [("shellview", MY_COMPUTER)])
        self.assertTrue(agent.running)


class Folders(MenuTestCase):

    def test_chosen_folder_opens_and_shows_above_the_separator_next_time(self):
        agent = self.new_agent()
        a, b, p = (self.make_folder(agent, name) for name in ("Alpha", "Bravo", "Papa"))
        x, y = (self.make_folder(agent, name) for name in ("X-ray", "Yankee"))
        self.send_folders(agent, p, b, a)
        # Listed A, B, P, root: the menu shows root, P, B, A from the top.
        before = len(agent.records())
        self.choose_folder(agent, 2)
        self.assertOpenedFolder(self.new_records(agent, before), p)

        # The file's lines go on top, the chosen folder above them: P, Y, X, A, B, root;
        # so P is the item just above the separator.
        self.write_folder_list(agent, x, y)
        before = len(agent.records())
        self.choose(agent, *["Up"] * (len(FIXED_ITEMS) + 1))
        self.assertOpenedFolder(self.new_records(agent, before), p)

        # Six folders, the separator, then the first fixed item.
        self.assertEqual(self.hand_off_from_menu(agent, *["Down"] * 7), [p, y, x, a, b, ROOT])
        # Without a new choice the file's lines come back on top.
        self.assertEqual(self.hand_off_from_menu(agent), [y, x, p, a, b, ROOT])
        self.assertTrue(agent.running)

    def test_an_item_opens_the_folder_it_showed_whatever_came_in_meanwhile(self):
        agent = self.new_agent()
        a, b, late = (self.make_folder(agent, name) for name in ("Alpha", "Bravo", "Late"))
        self.send_folders(agent, b, a)
        # Root, B, A from the top; then a folder arrives and takes index 0.
        self.open_menu(agent)
        self.send_folders(agent, late)
        before = len(agent.records())
        self.world.keys("Down", "Down", "Return")
        self.assertOpenedFolder(self.new_records(agent, before), b)
        # What arrived stays listed, below the chosen folder.
        self.assertEqual(self.hand_off_from_menu(agent), [b, late, a, ROOT])

    def test_a_menus_late_end_leaves_the_folders_of_the_menu_after_it(self):
        agent = self.new_agent()
        a, b = self.make_folder(agent, "Alpha"), self.make_folder(agent, "Bravo")
        self.send_folders(agent, b, a)
        self.open_menu(agent)
        before = len(agent.records())
        # Queued together while the first menu is open: Escape ends it; a
        # right press opens a second menu, whose Down and Enter choose its top
        # item, the root (index 2), before the first menu's end message comes.
        # Behind them another process's command for that index, and a
        # hand-off whose load moves the root to the top of the list: the
        # second menu's own command still opens what it showed.
        agent.post_together((WM_KEYDOWN, VK_ESCAPE), (WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN),
                            (WM_KEYDOWN, VK_DOWN), (WM_CHAR, 13), (WM_COMMAND, 11), WM_HANDOFF)
        # The programs started may record in any order.
        records = self.new_records(agent, before, 3)
        self.assertEqual(sorted(kind if kind == "vtr" else path for kind, path in records), [ROOT, ROOT, "vtr"])

    def test_locked_folder_list_is_reported_and_the_menu_still_shows(self):
        agent = self.new_agent()
        p, x = self.make_folder(agent, "Papa"), self.make_folder(agent, "X-ray")
        self.write_folder_list(agent, x)
        self.send_folders(agent, p)
        holder = self.world.hold(agent.path("FolderList.txt"), "w", "r")

        agent.right_click_icon()
        box, text = self.world.message_box("Nelvo", timeout=15)
        self.assertEqual(text, "I/O error 32")
        self.assertEqual(box.pid, agent.pid)
        self.assertEqual([m for m in self.world.menu_windows() if m.pid == agent.pid], [],
                         "the menu comes after the error box")
        self.world.press(box, IDOK)
        agent.wait_for_menu(timeout=10)
        # The failed load left the list as it was: P (sent), root.
        self.world.keys(*["Up"] * len(FIXED_ITEMS), "Return")
        records = self.new_records(agent, 1)
        self.assertEqual([kind for kind, _ in records], ["vtr"])
        self.assertEqual(vtr_entries(agent.handoff_copy(2)), [p, ROOT])
        self.assertTrue(agent.running)

        # Once the file is free the load completes, the sent folder still on top.
        holder.kill()
        holder.wait(10)
        self.assertEqual(self.hand_off_from_menu(agent), [p, x, ROOT])
        self.assertTrue(agent.running)


class FixedItems(MenuTestCase):

    def test_fixed_items_in_order_below_the_folders(self):
        agent = self.new_agent()
        a = self.make_folder(agent, "Alpha")
        self.send_folders(agent, a)

        # One folder and the separator above the first fixed item.
        self.assertEqual(self.hand_off_from_menu(agent, "Down", "Down", "Down"), [a, ROOT])

        self.choose_fixed(agent, "Export List")
        dialog = wait_for(lambda: [w for w in self.world.windows("#32770|Save Folder List to File")
                                   if w.visible and w.pid == agent.pid], 20,
                          what="the save dialog")[0]
        self.world.press(dialog, IDCANCEL)
        wait_for(lambda: not self.world.windows("#32770|Save Folder List to File"), 10,
                 what="the save dialog to close")

        before = len(agent.records())
        self.choose_fixed(agent, "My Computer")
        self.assertEqual(self.new_records(agent, before), [("shellview", MY_COMPUTER)])

        before = len(agent.records())
        self.choose_fixed(agent, "My Documents")
        self.assertEqual(self.new_records(agent, before), [("shellview", MY_DOCUMENTS)])

        before = len(agent.records())
        self.choose_fixed(agent, "Donate")
        records = self.new_records(agent, before)
        self.assertEqual(len(records), 1, records)
        kind, address = records[0]
        self.assertIn(kind, ("http", "https"))
        self.assertRegex(address, r"^https?://[^\s/]+\.[^\s/]+")

        self.choose_fixed(agent, "Exit")
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()

    def test_about_shows_the_version_and_offers_the_read_me(self):
        agent = self.new_agent()
        self.choose_fixed(agent, "About Nelvo")
        box = wait_for(lambda: [w for w in self.world.windows("#32770|About Nelvo") if w.visible],
                       10, what="the About box")[0]
        self.assertEqual(box.pid, agent.pid)
        # About again (3) while its box is open shows no second box inside it.
        agent.post(WM_COMMAND, 3)
        time.sleep(1)
        self.assertEqual([w.hwnd for w in self.world.windows("#32770|About Nelvo") if w.visible], [box.hwnd])
        # Name, version and notice; the indented address; the indented question.
        self.assertRegex(box_text(self.world, box),
                         r"\AFolderlane V 5\.4\.0\.0 : \S.*\r\n\r\n {8}\S+\r\n\r\n"
                         r" {8}View Readme File\?\Z")
        self.world.press(box, IDYES)
        readme = self.world.windows_path(agent.path("Nelvoreadme.txt"))
        self.assertEqual(self.new_records(agent, 0), [("txt", readme)])

        self.choose_fixed(agent, "About Nelvo")
        box = wait_for(lambda: self.world.windows("#32770|About Nelvo"), 10, what="the About box")[0]
        self.world.press(box, IDNO)
        wait_for(lambda: not self.world.windows("#32770|About Nelvo"), 10, what="the box to close")
        self.assertNothingMoreOpened(agent, 1, self.make_folder(agent, "Marker"))
        self.assertTrue(agent.running)

    def test_refresh_no_moves_the_root_up_yes_resets_and_deletes_the_list_file(self):
        agent = self.new_agent()
        a, b, x = (self.make_folder(agent, name) for name in ("Alpha", "Bravo", "X-ray"))
        self.send_folders(agent, b, a)

        self.choose_fixed(agent, "Refresh List")
        box, text = self.world.message_box("Nelvo")
        self.assertEqual(text, "Refresh List?")
        self.world.press(box, IDNO)
        wait_for(lambda: not self.world.windows("#32770|Nelvo"), 10, what="the box to close")
        self.assertEqual(self.hand_off_from_menu(agent), [ROOT, a, b])

        self.write_folder_list(agent, x)
        self.choose_fixed(agent, "Refresh List")
        box, text = self.world.message_box("Nelvo")
        self.assertEqual(text, "Refresh List?")
        self.world.press(box, IDYES)
        wait_for(lambda: not os.path.exists(agent.path("FolderList.txt")), 10,
                 what="FolderList.txt to be deleted")
        self.assertEqual(self.hand_off_from_menu(agent), [ROOT])
        self.assertTrue(agent.running)
