"""What other programs do with the agent: send it folders (the shipped
sender, or the probe for raw payloads) and ask it to hand its list to
Vantro. The list is read back from the hand-off file the recorder keeps."""

import os
import re
import shutil
import subprocess
import time

from harness import IDOK, WM_CLOSE, WM_HANDOFF, wait_for
from test_export import ExportTestCase, vantro_bytes
from test_menu import FIXED_ITEMS, FOLDER_KINDS, ROOT, SIGNATURE_LINE, MenuTestCase, vtr_entries

HANDOFF_PATH = re.compile(r"\AC:\\users\\[^\\]+\\Documents\\TmpTmpTmp\.vtr\Z")
# Where the shell finds the documents folder: (key, type of its value).
EXPLORER = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
SHELL_FOLDERS = [(EXPLORER + "User Shell Folders", "REG_EXPAND_SZ"), (EXPLORER + "Shell Folders", "REG_SZ")]


class IntakeTestCase(MenuTestCase):

    def move_documents(self, folder):
        """The shell's documents folder is FOLDER until the test ends."""
        for key, kind in SHELL_FOLDERS:
            self.addCleanup(self.world.reg, "add", key, "/v", "Personal", "/t", kind,
                            "/d", self.world.registry(key)["Personal"], "/f")
            self.world.reg("add", key, "/v", "Personal", "/t", kind, "/d", folder, "/f")

    def shipped(self, program, *args, cwd=None, wait=True, beside=None):
        """Runs a shipped program from the folder of the agent beside (its
        copy), else from C:\\e2e (no agent beside it), as another program
        would; without wait, returns the running process."""
        folder = beside.folder if beside else os.path.join(self.world.prefix, "drive_c", "e2e")
        target = os.path.join(folder, program)
        if not os.path.isfile(target):
            shutil.copy(os.path.join(self.world.build, program), target)
        command = ["wine", self.world.windows_path(target), *args]
        options = dict(env=self.world.env(), stdin=subprocess.DEVNULL, cwd=cwd)
        if not wait:
            return subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    **options)
        return subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=90,
                              **options)

    def sender(self, *args, cwd=None):
        """The sender of the copy of the test's newest agent."""
        return self.shipped("folderlane-send.exe", *args, cwd=cwd, beside=(self._agents or [None])[-1])

    def send_with_sender(self, agent, folder):
        before = len(agent.records())
        run = self.sender(folder)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertOpenedFolder(self.new_records(agent, before), folder)

    def hand_off(self, agent):
        """Asks for the hand-off with the sender; returns (path, listed folders)."""
        before = len(agent.records())
        run = self.sender("--handoff")
        self.assertEqual(run.returncode, 0, run.stderr)
        records = self.new_records(agent, before)
        self.assertEqual(len(records), 1, records)
        kind, path = records[0]
        self.assertEqual(kind, "vtr")
        self.assertRegex(path, HANDOFF_PATH)
        return path, vtr_entries(agent.handoff_copy(before + 1))

    def listed(self, agent):
        return self.hand_off(agent)[1]

    def listed_while_menu_open(self, agent, act):
        """Opens the menu, lets act() send to the agent meanwhile, then chooses
        the menu's hand-off, which writes the list without reloading it: entries
        that name no folder are still there. Returns the listed folders."""
        before = len(agent.records())
        self.open_menu(agent)
        act()
        self.world.keys(*["Up"] * len(FIXED_ITEMS), "Return")
        number = wait_for(lambda: [n for n, (kind, _) in enumerate(agent.records(), 1)
                                   if kind == "vtr" and n > before], 20, what="the hand-off")[0]
        return vtr_entries(agent.handoff_copy(number))

    def assertShortNameOf(self, path, folder):
        """path names folder by its short name: the same parent, then a
        printable ASCII name with a '~' and without '?'."""
        parent, _, name = folder.rpartition("\\")
        self.assertRegex(path, r"\A" + re.escape(parent) + r"\\[!-~]*~[!-~]*\Z")
        self.assertNotIn("?", path)

    def copydata_opens(self, agent, payload, folder, dwdata=0):
        before = len(agent.records())
        self.assertEqual(agent.copydata(payload, dwdata), 1)
        self.assertOpenedFolder(self.new_records(agent, before), folder)


