#!/usr/bin/env bash
# Sets up the machine, then builds and runs the whole test suite in the
# debug, asan (AddressSanitizer + UndefinedBehaviorSanitizer) and tsan
# (ThreadSanitizer) presets; cross-builds everything for 32-bit Windows
# (mingw-i686: built, not run); cross-builds for 64-bit Windows and runs
# the tests under wine (mingw-x64); and runs every fuzz target for 20
# seconds (scripts/fuzz.sh; FUZZ_SECONDS changes it). Exits non-zero if
# anything fails.
#   scripts/test.sh               all of the above
#   scripts/test.sh debug fuzz    just the named presets (fuzz: the targets)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(debug asan tsan mingw-i686 mingw-x64 fuzz)

# ccache keeps its cache in its usual per-user folder, so a fresh clone
# builds quickly on a machine that has built the project before (paths
# are taken relative to the clone, so another clone's objects are reused).
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-2G}"

for preset in "${presets[@]}"; do
  if [ "$preset" = fuzz ]; then
    bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
    continue
  fi
  echo "=== ${preset}: configure and build ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # A 32-bit Windows build has no runner here (Debian's wine runs 64-bit
  # programs): building it proves that everything compiles for the host's
  # platform with every layout check holding.
  if [ "$preset" = mingw-i686 ]; then continue; fi
  if [ "$preset" = mingw-x64 ]; then
    # wine makes its folder on first use; make it here rather than inside
    # the time limit of the first test.
    WINEDEBUG=-all WINEPREFIX="$PWD/build/mingw-x64/wineprefix" wineboot --init >/dev/null 2>&1 || true
    WINEDEBUG=-all WINEPREFIX="$PWD/build/mingw-x64/wineprefix" wineserver -w || true
  fi
  echo "=== ${preset}: test ==="
  ctest --preset "$preset"
done
echo "=== all tests passed in: ${presets[*]} ==="
