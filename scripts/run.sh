#!/usr/bin/env bash
# Sets up the machine, builds the release preset and runs the main job:
# the stand-in host program. Extra arguments go to the host program.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build/.ccache}"
cmake --preset release >/dev/null
cmake --build --preset release --target quarn-host >/dev/null
exec ./build/release/host/quarn-host "$@"