class HandOff(IntakeTestCase):

    def test_first_hand_off_lists_the_root_alone_and_each_one_rewrites_the_file(self):
        agent = self.new_agent()
        path, _ = self.hand_off(agent)
        self.assertEqual(agent.handoff_copy(1), SIGNATURE_LINE + b"C:\\\r\n")

        folder = self.make_folder(agent, "a-folder-with-a-rather-long-name")
        self.send_with_sender(agent, folder)
        self.assertEqual(self.hand_off(agent), (path, [folder, ROOT]))

        # A folder that has gone is pruned: the file is shorter, and no old bytes stay.
        os.rmdir(self.world.host_path(folder))
        self.assertEqual(self.hand_off(agent), (path, [ROOT]))
        with open(self.world.host_path(path), "rb") as f:
            self.assertEqual(f.read(), SIGNATURE_LINE + b"C:\\\r\n")
        self.assertTrue(agent.running)

    def test_locked_folder_list_is_reported_and_the_hand_off_goes_ahead(self):
        agent = self.new_agent()
        p, x = self.make_folder(agent, "Papa"), self.make_folder(agent, "X-ray")
        self.write_folder_list(agent, x)
        self.send_with_sender(agent, p)
        holder = self.world.hold(agent.path("FolderList.txt"), "w", "r")

        run = self.sender("--handoff")
        self.assertEqual(run.returncode, 0, run.stderr)
        box, text = self.world.message_box("Nelvo", timeout=15)
        self.assertEqual(text, "I/O error 32")
        self.assertEqual(box.pid, agent.pid)
        self.assertEqual(len(agent.records()), 1, "the hand-off comes after the error box")
        self.world.press(box, IDOK)
        records = self.new_records(agent, 1)
        self.assertEqual([kind for kind, _ in records], ["vtr"])
        # The failed load merged nothing and kept the sent folder pending.
        self.assertEqual(vtr_entries(agent.handoff_copy(2)), [p, ROOT])

        holder.kill()
        holder.wait(10)
        self.assertEqual(self.listed(agent), [p, x, ROOT])
        self.assertTrue(agent.running)

    def test_a_reader_that_lets_the_file_be_written_gets_the_next_list_in_place(self):
        agent = self.new_agent()
        path, _ = self.hand_off(agent)
        # Vantro still reading the last list, sharing reading and writing.
        self.world.hold(path, "r", "rw")
        folder = self.make_folder(agent, "Next")
        self.send_with_sender(agent, folder)
        self.assertEqual(self.hand_off(agent), (path, [folder, ROOT]))
        self.assertEqual(os.listdir(self.world.host_path(path.rpartition("\\")[0])), ["TmpTmpTmp.vtr"])
        # A shorter list in place keeps nothing of the longer one's end.
        os.rmdir(self.world.host_path(folder))
        self.assertEqual(self.hand_off(agent), (path, [ROOT]))
        with open(self.world.host_path(path), "rb") as f:
            self.assertEqual(f.read(), SIGNATURE_LINE + b"C:\\\r\n")
        self.assertTrue(agent.running)

    def test_a_documents_folder_whose_hand_off_file_is_past_259_characters(self):
        agent = self.new_agent(start=False)
        # The folder fits the shell's answer; the file's path in it does not.
        documents = self.make_folder(agent, "d" * (250 - len(self.world.windows_path(agent.base)) - 1))
        self.move_documents(documents)
        listed = self.make_folder(agent, "Listed")
        self.write_folder_list(agent, listed)
        agent.start()
        agent.post(WM_HANDOFF)
        [(kind, opened)] = self.new_records(agent, 0)
        # The shell is given the file's short name, within its limit.
        self.assertEqual(kind, "vtr")
        self.assertLess(len(opened), 260, opened)
        written = SIGNATURE_LINE + b"".join(self.world.encode(f) + b"\r\n" for f in (listed, ROOT))
        self.assertEqual(agent.handoff_copy(1), written)
        with open(self.world.host_path(documents + "\\TmpTmpTmp.vtr"), "rb") as f:
            self.assertEqual(f.read(), written)

    def test_without_a_vtr_program_the_box_names_the_file_and_the_agent_runs_on(self):
        agent = self.new_agent()
        path, _ = self.hand_off(agent)
        saved = self.world.windows_path(os.path.join(agent.base, "vtr-association.reg"))

        self.world.reg("export", "HKEY_CLASSES_ROOT\\.vtr", saved, "/y")
        self.addCleanup(self.world.reg, "import", saved)
        self.world.reg("delete", "HKEY_CLASSES_ROOT\\.vtr", "/f")
        os.remove(self.world.host_path(path))

        run = self.sender("--handoff")
        self.assertEqual(run.returncode, 0, run.stderr)
        box, text = self.world.message_box("Nelvo", timeout=15)
        self.assertEqual(text, "No Program Associated with " + path)
        self.assertEqual(box.pid, agent.pid)
        with open(self.world.host_path(path), "rb") as f:
            self.assertEqual(f.read(), SIGNATURE_LINE + b"C:\\\r\n", "the file is written all the same")
        self.world.press(box, IDOK)
        wait_for(lambda: not self.world.windows("#32770|Nelvo"), 10, what="the box to close")
        self.assertNothingMoreOpened(agent, 1, self.make_folder(agent, "Marker"))
        self.assertTrue(agent.running)

        self.world.reg("import", saved)
        self.assertEqual(self.hand_off(agent)[0], path)

    def hand_off_on_a_full_drive(self, old, prepare=lambda agent: None):
        """A hand-off into documents on a full drive D: whose hand-off file
        holds old; returns the box's text and the file's bytes after it.
        Nothing is opened and nothing else is left on the drive."""
        drive = self.world.full_drive(self, {"TmpTmpTmp.vtr": old})
        self.move_documents("D:\\")
        agent = self.new_agent()
        prepare(agent)
        agent.post(WM_HANDOFF)
        box, text = self.world.message_box("Nelvo", timeout=15)
        self.world.press(box, IDOK)
        self.assertEqual(sorted(os.listdir(drive)), ["TmpTmpTmp.vtr", "filler"])
        self.assertNothingMoreOpened(agent, 0, self.make_folder(agent, "Marker"))
        with open(os.path.join(drive, "TmpTmpTmp.vtr"), "rb") as f:
            return text, f.read()

    def test_a_hand_off_on_a_full_drive_keeps_the_old_file_and_opens_nothing(self):
        old = SIGNATURE_LINE + b"C:\\Old\r\n" * 300
        self.assertEqual(self.hand_off_on_a_full_drive(old), ("I/O error 112", old))

    def test_a_reader_that_lets_the_file_be_written_on_a_full_drive_gets_the_new_list_over_the_old(self):
        # Sixteen folders of 255 characters: the new list needs a page more
        # than the old file holds, and the write fails part-way over it.
        folders = []

        def long_folders_and_a_reader(agent):
            deep = "x" * (255 - len(self.world.windows_path(agent.base)) - 4)
            folders.extend(self.make_folder(agent, os.path.join(deep, f"{i:02d}")) for i in range(16))
            self.write_folder_list(agent, *folders)
            self.world.hold("D:\\TmpTmpTmp.vtr", "r", "rw")

        old = SIGNATURE_LINE + b"C:\\Old\r\n" * 4
        text, written = self.hand_off_on_a_full_drive(old, long_folders_and_a_reader)
        # Wine's write takes the page there is and reports nothing: a short
        # write (Windows fails the write: "I/O error 112").
        self.assertEqual(text, "Disk full")
        self.assertGreaterEqual(len(written), len(old))
        self.assertTrue(written.startswith(SIGNATURE_LINE + self.world.encode(folders[-1])), written[:80])


