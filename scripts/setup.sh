#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running
# QuarnControl need: those every build needs (jQuery and Flot among them:
# the host program embeds them in report.html), and those of the presets
# named (chromium for the debug build's browser test of report.html; clang
# for the sanitizer and fuzz builds; the cross compilers and wine for the
# Windows builds, the i386 architecture's wine only for the 32-bit one).
#   scripts/setup.sh                         what every preset needs
#   scripts/setup.sh release                 just the native builds' packages
#   scripts/setup.sh debug mingw-i686        native, plus the 32-bit Windows build
# Safe to run again: packages already present are skipped, and apt is not
# touched at all when nothing is missing. Needs root (or sudo) only when
# something has to be installed.
set -euo pipefail

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(debug release asan tsan fuzz mingw-i686 mingw-x64)

packages=(
  build-essential cmake ninja-build ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev libcli11-dev nlohmann-json3-dev
  libjs-jquery libjs-jquery-flot
  time
  googletest
)
wants_i386=0
for preset in "${presets[@]}"; do
  case "$preset" in
    debug) packages+=(chromium) ;;
    release) ;;
    asan | tsan | fuzz) packages+=(clang libclang-rt-14-dev) ;;
    # The IDL compiler and the system's IDL files make the simulated
    # server's type libraries; procps has the server-program test's pgrep.
    mingw-x64) packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev procps wine wine64) ;;
    # The 32-bit Windows programs run under the 32-bit wine, which comes
    # from the i386 architecture's packages.
    mingw-i686) packages+=(g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev procps wine wine64 wine32:i386) wants_i386=1 ;;
    *) echo "setup: no such preset: $preset" >&2; exit 2 ;;
  esac
done
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | awk '!seen[$0]++')

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages already installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if [ $wants_i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
