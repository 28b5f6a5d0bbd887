#!/usr/bin/env bash
# The soak: a sequence of one sample injected 1000 times in a row on each
# transport, in virtual time. Every sample must end good (each load and
# start accepted, the run reaching its length, the injection reported);
# quarn-host sequence checks that.
#
#   scripts/soak.sh [RUNS]        (default 1000)
#
# Twice per transport: the release build, where resident memory must stay
# within 2 MB from the 10th sample on (--memory-check); and the asan build
# (AddressSanitizer with LeakSanitizer), which fails on any leak at exit.
# The sanitizer's own allocator holds memory as it goes, so there memory
# is not judged. Builds both quarn-host programs first.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
for preset in release asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target quarn-host >/dev/null
done
release=$(realpath build/release/host/quarn-host)
asan=$(realpath build/asan/host/quarn-host)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export QUARN_REGISTRY="$work/registry.reg"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
cat >soak.toml <<'METHOD'
[method]
title = "Soak: one minute, one injection"
[pump]
system = "binary"
flow = 1.0
max_pressure = 400
stop_time = 1
percent_b = 20
timetable = [ { time = 0.0, percent_b = 20 }, { time = 0.5, percent_b = 60 } ]
[autosampler]
injection_volume = 5
analysis_time = 1
[uv]
wavelength = 254
METHOD
printf 'sample,method,vial,volume,injections\nsoak,soak.toml,1,5,%s\n' "$runs" >soak.csv
for transport in direct server; do
  echo "--- release build, memory judged"
  "$release" sequence soak.csv --virtual-time --quiet --memory-check --transport "$transport" --out "release-$transport"
  tail -1 "release-$transport/sequence.csv"
  echo "--- asan build, leaks judged"
  "$asan" sequence soak.csv --virtual-time --quiet --transport "$transport" --out "asan-$transport"
done
echo "soak: all runs right, memory flat, no leaks"
