"""Runs the benchmarks and prints one table of medians and ratios.

Folderlane against the baseline tray program (bench/BaselineTray.cpp), both
under Wine on a private Xvfb, timed from a Windows driver program
(bench/BenchDriver.cpp) in alternating rounds; the merge of FolderList.txt
natively and under Wine; the slow-folder pruning natively.

Run through scripts/bench.sh, or:
    python3 bench/run_bench.py --win32 DIR --native DIR --out DIR
Standard library only.
"""

import argparse
import datetime
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import start_xvfb, wine_env  # noqa: E402

FOLDERS_IN_FILE = 26  # lines of FolderList.txt beside the agent
FOLDERS_SHOWN = 16    # what the agent's list keeps of them
LONG_FILE = 100000    # lines of the grown FolderList.txt


def log(text):
    print(f"[bench] {text}", file=sys.stderr, flush=True)


def parse_samples(text):
    """Lines "<metric> <program> <round> <value>" -> {(metric, program): [values]};
    round 0, the warm-up, is left out."""
    samples = {}
    for line in text.splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[0] not in ("check", "error") and parts[2] != "0":
            samples.setdefault((parts[0], parts[1]), []).append(float(parts[3]))
    return samples


class WineWorld:
    """Xvfb, prefix and HOME of one benchmark run."""

    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="folderlane-bench-")
        self.prefix = os.path.join(self.tmp, "prefix")
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)
        self.xvfb = None
        self.display = None

    def env(self):
        return wine_env(self.prefix, self.home, self.display)

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def start(self):
        self._start_xvfb()
        log(f"Xvfb on {self.display}; making the Wine prefix")
        subprocess.run(["wine", "wineboot", "-i"], env=self.env(), timeout=300, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=300)

    def _start_xvfb(self):
        self.xvfb, self.display = start_xvfb(600 + os.getpid() % 300)

    def wine(self, *args, timeout):
        run = subprocess.run(["wine", *map(str, args)], env=self.env(), timeout=timeout, capture_output=True,
                             text=True, errors="replace")
        return run

    def register_vtr(self, recorder):
        """.vtr opens with the recorder, as Vantro would be started."""
        command = '\\"' + recorder.replace("\\", "\\\\") + '\\" \\"%1\\"'
        lines = ["REGEDIT4", "",
                 "[HKEY_CLASSES_ROOT\\.vtr]", '@="bench.vtrfile"', "",
                 "[-HKEY_CLASSES_ROOT\\bench.vtrfile\\shell\\open\\ddeexec]",
                 "[HKEY_CLASSES_ROOT\\bench.vtrfile\\shell\\open\\command]", f'@="{command}"', ""]
        reg = self.drive_c("bench", "vtr.reg")
        with open(reg, "w", newline="\r\n") as f:
            f.write("\n".join(lines))
        subprocess.run(["wine", "reg", "import", "C:\\bench\\vtr.reg"], env=self.env(), timeout=60,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        if self.display:
            subprocess.run(["wineserver", "-k"], env=self.env(), timeout=60)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)


