#!/usr/bin/env bash
# The sequence torture test, many rounds: sample lists on both transports,
# with faults on demand, killed with SIGKILL at random instants and resumed,
# each round checked against the simulators' traces
# (tests/host/host_torture_test.cc). Builds the debug build first when needed.
#
#   scripts/torture.sh [ROUNDS] [SEED]      (default 10000 rounds, seed 20261207)
#
# Prints each failing round's seed and round (run it alone with
# QUARN_TORTURE_SEED=S QUARN_TORTURE_FIRST=R QUARN_TORTURE_ROUNDS=1 and the
# test program; QUARN_KEEP_TEST_FOLDER=1 keeps its folder in the temporary
# folder to look at), the rounds, kills and faults, and the time taken.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10000}
seed=${2:-20261207}
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
[ -f build/debug/build.ninja ] || cmake --preset debug >/dev/null
cmake --build --preset debug --target host_cli_tests >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$(date +%s)
status=0
QUARN_TORTURE_ROUNDS=$rounds QUARN_TORTURE_SEED=$seed build/debug/tests/host/host_cli_tests \
  --gtest_filter='HostTortureTest.*' >"$log" 2>&1 || status=$?
elapsed=$(($(date +%s) - start))
failed=$(grep -oE "seed $seed round [0-9]+" "$log" | sort -u || true)
if [ -n "$failed" ]; then
  echo "--- what the failing rounds saw"
  grep -vE '^\[|^(Running main|Note: Google Test filter|torture:)|FAILED TEST|^$' "$log" | head -n 200
fi
grep '^torture:' "$log" || { cat "$log"; exit 1; }
echo "torture: $(printf '%s' "$failed" | grep -c . || true) rounds failed; ${elapsed} s"
exit "$status"
