#!/usr/bin/env bash
# The sequence benchmark: 100 samples of the 25-minute example
# (examples/impurities-binary-gradient.quarn900.toml) in virtual time with
# the release build, on each transport. Prints the wall time and the peak
# resident memory of the whole process (GNU time), and quarn-host's own
# figure of how much resident memory moved from the 10th sample to the
# 100th. Goals: at most 10 s of wall time and 50 MB of peak memory, and
# flat memory (--memory-check fails the run if it grows more than 2 MB).
#   scripts/sequence-bench.sh [SAMPLES]     (default 100)
set -euo pipefail
cd "$(dirname "$0")/.."
samples=${1:-100}
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset release >/dev/null
cmake --build --preset release --target quarn-host >/dev/null
program=$(realpath build/release/host/quarn-host)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/impurities-binary-gradient.quarn900.toml "$work/"
cd "$work"
export QUARN_REGISTRY="$work/registry.reg"
{
  echo "sample,method,vial,volume"
  for i in $(seq 1 "$samples"); do echo "s$i,impurities-binary-gradient.quarn900.toml,$i,5"; done
} >bench.csv
for transport in direct server; do
  /usr/bin/time -f "$transport: %e s wall, %M kB peak resident" \
    "$program" sequence bench.csv --virtual-time --memory-check --transport "$transport" --out "seq-$transport" |
    grep "The sequence has ended"
done
