# The two commands for users: `make run` and `make test`. Both install what
# the machine lacks (Debian packages), then build.
NATIVE := build/native
WIN32 := build/win32
MEMCHECK := build/memcheck
JOBS ?= 2

.PHONY: run test deps native win32 memcheck check-memory check-reproducible check-fresh build dist clean

run: win32
	scripts/run-agent.sh $(WIN32)

test: build memcheck dist
	scripts/test-all.sh $(NATIVE) $(WIN32) $(MEMCHECK)

build: native win32

deps:
	@scripts/install-deps.sh

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

win32: deps
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake >/dev/null
	@cmake --build $(WIN32) -j$(JOBS)

# The native unit tests without sanitizers, for valgrind's memcheck.
memcheck: deps
	@cmake -S . -B $(MEMCHECK) -DCMAKE_BUILD_TYPE=Debug -DFOLDERLANE_SANITIZE=OFF >/dev/null
	@cmake --build $(MEMCHECK) -j$(JOBS) --target unit_tests

# For Windows users: the installer, the portable archive, the licence, the
# read-me, BUILDINFO, their SHA256SUMS and, for a release, a winget manifest,
# in dist/ (signed when a key is given: see scripts/make-dist.sh).
dist: win32
	scripts/make-dist.sh $(WIN32) dist

check-memory: memcheck
	scripts/memcheck.sh $(MEMCHECK)

# Builds the committed release twice, in two clones (the second in another
# locale, time zone and umask, and as another user when run as root), and
# compares the two dist folders byte for byte (about a minute; `make test`
# runs it too).
check-reproducible: deps
	scripts/check-reproducible.sh $(JOBS)

# The README's two commands on a stock Debian made with debootstrap, in a
# chroot, as a user with sudo: each release of DEBIAN, one after the other
# (root and the package mirror; about half an hour each, so not part of .ci/run).
DEBIAN ?= trixie bookworm
check-fresh:
	@status=0; for release in $(DEBIAN); do scripts/check-fresh.sh $$release || status=1; done; exit $$status

clean:
	rm -rf build dist

# Not part of `make test`: long-running tools.
.PHONY: fuzz bench soak
fuzz: deps
	scripts/fuzz.sh

# Ten storms of a minute with other seeds, then the storms that once failed
# (about twenty-two minutes).
soak: win32
	scripts/soak.sh $(WIN32)

# Benchmarks (about six minutes). The native side has a tree of its own,
# optimised and without sanitizers; the table also goes to build/bench/results.md.
BENCH := build/bench
bench: win32
	@cmake -S . -B $(BENCH)/native -DCMAKE_BUILD_TYPE=MinSizeRel -DFOLDERLANE_SANITIZE=OFF >/dev/null
	@cmake --build $(BENCH)/native -j$(JOBS) --target merge_bench load_bench slow_folders_bench
	scripts/bench.sh $(WIN32) $(BENCH)/native $(BENCH)
