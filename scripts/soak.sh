#!/usr/bin/env bash
# The soak: 1000 sample runs in a row on each transport, in virtual time,
# with LeakSanitizer watching for leaks. Every sample must run right (each
# load and start accepted, the run reaching its length, the injection
# reported, no message from the plug-in) and resident memory must stay
# within 1 MB from the 100th sample on; quarn-host soak checks both.
#
#   scripts/soak.sh [RUNS]        (default 1000)
#
# Builds quarn-host in the asan preset (AddressSanitizer with leak
# detection) first. The allocator's quarantine is switched off so that the
# memory figures show what the program keeps, not what the sanitizer holds
# back to catch use after free. Prints quarn-host's lines: resident memory
# every 100 samples and the verdict per transport.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset asan >/dev/null
cmake --build --preset asan --target quarn-host >/dev/null
host=$(realpath build/asan/host/quarn-host)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export QUARN_REGISTRY="$work/registry.reg"
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=0:halt_on_error=1
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
for transport in direct server; do
  "$host" soak soak.toml --runs "$runs" --transport "$transport"
done
