#!/usr/bin/env bash
# Sets up the machine, builds the release preset and runs the main job:
# the stand-in host program running an example gradient method end to end
# on the simulated instruments. Any arguments go to the host program
# instead (for example: scripts/run.sh method show examples/...).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh release >/dev/null
# ccache keeps its cache in its usual per-user folder, so a fresh clone
# builds quickly on a machine that has built the project before (paths
# are taken relative to the clone, so another clone's objects are reused).
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1
cmake --preset release >/dev/null
cmake --build --preset release --target quarn-host >/dev/null
if [ $# -gt 0 ]; then
  exec ./build/release/host/quarn-host "$@"
fi
exec ./build/release/host/quarn-host run examples/impurities-binary-gradient.quarn900.toml \
  --transport direct --vial 12 --volume 5 --speed 120
