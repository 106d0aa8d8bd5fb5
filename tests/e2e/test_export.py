"""Export List: the real Save As dialog, driven with the mouse and keyboard as
a user drives it, and the bytes that the export leaves on disk."""

import itertools
import os
import shutil
import subprocess
import time

from harness import (FAULT_CHANNELS, IDCANCEL, IDNO, IDOK, WM_CLOSE, WM_COMMAND, AgentTestCase,
                     Window, wait_for)

IDM_ABOUT = 3
IDM_EXPORT = 7
TITLE = "Save Folder List to File"
SIGNATURE = b"{5B585BC9-5C80-4a86-8B15-9EAF2FF9ED3F}"
# Control ids of the platform's Save As dialog.
ID_FOLDER_COMBO = "1137"
ID_TYPE_COMBO = "1136"
ID_NAME = "1148"
_outputs = itertools.count(1)


def vantro_bytes(entries, encode=lambda entry: entry.encode("cp1252")):
    """The Vantro list file of a list whose index 0 comes first."""
    return b"".join(line + b"\r\n" for line in [SIGNATURE] + [encode(e) for e in entries])


def list_bytes(entries):
    """The list's own file format: least recently used first."""
    return b"".join(e.encode("cp1252") + b"\r\n" for e in reversed(entries))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class ExportTestCase(AgentTestCase):
    """An agent whose list holds two folders of its own beside the seed."""

    def start_agent(self, watch_faults=False):
        agent = self.new_agent(start=False)
        if watch_faults:
            agent.debug = FAULT_CHANNELS
        # Short, since every name is typed in full.
        self.out = os.path.join(self.world.prefix, "drive_c", "x", str(next(_outputs)))
        os.makedirs(self.out)
        self.addCleanup(shutil.rmtree, self.out, True)
        folders = []
        for name in ("Older", "Newer"):
            path = os.path.join(agent.base, "folders", name)
            os.makedirs(path)
            folders.append(self.world.windows_path(path))
        # Merged at every menu display, least recently used first.
        with open(agent.path("FolderList.txt"), "wb") as f:
            f.write(b"".join(p.encode() + b"\r\n" for p in folders))
        agent.start()
        # What the list holds once the menu has been shown: index 0 first.
        self.entries = [folders[1], folders[0], "C:\\"]
        return agent

    def win(self, name):
        """The Windows path of a name in the test's output folder."""
        return self.world.windows_path(os.path.join(self.out, name))

    # -- the dialog --------------------------------------------------------

    def agent_dialogs(self, agent):
        return [w for w in self.world.windows("#32770|") if w.pid == agent.pid and w.visible]

    def open_dialog(self, agent):
        """Right-click on the icon, then "Export List" by keyboard: counted
        from the bottom of the menu, so the number of folders above does not matter."""
        agent.right_click_icon()
        agent.wait_for_menu()
        # Exit, Donate, About Nelvo, Refresh List, My Documents, My Computer, Export List.
        self.world.xdotool("key", "--delay", "80", *["Up"] * 7, "Return")
        return self.wait_dialog(agent)

    def wait_dialog(self, agent):
        """The Save As dialog once it is ready, with the pointer over its name
        box: without a window manager the keys go to the window under the pointer."""
        dialog = wait_for(lambda: [w for w in self.agent_dialogs(agent) if w.text == TITLE
                                   and self.controls(w.hwnd).get(ID_NAME)], 10,
                          what="the Save As dialog")[0]
        left, top, right, bottom = self.name_box(dialog).rect
        dialog.name_box = ((left + right) // 2, (top + bottom) // 2)
        self.world.xdotool("mousemove", *dialog.name_box)
        return dialog

    def controls(self, dialog):
        """{control id: text} of the dialog's children."""
        _, children = self.world.texts(dialog)
        return {child[1]: child[2] for child in children if len(child) == 3}

    def name_box(self, dialog):
        """The file name box: the Edit child, with its place on the screen."""
        lines = self.world.probe("tree").splitlines()
        start = next(i for i, line in enumerate(lines) if line.startswith(f"{dialog.hwnd} "))
        for line in lines[start + 1:]:
            if not line.startswith("  "):
                break
            child = Window(line)
            if child.cls == "Edit" and child.visible:
                return child
        raise AssertionError("the dialog has no file name box")

    def type_name(self, dialog, text):
        """Clicks into the file name box, selects what is there and types over it."""
        self.world.click(*dialog.name_box)
        time.sleep(0.2)
        self.world.keys("ctrl+a")
        self.world.type_text(text)

    def wait_closed(self, dialog, timeout=10):
        wait_for(lambda: not [w for w in self.world.windows("#32770|")
                              if w.hwnd == dialog.hwnd and w.visible], timeout,
                 what="the dialog to close")

    def overwrite_prompt(self, agent, dialog):
        """The platform's question whether to replace an existing file."""
        def prompt():
            for window in self.agent_dialogs(agent):
                if window.hwnd != dialog.hwnd:
                    _, children = self.world.texts(window.hwnd)
                    text = " ".join(c[2] for c in children if len(c) == 3 and c[0] == "Static")
                    if "exists" in text:
                        return window
            return None
        return wait_for(prompt, 10, what="the overwrite prompt")

    def export(self, agent, typed):
        """One whole export from the menu: the name typed, then Enter."""
        dialog = self.open_dialog(agent)
        self.type_name(dialog, typed)
        self.world.keys("Return")
        self.wait_closed(dialog)

    def wait_file(self, path, expected):
        """The file once it holds the expected bytes (the agent writes right
        after the dialog closes); else what it holds."""
        def content():
            return os.path.isfile(path) and read_bytes(path) == expected
        try:
            wait_for(content, 10, what=f"{path}")
        except AssertionError:
            pass
        self.assertTrue(os.path.isfile(path), f"no file {path}")
        self.assertEqual(read_bytes(path), expected, path)

    def assertNothingShown(self, agent):
        time.sleep(1)
        self.assertEqual(self.agent_dialogs(agent), [])

    def finish(self, agent):
        """The agent is alive and answers, then ends as usual."""
        self.assertTrue(agent.running)
        self.assertEqual(agent.copydata(self.entries[0]), 1)
        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)
        if agent.debug:
            self.assertEqual(agent.hidden_faults(), ([], []), "Wine saw faults or a damaged heap")