def run_wine_side(args, samples, checks):
    world = WineWorld()
    try:
        world.start()
        bench = world.drive_c("bench")
        for sub in ("agent", "baseline", "tools", "merge"):
            os.makedirs(os.path.join(bench, sub), exist_ok=True)
        shutil.copy(args.agent, os.path.join(bench, "agent", "Folderlane.exe"))
        tools = os.path.join(args.win32, "bench")
        shutil.copy(os.path.join(tools, "BaselineTray.exe"), os.path.join(bench, "baseline"))
        for tool in ("BenchDriver.exe", "BenchRecorder.exe", "merge_bench.exe", "load_bench.exe"):
            shutil.copy(os.path.join(tools, tool), os.path.join(bench, "tools"))

        # Real folders, so that the pruning keeps them; the file lists 26 of
        # them, the agent shows the last 16, the last line on top.
        folders = [f"C:\\bench\\folders\\Folder {i:02d}" for i in range(1, FOLDERS_IN_FILE + 1)]
        for folder in folders:
            os.makedirs(world.drive_c(*folder[3:].split("\\")), exist_ok=True)
        with open(os.path.join(bench, "agent", "FolderList.txt"), "wb") as f:
            f.write("".join(folder + "\r\n" for folder in folders).encode("ascii"))
        shown = list(reversed(folders))[:FOLDERS_SHOWN]
        world.register_vtr("C:\\bench\\tools\\BenchRecorder.exe")

        log(f"agent and baseline: {args.rounds} rounds of {args.starts + 1} starts, {args.menus} menus "
            f"and {args.handoffs} hand-offs each")
        started = time.monotonic()
        run = world.wine("C:\\bench\\tools\\BenchDriver.exe", args.rounds, args.starts, args.menus,
                         args.handoffs,
                         "C:\\bench\\agent\\Folderlane.exe", "C:\\bench\\baseline\\BaselineTray.exe",
                         "|".join(shown), timeout=1800)
        log(f"driver done in {time.monotonic() - started:.0f} s")
        with open(os.path.join(args.out, "driver.log"), "w") as f:
            f.write(run.stdout)
        for line in run.stdout.splitlines():
            if line.startswith(("check", "error")):
                checks.append(line)
        if run.returncode != 0:
            raise RuntimeError(f"driver failed ({run.returncode}): {run.stdout[-2000:]} {run.stderr[-2000:]}")
        samples.update(parse_samples(run.stdout))

        # The same folders at the end of a FolderList.txt that grew to
        # 100,000 lines: the menu should hardly notice.
        with open(os.path.join(bench, "agent", "FolderList.txt"), "wb") as f:
            filler = "".join(f"C:\\bench\\gone\\Folder {i:06d}\r\n" for i in range(LONG_FILE - len(folders)))
            f.write((filler + "".join(folder + "\r\n" for folder in folders)).encode("ascii"))
        menus = min(args.menus, 200)
        log(f"menus with a {LONG_FILE:,}-line FolderList.txt: {args.rounds} rounds of {menus}")
        run = world.wine("C:\\bench\\tools\\BenchDriver.exe", args.rounds, 0, menus, 0,
                         "C:\\bench\\agent\\Folderlane.exe", "C:\\bench\\baseline\\BaselineTray.exe",
                         "|".join(shown), timeout=1800)
        if run.returncode != 0:
            raise RuntimeError(f"driver with the long file failed ({run.returncode}): {run.stdout[-2000:]}")
        for (metric, program), values in parse_samples(run.stdout).items():
            if metric == "menu":
                samples[("menu_long", program)] = values

        log("menu-time load, part by part, under Wine")
        run = world.wine("C:\\bench\\tools\\load_bench.exe", "C:\\bench\\load", args.rounds, 100,
                         timeout=600)
        if run.returncode != 0:
            raise RuntimeError(f"load_bench under Wine failed: {run.stdout} {run.stderr}")
        load_samples(run.stdout, "wine", samples)

        if "wine-merge" not in args.skip:
            log(f"merge under Wine ({args.wine_merge_rounds} rounds of 1,000,000 lines)")
            for lines, rounds in ((1000000, args.wine_merge_rounds), (1000, 1)):
                run = world.wine("C:\\bench\\tools\\merge_bench.exe", "C:\\bench\\merge", lines, rounds,
                                 timeout=1800)
                if run.returncode != 0:
                    raise RuntimeError(f"merge_bench under Wine failed: {run.stdout} {run.stderr}")
                merge_samples(run.stdout, "wine", samples)
    finally:
        world.stop()


def merge_samples(text, where, samples):
    for line in text.splitlines():
        parts = line.split()
        if parts[0] in ("merge_raw", "merge_merge"):
            samples.setdefault((parts[0], where), []).append(float(parts[2]))
        elif parts[0] in ("merge_base_kb", "merge_peak_kb"):
            samples[(f"{parts[0]}_{parts[1]}", where)] = [float(parts[2])]


def load_samples(text, where, samples):
    for line in text.splitlines():
        metric, _, value = line.split()
        samples.setdefault((metric, where), []).append(float(value))


def run_native_side(args, samples):
    tools = os.path.join(args.native, "bench")
    log("merge natively")
    with tempfile.TemporaryDirectory(prefix="folderlane-merge-") as folder:
        for lines, rounds in ((1000000, args.rounds), (1000, 1)):
            run = subprocess.run([os.path.join(tools, "merge_bench"), folder, str(lines), str(rounds)],
                                 capture_output=True, text=True, timeout=1200, check=True)
            merge_samples(run.stdout, "native", samples)
    log("slow folders natively")
    run = subprocess.run([os.path.join(tools, "slow_folders_bench"), str(args.rounds)],
                         capture_output=True, text=True, timeout=600, check=True)
    load_samples(run.stdout, "native", samples)
    log("menu-time load, part by part, natively")
    with tempfile.TemporaryDirectory(prefix="folderlane-load-") as folder:
        run = subprocess.run([os.path.join(tools, "load_bench"), os.path.join(folder, "folders"),
                              str(args.rounds), "200"],
                             capture_output=True, text=True, timeout=600, check=True)
    load_samples(run.stdout, "native", samples)


