#!/usr/bin/env bash
# Sets up the machine, builds the release preset and runs the main job:
# the stand-in host program. With no arguments it checks the example
# methods and shows one; any arguments go to the host program instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build/.ccache}"
cmake --preset release >/dev/null
cmake --build --preset release --target quarn-host >/dev/null
if [ $# -gt 0 ]; then
  exec ./build/release/host/quarn-host "$@"
fi
./build/release/host/quarn-host method check examples/*.toml
exec ./build/release/host/quarn-host method show examples/impurities-binary-gradient.quarn900.toml