class Dialog(ExportTestCase):

    def test_title_defaults_types_and_place_and_cancel(self):
        agent = self.start_agent()
        dialog = self.open_dialog(agent)
        self.assertEqual(dialog.text, TITLE)
        controls = self.controls(dialog.hwnd)
        self.assertEqual(controls[ID_NAME], "FolderExport")
        self.assertEqual(controls[ID_TYPE_COMBO], "Vantro files (*.vtr)")
        self.assertEqual(controls[ID_FOLDER_COMBO], "Documents")
        # The manifest's common controls 6 are what the dialog runs with: the
        # side-by-side copy, not the system folder's version 5.
        comctl = [m for m in self.world.probe("modules", agent.pid).splitlines()
                  if m.lower().endswith("\\comctl32.dll")]
        self.assertEqual(len(comctl), 1, comctl)
        self.assertIn("common-controls_6595b64144ccf1df_6.", comctl[0].lower())

        # Centred left to right, a third of the free height from the top of the one monitor.
        width, height = map(int, subprocess.run(
            ["xdotool", "getdisplaygeometry"], env=self.world.env(), capture_output=True,
            text=True, check=True).stdout.split())
        def placed():
            # The dialog shows before the agent hears that it is ready and
            # moves it: read its place again until it stops at the expected one.
            rect = [w for w in self.agent_dialogs(agent) if w.hwnd == dialog.hwnd][0].rect
            left, top, right, bottom = rect
            expected = ((width - (right - left)) // 2, (height - (bottom - top)) // 3)
            return rect if (left, top) == expected else None
        try:
            wait_for(placed, 5, what="the dialog in its place")
        except AssertionError:
            pass
        left, top, right, bottom = rect = [w for w in self.agent_dialogs(agent) if w.hwnd == dialog.hwnd][0].rect
        self.assertEqual((left, top), ((width - (right - left)) // 2, (height - (bottom - top)) // 3),
                         f"dialog at {rect} on a {width}x{height} screen")

        # The other two file types, in order, by keyboard from the name box.
        self.type_name(dialog, "ignored")
        self.world.keys("Tab", "Down")
        types = [self.controls(dialog.hwnd)[ID_TYPE_COMBO]]
        self.world.keys("Down")
        types.append(self.controls(dialog.hwnd)[ID_TYPE_COMBO])
        self.assertEqual(types, ["VantroSA files (*.vtx)", "Text files (*.txt)"])

        # Escape cancels: nothing written, nothing shown.
        before = sorted(os.listdir(self.world.documents))
        self.world.keys("Escape")
        self.wait_closed(dialog)
        self.assertNothingShown(agent)
        self.assertEqual(sorted(os.listdir(self.world.documents)), before)
        self.assertEqual(os.listdir(self.out), [])

        # The next export starts from the same defaults, whatever the last one chose.
        dialog = self.open_dialog(agent)
        controls = self.controls(dialog.hwnd)
        self.assertEqual((controls[ID_NAME], controls[ID_TYPE_COMBO], controls[ID_FOLDER_COMBO]),
                         ("FolderExport", "Vantro files (*.vtr)", "Documents"))
        self.world.keys("Escape")
        self.wait_closed(dialog)

        # What is posted to the dialog's owner reaches it, as the main loop
        # takes every message of the thread. A task killer's close is left to
        # the agent's own: the agent ends as closed.
        owners = lambda: [w for w in self.world.windows("NelvoDialogOwner|") if w.pid == agent.pid]
        self.assertEqual(len(owners()), 1)
        self.world.probe("post", owners()[0].hwnd, WM_CLOSE, 0, 0)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNoIcons()

    def test_tray_and_other_processes_are_served_while_the_dialog_is_open(self):
        agent = self.start_agent()
        late = os.path.join(agent.base, "folders", "Late")
        os.makedirs(late)
        late = self.world.windows_path(late)
        dialog = self.open_dialog(agent)

        # Another process's folder goes to the top of the list meanwhile.
        self.assertEqual(agent.copydata(late), 1)
        # The icon still opens the menu.
        agent.right_click_icon()
        agent.wait_for_menu()
        self.world.keys("Escape")
        wait_for(lambda: not self.world.menu_windows(), 5, what="the menu to close")

        self.type_name(dialog, self.win("during.vtr"))
        self.world.keys("Return")
        self.wait_closed(dialog)
        # The list is read after the dialog closed: the folder is in the file, on top.
        self.wait_file(os.path.join(self.out, "during.vtr"), vantro_bytes([late] + self.entries))
        self.finish(agent)

    def test_a_second_export_and_a_second_cancel_while_a_box_waits_inside_the_dialog(self):
        agent = self.start_agent(watch_faults=True)
        dialog = self.open_dialog(agent)
        # Another Export shows the open dialog rather than a second one inside it.
        self.assertEqual(agent.command(IDM_EXPORT), 0)
        self.assertEqual([w.hwnd for w in self.agent_dialogs(agent) if w.text == TITLE], [dialog.hwnd])
        # About's box runs its loop inside the dialog's, and that loop delivers
        # both Cancels queued for the dialog, also the one after it ended.
        agent.post(WM_COMMAND, IDM_ABOUT)
        box, _ = self.world.message_box("About Nelvo")
        self.world.probe("post", dialog.hwnd, WM_COMMAND, IDCANCEL, 0, WM_COMMAND, IDCANCEL, 0)
        self.wait_closed(dialog)
        time.sleep(1)
        self.world.press(box, IDNO)
        self.assertNothingShown(agent)
        self.assertEqual(os.listdir(self.out), [])
        self.finish(agent)

    def test_close_while_the_dialog_is_open_writes_nothing_and_ends_with_0(self):
        agent = self.start_agent()
        dialog = self.open_dialog(agent)
        self.type_name(dialog, self.win("closing.vtr"))
        self.assertEqual(agent.send(WM_CLOSE), 0)
        # If the dialog outlived the close, the user confirms the name.
        time.sleep(1)
        if [w for w in self.agent_dialogs(agent) if w.hwnd == dialog.hwnd]:
            self.type_name(dialog, self.win("closing.vtr"))
            self.world.keys("Return")
        self.assertEqual(agent.wait_exit(), 0)
        self.assertEqual(os.listdir(self.out), [])
        self.assertNoIcons()


class Formats(ExportTestCase):

    def test_accepting_the_defaults_writes_FolderExport_vtr_in_documents(self):
        target = os.path.join(self.world.documents, "FolderExport.vtr")
        if os.path.exists(target):
            os.remove(target)
        self.addCleanup(lambda: os.path.exists(target) and os.remove(target))
        agent = self.start_agent()
        dialog = self.open_dialog(agent)
        self.world.keys("Return")
        self.wait_closed(dialog)
        self.wait_file(target, vantro_bytes(self.entries))
        self.finish(agent)

    def test_vtr_in_any_letter_case_gives_the_vantro_format(self):
        agent = self.start_agent()
        for name in ("upper.VTR", "mixed.Vtr"):
            self.export(agent, self.win(name))
            self.wait_file(os.path.join(self.out, name), vantro_bytes(self.entries))
        self.finish(agent)

    def test_every_other_name_gives_the_list_format(self):
        agent = self.start_agent()
        os.makedirs(os.path.join(self.out, "dotted.vtr"))
        cases = [
            ("list.txt", "list.txt"),
            ("list.vtx", "list.vtx"),
            # Nothing after the dot: the dialog adds no extension, the file
            # system drops the dot.
            ("bare.", "bare"),
            # The only ".vtr" is a folder's.
            ("dotted.vtr\\inner.", os.path.join("dotted.vtr", "inner")),
        ]
        for typed, written in cases:
            self.export(agent, self.win(typed))
            self.wait_file(os.path.join(self.out, written), list_bytes(self.entries))
        self.finish(agent)

    def test_a_name_without_extension_gets_the_chosen_types_extension(self):
        agent = self.start_agent()
        # With the first type the dialog adds ".vtr": the Vantro format.
        self.export(agent, self.win("plain"))
        self.wait_file(os.path.join(self.out, "plain.vtr"), vantro_bytes(self.entries))

        # With "Text files (*.txt)" chosen it adds ".txt": the list format.
        dialog = self.open_dialog(agent)
        self.type_name(dialog, self.win("typed"))
        self.world.keys("Tab", "Down", "Down")
        self.assertEqual(self.controls(dialog.hwnd)[ID_TYPE_COMBO], "Text files (*.txt)")
        self.world.keys("Return")
        self.wait_closed(dialog)
        self.wait_file(os.path.join(self.out, "typed.txt"), list_bytes(self.entries))
        self.assertEqual(sorted(os.listdir(self.out)), ["plain.vtr", "typed.txt"])
        self.finish(agent)

    def test_a_second_export_with_no_change_between_writes_too(self):
        agent = self.start_agent()
        self.export(agent, self.win("first.txt"))
        self.wait_file(os.path.join(self.out, "first.txt"), list_bytes(self.entries))
        # No menu display in between, so the list is unchanged since it was saved.
        agent.post(WM_COMMAND, IDM_EXPORT, 0)
        dialog = self.wait_dialog(agent)
        self.type_name(dialog, self.win("second.txt"))
        self.world.keys("Return")
        self.wait_closed(dialog)
        self.wait_file(os.path.join(self.out, "second.txt"), list_bytes(self.entries))
        self.finish(agent)


class Overwriting(ExportTestCase):

    def test_refusing_the_prompt_returns_to_the_dialog_and_confirming_replaces(self):
        agent = self.start_agent()
        kept = os.path.join(self.out, "kept.txt")
        old = b"old content that is longer than the new one, to see it truncated\r\n" * 20
        with open(kept, "wb") as f:
            f.write(old)
        dialog = self.open_dialog(agent)
        self.type_name(dialog, self.win("kept.txt"))
        self.world.keys("Return")
        prompt = self.overwrite_prompt(agent, dialog)
        self.world.keys("n")
        wait_for(lambda: prompt.hwnd not in [w.hwnd for w in self.agent_dialogs(agent)], 5,
                 what="the prompt to go")
        self.assertIn(dialog.hwnd, [w.hwnd for w in self.agent_dialogs(agent)],
                      "No must return to the dialog")
        time.sleep(0.5)
        self.assertEqual(read_bytes(kept), old)

        self.world.keys("Return")
        self.overwrite_prompt(agent, dialog)
        self.world.keys("y")
        self.wait_closed(dialog)
        self.wait_file(kept, list_bytes(self.entries))
        # The new content is in place before the old one, kept aside, is removed.
        wait_for(lambda: os.listdir(self.out) == ["kept.txt"], 5, what="nothing beside it")
        self.finish(agent)

    def test_a_target_that_cannot_be_written_shows_the_writers_message_and_stays(self):
        agent = self.start_agent()
        # A folder stands where the file should go; the name typed has no
        # extension, so the dialog takes it as a file and adds ".vtr".
        os.makedirs(os.path.join(self.out, "blocked.vtr"))
        old = b"exported last week\r\n" * 300
        for name in ("held.vtr", "held.txt", "readonly.vtr", "readonly.txt"):
            with open(os.path.join(self.out, name), "wb") as f:
                f.write(old)
            os.chmod(f.name, 0o444 if name.startswith("readonly") else 0o644)
        # A folder of 249 characters, no room for an 8.3 name beside the file
        # within MAX_PATH: the save takes the long form of the path.
        deep = "/".join(["d" * 120, "e" * (249 - 3 - 121)])
        drive = self.world.full_drive(self, {"kept.vtr": old, "kept.txt": old, deep + "/kept.vtr": old})
        cases = [
            (self.win("blocked"), "File access denied"),
            # Held open by another process that shares nothing: a sharing violation.
            (self.win("held.vtr"), "I/O error 32"),
            (self.win("held.txt"), f"Cannot create file {self.win('held.txt')}"),
            (self.win("readonly.vtr"), "File access denied"),
            (self.win("readonly.txt"), f"Cannot create file {self.win('readonly.txt')}"),
            # No room left on the drive.
            ("D:\\kept.vtr", "I/O error 112"),
            ("D:\\kept.txt", "Stream write error"),
            ("D:\\" + deep.replace("/", "\\") + "\\kept.vtr", "I/O error 112"),
        ]
        self.world.hold(self.win("held.vtr"), "rw", "")
        self.world.hold(self.win("held.txt"), "rw", "")
        for typed, message in cases:
            dialog = self.open_dialog(agent)
            self.type_name(dialog, typed)
            self.world.keys("Return")
            self.overwrite_prompt(agent, dialog)
            self.world.keys("y")
            box, text = self.world.message_box("Nelvo")
            self.assertEqual(text, message, typed)
            self.world.press(box, IDOK)
            wait_for(lambda: not self.agent_dialogs(agent), 10, what="the box to close")
            self.assertTrue(agent.running, typed)
            self.assertEqual(agent.copydata(self.entries[0]), 1, typed)
        self.assertTrue(os.path.isdir(os.path.join(self.out, "blocked.vtr")))
        # The old files as they were, and nothing beside them.
        self.assertEqual(len(os.listdir(self.out)) + len(os.listdir(drive)), 5 + 4)
        for name in ("held.vtr", "held.txt", "readonly.vtr", "readonly.txt"):
            self.assertEqual(read_bytes(os.path.join(self.out, name)), old, name)
        for name in ("kept.vtr", "kept.txt", deep + "/kept.vtr"):
            self.assertEqual(read_bytes(os.path.join(drive, name)), old, name)
        self.assertEqual(os.listdir(os.path.join(drive, deep)), ["kept.vtr"])
        self.finish(agent)