def build_table(args, samples, checks):
    rows = []

    def median(metric, program):
        values = samples.get((metric, program))
        return statistics.median(values) if values else None

    def pair(label, metric, unit, target, fmt="{:.1f}"):
        agent, base = median(metric, "agent"), median(metric, "baseline")
        if agent is None or base is None:
            rows.append((label, "-", "-", "-", f"<= {target:.2f}", "not run"))
            return
        # Pair by pair: the two programs met the same load side by side, so
        # the ratio of a pair cancels the machine's drift. Start by start
        # where the driver gives every start, else round by round.
        each = (f"{metric}_each", "agent"), (f"{metric}_each", "baseline")
        pairs = zip(*(samples[key] for key in each)) if all(key in samples for key in each) else \
            zip(samples[(metric, "agent")], samples[(metric, "baseline")])
        ratio = statistics.median(a / b for a, b in pairs)
        rows.append((label, fmt.format(agent) + unit, fmt.format(base) + unit, f"{ratio:.2f}",
                     f"<= {target:.2f}", "met" if ratio <= target else "MISSED"))

    menus = args.menus
    pair("1. start-up to window and icon", "startup", " ms", 1.05)
    pair("   (start-up to window only)", "startup_window", " ms", 1.05)
    pair("2. working set after start", "ws_start", " KiB", 1.10, "{:.0f}")
    pair("   private after start", "private_start", " KiB", 1.10, "{:.0f}")
    pair(f"   working set after {menus} menus", "ws_menus", " KiB", 1.10, "{:.0f}")
    pair(f"   private after {menus} menus", "private_menus", " KiB", 1.10, "{:.0f}")
    pair("3. menu latency", "menu", " ms", 1.10, "{:.2f}")
    pair("   (first menu after start)", "menu_first", " ms", 1.10, "{:.2f}")
    long_menu, short_menu = median("menu_long", "agent"), median("menu", "agent")
    if long_menu is not None and short_menu is not None:
        rows.append((f"   menu latency, {LONG_FILE:,}-line vs 26-line FolderList.txt", f"{long_menu:.2f} ms",
                     f"{short_menu:.2f} ms", f"{long_menu / short_menu:.2f}", "<= 2.00",
                     "met" if long_menu <= 2 * short_menu else "MISSED"))
    pair("4. hand-off latency", "handoff", " ms", 1.05)

    for where in ("native", "wine"):
        raw, merge = median("merge_raw", where), median("merge_merge", where)
        if raw is None or merge is None:
            rows.append((f"5. merge 1,000,000 lines, {where}", "-", "-", "-", ">= 0.50", "not run"))
            continue
        rate = raw / merge  # merge rate as a share of the raw read rate
        rows.append((f"5. merge 1,000,000 lines, {where} (merge / raw read rate)",
                     f"{merge * 1000:.0f} ms", f"raw {raw * 1000:.0f} ms", f"{rate:.3f}", ">= 0.50",
                     "met" if rate >= 0.5 else "MISSED"))
        small, large = median("merge_peak_kb_1000", where), median("merge_peak_kb_1000000", where)
        if small and large:
            # The growth over the program's own memory before the work shows
            # what the merge holds; the peaks themselves are mostly runtime.
            grow_small = small - median("merge_base_kb_1000", where)
            grow_large = large - median("merge_base_kb_1000000", where)
            ratio = large / small
            rows.append((f"   peak memory {where}, 1,000,000 vs 1,000 lines",
                         f"{large:.0f} KiB (+{grow_large:.0f})", f"{small:.0f} KiB (+{grow_small:.0f})",
                         f"{ratio:.2f}", "same (<= 1.05)", "met" if ratio <= 1.05 else "MISSED"))

    agent_size = os.path.getsize(args.agent)
    base_size = os.path.getsize(os.path.join(args.win32, "bench", "BaselineTray.exe"))
    rows.append(("6. executable size", f"{agent_size / 1024:.1f} KiB", f"{base_size / 1024:.1f} KiB",
                 f"{agent_size / base_size:.2f}", "<= 256 KiB",
                 "met" if agent_size <= 256 * 1024 else "MISSED"))

    k0, k1, k8 = (median(f"slow_k{k}", "native") for k in (0, 1, 8))
    if k1 and k8:
        rows.append(("7. menu-time load, 16 folders, k=8 slow vs k=1 (200 ms each)", f"{k8:.1f} ms",
                     f"{k1:.1f} ms", f"{k8 / k1:.2f}", "<= 1.50", "met" if k8 / k1 <= 1.5 else "MISSED"))
        rows.append(("   (k=0, for scale)", f"{k0:.1f} ms", "", "", "", ""))

    # Where the agent's menu time goes, measured inside one process.
    parts = [("whole", "LoadFolderList as the menu runs it"),
             ("file_exists", "  FolderList.txt existence test"),
             ("merge_file", "  merge of the 26 lines into the list"),
             ("tests_side_by_side", "  existence tests of 25 folders, side by side"),
             ("tests_one_by_one", "  the same tests one after the other (for scale)"),
             ("threads_8_empty", "  8 threads started and joined, doing nothing (for scale)")]
    breakdown = []
    for part, label in parts:
        native, wine = median(f"load_{part}", "native"), median(f"load_{part}", "wine")
        if native is not None or wine is not None:
            breakdown.append((label, "-" if native is None else f"{native:.3f} ms",
                              "-" if wine is None else f"{wine:.3f} ms"))

    head = ("measure", "Folderlane", "baseline", "ratio", "target", "")
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]

    def line(cells):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"

    out = [line(head), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    out += [line(r) for r in rows]
    if breakdown:
        head = ("inside the menu-time load (medians)", "native", "Wine")
        widths = [max(len(str(r[i])) for r in breakdown + [head]) for i in range(len(head))]
        out += ["", line(head), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
        out += [line(r) for r in breakdown]
    notes = [
        "",
        f"Medians of {args.rounds} rounds after a warm-up round. In each round the two programs are "
        f"started and closed {args.starts} times, alternating, with a 150 ms pause after each close, then "
        "both are started (which first alternates from round to round) and run side by side while their "
        f"menus and hand-offs alternate one by one; start-up and the first menu after start "
        f"are the medians of each round's median over {args.starts + 1} starts, menu "
        f"and hand-off latencies the median of each round's median over {menus - 1} menus "
        f"(the first, cold one apart) and {args.handoffs} hand-offs; the start-up, first-menu and hand-off "
        "ratios are the medians of the ratios pair by pair, the others the medians of the rounds' ratios. "
        "Memory, from the driver "
        "after a 300 ms settle: working set is GetProcessMemoryInfo's WorkingSetSize (Wine gives the "
        "Wine process's VmRSS); private is the committed MEM_PRIVATE regions summed with VirtualQueryEx "
        "(Wine leaves PrivateUsage at 0 for other processes). "
        "Merge rows: Folderlane column is the merge, baseline column the raw read of the same file, "
        "counting its CRs, "
        "through the same 4096-byte buffer; ratio = raw time / merge time; peak memory is the process's "
        "high-water mark (native VmHWM, Wine PeakWorkingSetSize), in brackets its growth during the work. "
        "Row 7: Folderlane column k=8, baseline column k=1.",
    ]
    notes += [f"- {c}" for c in checks]
    return "\n".join(out + notes)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--win32", required=True, help="the win32 build tree")
    parser.add_argument("--native", required=True, help="a native build tree without sanitizers")
    parser.add_argument("--out", required=True, help="where results.md goes")
    parser.add_argument("--agent", help="another Folderlane.exe to measure (default: the win32 tree's)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--starts", type=int, default=14,
                        help="extra starts per round for the start-up and the first menu")
    parser.add_argument("--menus", type=int, default=1000)
    # A hand-off's latency is mostly the start of the program it opens, which
    # swings with the machine's load: ten a round gave 1.21 and 1.03 in two
    # runs in a row.
    parser.add_argument("--handoffs", type=int, default=60)
    parser.add_argument("--wine-merge-rounds", type=int, default=3,
                        help="rounds of the million-line merge under Wine (about 40 s each)")
    parser.add_argument("--skip", action="append", default=[], choices=("wine", "wine-merge", "native"))
    args = parser.parse_args()
    args.win32, args.native, args.out = map(os.path.abspath, (args.win32, args.native, args.out))
    args.agent = os.path.abspath(args.agent or os.path.join(args.win32, "Folderlane.exe"))
    os.makedirs(args.out, exist_ok=True)

    samples, checks = {}, []
    started = time.monotonic()
    if "native" not in args.skip:
        run_native_side(args, samples)
    if "wine" not in args.skip:
        run_wine_side(args, samples, checks)
    table = build_table(args, samples, checks)
    stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    report = f"# Benchmark {stamp} ({time.monotonic() - started:.0f} s)\n\n{table}\n"
    with open(os.path.join(args.out, "results.md"), "w") as f:
        f.write(report)
    print(report)
    return 0 if not any(c.startswith("error") for c in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
