#!/usr/bin/env bash
# The sequence benchmark: 100 samples of the 25-minute example
# (examples/impurities-binary-gradient.quarn900.toml) in virtual time with
# the release build, on each transport. Prints, for the whole process
# (GNU time), the wall time, the CPU time in user mode and in the kernel,
# the peak resident memory, and the CPU time per poll: the CPU time
# divided by the polls of all samples (the rows of their status.csv, one
# a second of clock time). quarn-host's own figure says how much resident
# memory moved from the 10th sample to the 100th. Goals: at most 2 s of
# wall time, at most 5 us of CPU per poll with under a fifth of it in the
# kernel, 50 MB of peak memory, and flat memory (--memory-check fails the
# run if it grows more than 2 MB).
# Each transport runs twice: without sample descriptions (a flat baseline,
# no chromatogram written) and with every vial holding the example's
# syrup (examples/impurities-binary-gradient.tray.toml), so that each
# sample records, measures and writes its chromatogram; the second may be
# at most 25 % slower.
# The runs' folders are made in memory (/dev/shm) where the machine has
# it, so that the figures are the program's and not the disk's (creating
# a file on a disk that has seen many files come and go can cost a
# millisecond of kernel time).
#   scripts/sequence-bench.sh [SAMPLES]     (default 100)
set -euo pipefail
cd "$(dirname "$0")/.."
samples=${1:-100}
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset release >/dev/null
cmake --build --preset release --target quarn-host >/dev/null
program=$(realpath build/release/host/quarn-host)

root=${TMPDIR:-/tmp}
[[ -d /dev/shm && -w /dev/shm ]] && root=/dev/shm
work=$(mktemp -d "$root/quarn-sequence-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp examples/impurities-binary-gradient.quarn900.toml "$work/"
cd "$work"
export QUARN_REGISTRY="$work/registry.reg"
{
  echo "sample,method,vial,volume"
  for i in $(seq 1 "$samples"); do echo "s$i,impurities-binary-gradient.quarn900.toml,$i,5"; done
} >bench.csv
{
  sed -n '/^\[sample/,/^$/p' "$OLDPWD/examples/impurities-binary-gradient.tray.toml"
  echo "[tray]"
  for i in $(seq 1 "$samples"); do echo "$i = \"syrup-lot-2411\""; done
} >syrup.tray.toml
for transport in direct server; do
  for mode in plain chromatograms; do
    tray=()
    [ "$mode" = chromatograms ] && tray=(--tray syrup.tray.toml)
    /usr/bin/time -o time.txt -f "%e %U %S %M" \
      "$program" sequence bench.csv --virtual-time --memory-check --transport "$transport" "${tray[@]}" \
      --out "seq-$transport-$mode" | grep "The sequence has ended"
    read -r wall user sys peak <time.txt
    polls=$(cat "seq-$transport-$mode"/*/status.csv | grep -c '^[0-9]')
    awk -v t="$transport, $mode" -v w="$wall" -v u="$user" -v s="$sys" -v m="$peak" -v p="$polls" 'BEGIN {
      printf "%s: %.2f s wall, %.2f s user, %.2f s kernel, %d kB peak resident; %d polls: %.1f us of CPU per poll (%.1f user, %.1f kernel)\n",
        t, w, u, s, m, p, (u + s) * 1e6 / p, u * 1e6 / p, s * 1e6 / p }'
    [ "$mode" = plain ] && plain=$user$'\t'$sys || {
      awk -v a="$plain" -v u="$user" -v s="$sys" 'BEGIN { split(a, p, "\t");
        printf "  chromatograms cost %.0f %% more CPU (goal: at most 25 %%)\n", ((u + s) / (p[1] + p[2]) - 1) * 100 }'
    }
  done
done
