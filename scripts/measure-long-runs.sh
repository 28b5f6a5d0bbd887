#!/usr/bin/env bash
# Peak memory and wall time of quarn-host running long methods in virtual
# time: a 1000-minute and a 10000-minute method (the longest a method may
# be), one isocratic pump with an injection, polled once a second of run
# time as every run is.
#
#   scripts/measure-long-runs.sh [PATH-TO-quarn-host]
#
# The program defaults to the release build (cmake --preset release &&
# cmake --build --preset release --target quarn-host), else the debug one.
# Prints one line per method: minutes, polls, peak resident memory, wall
# time, processor time (user + system: on a busy machine the wall time
# also counts the waits for a core) and the size of status.csv and
# status.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
host=${1:-}
if [[ -z "$host" ]]; then
  for candidate in build/release/host/quarn-host build/debug/host/quarn-host; do
    if [[ -x "$candidate" ]]; then host=$candidate; break; fi
  done
fi
[[ -x "$host" ]] || { echo "measure: build quarn-host first" >&2; exit 1; }
host=$(realpath "$host")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export QUARN_REGISTRY="$work/registry.reg"
echo "quarn-host: $host ($(nproc) cores)"
printf '%8s %8s %10s %8s %8s %8s %8s\n' minutes polls "peak MB" "wall s" "cpu s" "csv MB" "svg KB"
for minutes in 1000 10000; do
  cat >"long-$minutes.toml" <<METHOD
[method]
title = "Long run, $minutes min"
[pump]
system = "isocratic"
flow = 1.0
max_pressure = 250
stop_time = $minutes.0
[autosampler]
vial = 1
injection_volume = 5.0
METHOD
  /usr/bin/time -f '%M %e %U %S' -o time.txt "$host" run "long-$minutes.toml" --transport direct --virtual-time \
    --quiet --out "run-$minutes" >/dev/null
  read -r peakKb wall user system <time.txt
  polls=$(($(wc -l <"run-$minutes/status.csv") - 1))
  csv=$(stat -c %s "run-$minutes/status.csv")
  svg=$(stat -c %s "run-$minutes/status.svg")
  awk -v m="$minutes" -v p="$polls" -v k="$peakKb" -v w="$wall" -v u="$user" -v y="$system" -v c="$csv" -v s="$svg" \
    'BEGIN { printf "%8d %8d %10.1f %8.2f %8.2f %8.1f %8.1f\n", m, p, k / 1024, w, u + y, c / 1048576, s / 1024 }'
done