class Payloads(IntakeTestCase):

    def test_terminator_and_zero_byte_end_the_path(self):
        agent = self.new_agent()
        work, middle = self.make_folder(agent, "Work"), self.make_folder(agent, "Middle")
        self.copydata_opens(agent, work.encode(), work)
        self.copydata_opens(agent, work.encode() + b"\0", work, dwdata=0x12345678)
        self.copydata_opens(agent, middle.encode() + b"\0" + work.encode() + b"\\rest", middle,
                            dwdata=0xFFFFFFFF)
        self.assertEqual(self.listed(agent), [middle, work, ROOT])

    def test_letter_case_of_a_listed_folder(self):
        agent = self.new_agent()
        delta, echo = self.make_folder(agent, "Delta"), self.make_folder(agent, "Echo")
        self.copydata_opens(agent, delta, delta)
        # Already on top: the stored spelling stays, and it is what is opened.
        self.copydata_opens(agent, delta.upper(), delta)
        self.copydata_opens(agent, echo, echo)
        # Lower in the list: moved to the top in the spelling just received.
        self.copydata_opens(agent, delta.lower(), delta.lower())
        self.assertEqual(self.listed(agent), [delta.lower(), echo, ROOT])

    def test_the_sender_is_answered_before_a_slow_open_ends(self):
        # A file type opened through DDE: the shell starts the program and
        # waits until it is ready, here until it ends 4 s later.
        for key, value in ((r"HKCR\.e2eslow", "e2e.slowfile"),
                           (r"HKCR\e2e.slowfile\shell\open\command", r'C:\e2e\recorder.exe /kind:slow "%1"'),
                           (r"HKCR\e2e.slowfile\shell\open\ddeexec", "[open]")):
            self.world.reg("add", key, "/ve", "/d", value, "/f")
        agent = self.new_agent()
        slow = os.path.join(agent.base, "list.e2eslow")
        open(slow, "wb").close()
        slow = self.world.windows_path(slow)
        start = time.monotonic()
        self.assertEqual(agent.copydata(slow), 1)
        answered = time.monotonic() - start
        wait_for(lambda: [r for r in agent.records() if r[0] == "slow"], 10, what="the slow open")
        self.assertLess(answered, 2, "the sender waited for the open")
        self.assertTrue(agent.running)

    def test_payload_lengths(self):
        agent = self.new_agent()
        echo = self.make_folder(agent, "Echo")
        path_260 = "C:\\" + "x" * 257

        def send():
            for payload in (path_260.encode(),
                            b"C:\\" + b"y" * 258,
                            b"C:\\" + b"z" * 258 + b"\0",
                            echo.encode() + b"\0" + b"q" * 300,
                            b""):
                self.assertEqual(agent.copydata(payload), 1, payload[:20])

        self.assertEqual(self.listed_while_menu_open(agent, send), ["", echo, path_260, ROOT])
        self.assertTrue([r for r in agent.records() if r[0] in FOLDER_KINDS and r[1] == echo],
                        agent.records())

        # The next load keeps only existing folders.
        self.assertEqual(self.listed(agent), [echo, ROOT])
        self.assertTrue(agent.running)


