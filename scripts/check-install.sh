#!/usr/bin/env bash
# Installs a build of the plug-in into a prefix, builds the minimal host of
# examples/minimal-host outside the tree against the installed package, and
# runs one sample with it on the simulated instruments. It first checks how
# the loader treats the installed libraries and programs.
#   scripts/check-install.sh [BUILD_DIR]     (default build/debug)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/debug}"
prefix="$build/install-check/prefix"
rm -rf "$build/install-check"
cmake --install "$build" --prefix "$prefix" >/dev/null
# Installed, each library and program binds its symbols at load and finds
# the others only from its own folder, never from the current directory.
cmake -DREADELF=readelf -P tests/library/check_load_paths.cmake -- "$prefix"/lib/*.so "$prefix"/bin/*
cmake -S examples/minimal-host -B "$build/install-check/host" -G Ninja \
  -DCMAKE_PREFIX_PATH="$PWD/$prefix" >/dev/null
cmake --build "$build/install-check/host" >/dev/null
work="$build/install-check/work"
mkdir -p "$work/methods"
cp examples/caffeine-isocratic.quarn900.toml "$work/methods/"
QUARN_REGISTRY="$PWD/$work/settings.reg" "$build/install-check/host/minimal-host" \
  "$PWD/$work/methods" caffeine-isocratic 3 5.0
# Only the headers a host needs: none of the simulators'.
[ ! -e "$prefix/include/quarncontrol/sim" ] || { echo "install check: simulator headers installed" >&2; exit 1; }
# The package's pkg-config file names the same library.
PKG_CONFIG_PATH="$PWD/$prefix/lib/pkgconfig" pkg-config --libs quarncontrol | grep -q -- -lquarncontrol
echo "install check: the installed package built a host that ran a sample"
