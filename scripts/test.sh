#!/usr/bin/env bash
# Sets up the machine, then builds and runs the whole test suite in the
# debug, asan (AddressSanitizer + UndefinedBehaviorSanitizer) and tsan
# (ThreadSanitizer) presets, and after the debug suite installs the plug-in
# and builds and runs a host outside the tree against the installed package
# (scripts/check-install.sh); cross-builds everything for 32-bit and 64-bit
# Windows and runs both suites under wine (mingw-i686 in a 32-bit wine
# folder, on machines whose kernel runs 32-bit programs; mingw-x64 in a
# 64-bit one); and runs every fuzz target for 20
# seconds (scripts/fuzz.sh; FUZZ_SECONDS changes it). Exits non-zero if
# anything fails.
#   scripts/test.sh               all of the above
#   scripts/test.sh debug fuzz    just the named presets (fuzz: the targets)
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(debug asan tsan mingw-i686 mingw-x64 fuzz)

# Only what the presets named need: `test.sh debug` installs no wine.
bash scripts/setup.sh "${presets[@]}"

# ccache keeps its cache in its usual per-user folder, so a fresh clone
# builds quickly on a machine that has built the project before (paths
# are taken relative to the clone, so another clone's objects are reused).
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-2G}"
# A warning fails the test command's builds (fuzz.sh's too).
export QUARN_WERROR=ON

for preset in "${presets[@]}"; do
  if [ "$preset" = fuzz ]; then
    bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
    continue
  fi
  echo "=== ${preset}: configure and build ==="
  cmake --preset "$preset" -DQUARN_WERROR="$QUARN_WERROR" >/dev/null
  cmake --build --preset "$preset"
  case "$preset" in
    mingw-i686 | mingw-x64)
      # The 32-bit suite needs a kernel that runs 32-bit programs (wine32's
      # loader is one); where IA-32 emulation is off, the build is the check.
      if [ "$preset" = mingw-i686 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "=== mingw-i686: built, not run: this machine cannot run 32-bit programs" \
          "(the kernel's IA-32 emulation is off), so wine32 cannot start ==="
        echo "=== mingw-i686: the plug-in's export table ==="
        cmake -DLIBRARY=build/mingw-i686/bin/QuarnControl.dll -DFORMAT=pe -DLIST=front/QuarnControl.exports \
          -DOBJDUMP=i686-w64-mingw32-objdump -DCXXFILT=c++filt -P tests/library/check_exports.cmake
        continue
      fi
      # wine makes its folder on first use; make it here rather than inside
      # the time limit of the first test. The 32-bit build runs in a 32-bit
      # folder, as on the host's own machine. Each build names its own wine
      # loader (the `wine` command would pick the 32-bit one whenever wine32
      # is installed, even where it cannot run).
      arch=win64 loader=/usr/lib/wine/wine64
      [ "$preset" = mingw-i686 ] && arch=win32 loader=/usr/lib/wine/wine
      WINEDEBUG=-all WINEARCH=$arch WINEPREFIX="$PWD/build/$preset/wineprefix" "$loader" wineboot --init >/dev/null 2>&1 || true
      WINEDEBUG=-all WINEPREFIX="$PWD/build/$preset/wineprefix" /usr/lib/wine/wineserver -w || true
      ;;
  esac
  echo "=== ${preset}: test ==="
  ctest --preset "$preset"
  if [ "$preset" = debug ]; then
    echo "=== debug: install, and a host built against the installed package ==="
    bash scripts/check-install.sh build/debug
  fi
done
echo "=== all tests passed in: ${presets[*]} ==="