class FolderListFile(IntakeTestCase):

    def test_list_file_and_sent_folder_merge_in_order_and_trim_to_16(self):
        agent = self.new_agent()
        a, b, p, x, y = (self.make_folder(agent, name)
                         for name in ("Alpha", "Bravo", "Papa", "X-ray", "Yankee"))
        for folder in (b, a, p):
            self.send_with_sender(agent, folder)
        self.write_folder_list(agent, x, y)
        self.assertEqual(self.listed(agent), [p, y, x, a, b, ROOT])
        self.assertEqual(self.listed(agent), [y, x, p, a, b, ROOT])

        many = [self.make_folder(agent, f"Folder{n:02}") for n in range(1, 31)]
        self.write_folder_list(agent, *many)
        sixteen = many[:-17:-1]
        self.assertEqual(self.listed(agent), sixteen)
        # Without the file, sixteen existing folders stay sixteen.
        os.remove(agent.path("FolderList.txt"))
        self.assertEqual(self.listed(agent), sixteen)
        self.assertEqual(self.listed(agent), sixteen)


class Sender(IntakeTestCase):

    def test_sender_exit_codes(self):
        for args, message in (((), "usage"), (("--bogus",), "usage")):
            run = self.sender(*args)
            self.assertNotEqual(run.returncode, 0, args)
            self.assertIn(message, run.stderr.lower(), args)

        self.assertEqual(self.world.agent_windows(), [])
        run = self.sender("C:\\")
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("no folderlane agent", run.stderr.lower())

        agent = self.new_agent()
        # Another copy's sender (none beside it) leaves this copy's agent alone.
        self.assertEqual(self.shipped("folderlane-send.exe", "C:\\").returncode, 3)
        # The ANSI file calls take 259 bytes; the agent would take 260.
        path_259 = "C:\\" + "x" * 256

        def send():
            run = self.sender("C:\\" + "y" * 257)
            self.assertEqual(run.returncode, 2)
            self.assertIn("longer than 259", run.stderr)
            run = self.sender(path_259)
            self.assertEqual(run.returncode, 0, run.stderr)

        self.assertEqual(self.listed_while_menu_open(agent, send), [path_259, ROOT])

    def test_sender_makes_names_absolute_and_exact_or_refuses_them(self):
        agent = self.new_agent()
        sub = self.make_folder(agent, "Sub Dir")
        # Relative to the sender's current folder, as the script means it;
        # however it is spelt, one entry.
        for number, form in enumerate(("Sub Dir", "Sub Dir\\", sub + "\\", "\\\\?\\" + sub,
                                       "\\\\?\\" + sub.upper() + "\\")):
            run = self.sender(form, cwd=agent.base)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertOpenedFolder(self.new_records(agent, number), sub)

        # A name that the ANSI code page lacks: its short name, never '?'.
        omega = self.make_folder(agent, "\u03a9mega")
        run = self.sender(omega)
        self.assertEqual(run.returncode, 0, run.stderr)
        short = self.new_records(agent, 5)[0][1]
        self.assertShortNameOf(short, omega)
        # Where there is no short name (here: no such folder): refused with
        # the name and the cause, nothing sent.
        run = self.sender(omega + "\\\u03a8")
        self.assertEqual(run.returncode, 2)
        self.assertEqual(run.stderr, 'folderlane-send: the name "?" has characters that the system\'s code '
                                     "page lacks, and the folder does not exist; nothing was sent\n")
        # Behind a path of MAX_PATH characters or more, too.
        deep = self.make_folder(agent, "d" * 120 + "/" + "e" * 120 + "/\u03a9mega")
        run = self.sender(deep)
        self.assertEqual(run.returncode, 0, run.stderr)
        deep_short = self.new_records(agent, 6)[0][1]
        self.assertRegex(deep_short, r"\\[!-~]*~[!-~]*\Z")
        self.assertNothingMoreOpened(agent, 7, sub)
        # The short names name the folders: the pruning keeps them.
        self.assertEqual(self.listed(agent), [sub, deep_short, short, ROOT])

    def test_open_programs_that_cannot_start_the_agent_say_so_at_once_and_end(self):
        self.assertEqual(self.world.agent_windows(), [])
        # A folder that is not there is refused before any agent is looked for.
        opener = self.shipped("folderlane-open.exe", "C:\\no such folder\\", wait=False)
        try:
            box, text = self.world.message_box("Folderlane", timeout=30)
            self.assertEqual(text, "Folderlane cannot open\r\n\r\nC:\\no such folder\\\r\n\r\n"
                                   "the folder does not exist.")
            self.world.press(box, IDOK)
            self.assertEqual(opener.wait(20), 2)
        finally:
            opener.kill()
        # The second as on a folder's background: it leaves the folder.
        held = os.path.join(self.world.prefix, "drive_c", "e2e", "Held")
        os.makedirs(held)
        openers = [self.shipped("folderlane-open.exe", *args, wait=False, cwd=cwd)
                   for args, cwd in (((ROOT,), None), (("",), held))]
        try:
            box, text = self.world.message_box("Folderlane", timeout=30)
            self.assertIn('"C:\\e2e\\Folderlane.exe" could not be started', text)
            self.assertIn("Start Folderlane yourself", text)
            # One box says it for both; the other opener ends while it is open.
            done = wait_for(lambda: [o.returncode for o in openers if o.poll() is not None], 20,
                            what="the other opener to end")
            self.assertEqual(done, [3])
            boxes = [w.hwnd for w in self.world.windows("#32770|Folderlane") if w.visible]
            self.assertEqual(boxes, [box.hwnd])
            subprocess.run(["wine", "cmd", "/c", "rd", "C:\\e2e\\Held"], env=self.world.env(),
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
            self.assertFalse(os.path.exists(held))
            self.world.press(box, IDOK)
            self.assertEqual([opener.wait(20) for opener in openers], [3, 3])
        finally:
            for opener in openers:
                opener.kill()


    def test_an_opener_waits_for_a_starting_agent_and_another_copys_box_keeps_none_from_trying(self):
        agent = self.new_agent(start=False)
        for program in (os.path.join(self.world.tools, "probe.exe"),
                        os.path.join(self.world.build, "folderlane-open.exe")):
            shutil.copy(program, agent.folder)
        early, later = (self.make_folder(agent, name) for name in ("Early", "Later"))

        def run(program, *args, **options):
            return subprocess.Popen(["wine", self.world.windows_path(agent.path(program)), *args],
                                    env=agent.record_env(), stdin=subprocess.DEVNULL, **options)

        # A first agent still starting holds its lock without a window (the
        # probe for 4 s; then the agent, which waited for it): the opener
        # waits for that window and starts no other, which would show a menu.
        lock = run("probe.exe", "lock", "4", stdout=subprocess.PIPE, text=True)
        self.addCleanup(lock.kill)
        self.assertEqual(lock.stdout.readline().strip(), "held")
        opener = run("folderlane-open.exe", early)
        time.sleep(1)
        agent.start()
        self.assertEqual(opener.wait(60), 0)
        self.assertOpenedFolder(self.new_records(agent, 0), early)
        self.assertEqual(self.world.menu_windows(), [])
        self.assertEqual([w.hwnd for w in self.world.agent_windows()], [agent.hwnd])
        self.assertEqual(agent.send(WM_CLOSE), 0)
        self.assertEqual(agent.wait_exit(), 0)

        # Another copy's opener shows its failure (no agent beside it): this
        # copy's opener still starts its agent, which takes the folder.
        other = self.shipped("folderlane-open.exe", ROOT, wait=False)
        self.addCleanup(other.kill)
        box, text = self.world.message_box("Folderlane", timeout=30)
        self.assertIn("could not be started", text)
        opener = run("folderlane-open.exe", later)
        self.assertEqual(opener.wait(60), 0)
        self.assertOpenedFolder(self.new_records(agent, 1), later)
        self.world.press(box, IDOK)
        self.assertEqual(other.wait(20), 3)
        (window,) = self.world.agent_windows()
        self.assertEqual(agent.attach(window).send(WM_CLOSE), 0)
        wait_for(lambda: not self.world.agent_windows(), 10, what="the agent to end")

        # This copy's own failure, its box still open, keeps no later opener
        # from trying for itself: the agent is back beside it by then.
        os.rename(agent.path("Folderlane.exe"), agent.path("Folderlane.off"))
        failed = run("folderlane-open.exe", early)
        self.addCleanup(failed.kill)
        box, text = self.world.message_box("Folderlane", timeout=30)
        self.assertIn("could not be started", text)
        os.rename(agent.path("Folderlane.off"), agent.path("Folderlane.exe"))
        self.assertEqual(run("folderlane-open.exe", later).wait(60), 0)
        self.assertOpenedFolder(self.new_records(agent, 2), later)
        self.world.press(box, IDOK)
        self.assertEqual(failed.wait(20), 3)
        (window,) = self.world.agent_windows()
        self.assertEqual(agent.attach(window).send(WM_CLOSE), 0)

    def test_an_agent_an_opener_started_shows_no_menu_when_it_finds_another(self):
        # A first agent holds the lock without a window for longer than an
        # opener waits: the opener starts one of its own, which then finds a
        # window of this copy (the probe's, beside it) and asks it for nothing.
        agent = self.new_agent(start=False)
        for program in (os.path.join(self.world.tools, "probe.exe"),
                        os.path.join(self.world.build, "folderlane-open.exe")):
            shutil.copy(program, agent.folder)
        probe = lambda *args: subprocess.Popen(["wine", self.world.windows_path(agent.path("probe.exe")), *args],
                                               env=self.world.env(), stdin=subprocess.DEVNULL,
                                               stdout=subprocess.PIPE, text=True)
        lock = probe("lock", "40")
        self.addCleanup(lock.kill)
        self.assertEqual(lock.stdout.readline().strip(), "held")
        opener = self.shipped("folderlane-open.exe", ROOT, wait=False, beside=agent)
        self.addCleanup(opener.kill)
        started = lambda: any("\\folderlane.exe" in c.lower() for c in self.world.wine_processes())
        wait_for(started, 30, what="the opener to start an agent")
        window = probe("squat", self.world.windows_path(agent.folder))
        self.addCleanup(window.kill)
        self.assertEqual(window.stdout.readline().strip(), "ready")
        box, text = self.world.message_box("Folderlane", timeout=30)
        self.assertIn("did not take the folder", text)
        self.world.press(box, IDOK)
        self.assertEqual(opener.wait(20), 1)
        wait_for(lambda: not started(), 20, what="the started agent to end")
        window.kill()
        self.assertEqual(window.communicate(timeout=10)[0].split(), ["copydata"])

    def test_an_opener_does_not_wait_for_another_copys_start(self):
        # This copy's opener waits for a first agent that holds its lock
        # without a window yet, and holds its copy's start lock meanwhile
        # (10 s and more); an opener of another copy (none beside it) says
        # at once that it cannot start one.
        agent = self.new_agent(start=False)
        for program in (os.path.join(self.world.tools, "probe.exe"),
                        os.path.join(self.world.build, "folderlane-open.exe")):
            shutil.copy(program, agent.folder)
        lock = subprocess.Popen(["wine", self.world.windows_path(agent.path("probe.exe")), "lock", "30"],
                                env=self.world.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        self.addCleanup(lock.kill)
        self.assertEqual(lock.stdout.readline().strip(), "held")
        waiting = subprocess.Popen(["wine", self.world.windows_path(agent.path("folderlane-open.exe")),
                                    self.make_folder(agent, "Waiting")], env=agent.record_env(),
                                   stdin=subprocess.DEVNULL)
        self.addCleanup(waiting.kill)
        time.sleep(2)
        other = self.shipped("folderlane-open.exe", ROOT, wait=False)
        self.addCleanup(other.kill)
        box, text = self.world.message_box("Folderlane", timeout=7)
        self.assertIn("could not be started", text)
        self.world.press(box, IDOK)
        self.assertEqual(other.wait(20), 3)

    def test_a_window_another_program_published_first_gets_no_folder(self):
        # Before the agent starts, another program publishes a window of the
        # agent's class in the copy's section, which the agent may not write.
        agent = self.new_agent(start=False)
        for program in ("folderlane-send.exe", "folderlane-open.exe"):
            shutil.copy(os.path.join(self.world.build, program), agent.folder)
        squatter = subprocess.Popen(["wine", "C:\\e2e\\probe.exe", "squat", self.world.windows_path(agent.folder)],
                                    env=self.world.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    text=True)
        self.addCleanup(squatter.kill)
        self.assertEqual(squatter.stdout.readline().strip(), "ready")
        agent.start()
        for n, program in enumerate(("folderlane-send.exe", "folderlane-open.exe")):
            folder, before = self.make_folder(agent, f"Sent{n}"), len(agent.records())
            run = subprocess.run(["wine", self.world.windows_path(agent.path(program)), folder],
                                 env=agent.record_env(), stdin=subprocess.DEVNULL, capture_output=True, timeout=90)
            self.assertEqual(run.returncode, 0, program)
            self.assertOpenedFolder(self.new_records(agent, before), folder)
        # A second start shows the agent's menu, and no second icon.
        again = subprocess.run(["wine", self.world.windows_path(agent.path("Folderlane.exe"))],
                               env=agent.record_env(), stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(again.returncode, 0)
        agent.wait_for_menu()
        self.assertEqual(self.world.icons(), [agent.icon])
        self.world.keys("Escape")
        squatter.kill()
        self.assertNotIn("copydata", squatter.communicate(timeout=10)[0])


class DoubleByteCodePage(IntakeTestCase, ExportTestCase):
    """Code page 932, where the second byte of a character can be 0x5C, the
    backslash: ソ is 83 5C, 表 95 5C, 能 94 5C."""

    LOCALE = "ja_JP.UTF-8"

    def test_names_with_backslash_bytes_are_sent_merged_opened_and_exported_to_documents(self):
        agent = self.new_agent(start=False)
        documents = self.make_folder(agent, "資料表")
        self.move_documents(documents)
        sent, merged = self.make_folder(agent, "ソ"), self.make_folder(agent, "能力表")
        # 140 characters of two bytes: too long until a parent takes its short name.
        deep = self.make_folder(agent, "表" * 70 + "/" + "ソ" * 70)
        self.write_folder_list(agent, merged)
        agent.start()

        run = self.sender(sent)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertOpenedFolder(self.new_records(agent, 0), sent)
        run = self.sender(deep)
        self.assertEqual(run.returncode, 0, run.stderr)
        shortened = self.new_records(agent, 1)[0][1]
        self.assertTrue(shortened.endswith("\\" + "ソ" * 70), shortened)
        self.assertLessEqual(len(self.world.encode(shortened)), 260)

        # The dialog starts in the documents folder: the default name lands there.
        dialog = self.open_dialog(agent)
        self.world.keys("Return")
        self.wait_closed(dialog)
        self.wait_file(self.world.host_path(documents + "\\FolderExport.vtr"),
                       vantro_bytes([shortened, merged, sent, ROOT], self.world.encode))
