#!/usr/bin/env bash
# The simulated server in a program of its own, under wine: each run below
# is made twice, once with the server in the host's process and once in
# TavixServer.exe started by the plug-in's CoCreateInstance, and the two
# must agree in their exit code, their status rows (in virtual time) and
# the server calls and events of the server's trace. The second run's
# logbook names the server's program, and the program has ended once the
# run let go of it.
#   server_program_test.sh WINE BIN_FOLDER EXAMPLES_FOLDER
#       the shortest example, the server's faults, a sequence, a server
#       killed, hosts killed and a real server registered
#   server_program_test.sh WINE BIN_FOLDER EXAMPLES_FOLDER example METHOD
#       one example method, whole, in a wine folder of its own
# Under wine a call across processes costs about a millisecond, so a
# 25-minute run takes about two minutes with the server in its own
# program: each example is a test of its own, run beside the others.
set -uo pipefail
wine=$1 bin=$(cd "$2" && pwd) examples=$(cd "$3" && pwd) which=${4:-} example=${5:-}
work=$(mktemp -d)
trap '[ "$failures" = 0 ] && [ -z "${QUARN_KEEP_TEST_FOLDER:-}" ] && rm -rf "$work" || echo "runs kept in $work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
wineserver=$(dirname "$wine")/wineserver
if [ "$which" = example ]; then
  # A wine folder of the test's own, so that it can run beside the other
  # tests, which register the server in theirs: a copy of the suite's,
  # whose folders of wine's own libraries (never written) are linked.
  from=${WINEPREFIX:?no wine folder given}
  export WINEPREFIX=$work/wineprefix
  mkdir "$WINEPREFIX"
  for entry in "$from"/* "$from"/.[!.]*; do
    [ -e "$entry" ] && [ "$(basename "$entry")" != drive_c ] && cp -a "$entry" "$WINEPREFIX/"
  done
  mkdir "$WINEPREFIX/drive_c"
  for entry in "$from"/drive_c/*; do
    if [ "$(basename "$entry")" = windows ]; then cp -al "$entry" "$WINEPREFIX/drive_c/"; else cp -a "$entry" "$WINEPREFIX/drive_c/"; fi
  done
  trap '"$wineserver" -k 2>/dev/null; [ "$failures" = 0 ] && [ -z "${QUARN_KEEP_TEST_FOLDER:-}" ] && rm -rf "$work" || echo "runs kept in $work"' EXIT
fi
# A wine folder whose services are still starting (just made, or left
# by a test a moment ago) cannot start the server's program: wait until
# its wine server is idle.
"$wineserver" -w 2>/dev/null || true
in_work() { (cd "$work" && QUARN_REGISTRY=registry.reg "$wine" "$@"); }
# quarn-host with its thread in the apartment $apartment (single, multi).
# A run takes seconds (an example, minutes); one that hangs is stopped
# after five minutes (an example, fifteen) and fails the test with what it
# had done, rather than holding it to its limit.
limit=300
[ "$which" = example ] && limit=900
host() {
  (cd "$work" && QUARN_REGISTRY=registry.reg QUARN_HOST_APARTMENT=$apartment \
    timeout --kill-after=10 "$limit" "$wine" "$bin/quarn-host.exe" "$@")
}
# The server programs of this test's wine folder (others may run beside).
server_pids() {
  local pid
  for pid in $(pgrep -f 'TavixServer.exe -Embedding'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
server_gone() {
  for _ in $(seq 100); do
    [ -z "$(server_pids)" ] && return 0
    sleep 0.1
  done
  return 1
}

cp "$examples"/*.quarn900.toml "$examples"/*.tray.toml "$work"
if [ "$which" = example ]; then
  runs=("$example")
else
  runs=(caffeine-isocratic.quarn900.toml
    # The gradient example, injected at once and stopped half a minute in:
    # the pump's solvents and the oven.
    "impurities-binary-gradient.quarn900.toml --ready-timeout 0.1 --if-not-ready inject --fault error-event@0.5"
    "caffeine-isocratic.quarn900.toml --fault error-event@3"
    "caffeine-isocratic.quarn900.toml --fault unit-never-connects:pump"
    "caffeine-isocratic.quarn900.toml --fault server-call:Session.StartRun=0x80004005"
    # A column that lost its plates: the setting crosses to the server's
    # program, whose peaks are as wide as in the host's process.
    "caffeine-isocratic.quarn900.toml --fault column-degraded:10"
    # The server's end: in the host's process it stops answering, its own
    # program exits; the plug-in sees the same failed calls.
    "caffeine-isocratic.quarn900.toml --fault server-exit@3"
    # The host's thread in the multithreaded apartment, where the events come
    # on the system's threads, not through the thread's messages.
    "multi:caffeine-isocratic.quarn900.toml --fault error-event@3")
fi

n=0
for run in "${runs[@]}"; do
  n=$((n + 1))
  apartment=single
  case $run in multi:*) apartment=multi run=${run#multi:} ;; esac
  in_work "$bin/TavixServer.exe" /UnregServer || fail "$run: /UnregServer"
  # shellcheck disable=SC2086 # a run is a method and its options
  host run $run --transport server --virtual-time --trace --quiet --out "in$n" >/dev/null 2>"$work/in$n.err"
  inside=$?
  in_work "$bin/TavixServer.exe" /RegServer || fail "$run: /RegServer"
  started=$(date +%s)
  # shellcheck disable=SC2086
  host run $run --transport server --virtual-time --trace --quiet --out "out$n" >/dev/null 2>"$work/out$n.err"
  outside=$?
  if [ "$outside" = 124 ] || [ "$outside" = 137 ]; then
    fail "$run: the run with the server in its own program hung; its last server calls: $(tail -5 "$work/out$n/server-calls.log" 2>/dev/null)"
    "$wineserver" -k 2>/dev/null || true
    continue
  fi
  echo "$run: exit $outside, $(($(date +%s) - started)) s with the server in its own program"
  [ "$inside" = "$outside" ] ||
    fail "$run: exit $outside with the server in its own program, $inside in the host's: $(cat "$work/out$n.err")"
  # The last row's note gives the run's result, in which a lost server is
  # named as each layout names it (below).
  rows() { sed '$s/,run,.*/,run,/' "$1/status.csv"; }
  cmp -s <(rows "$work/in$n") <(rows "$work/out$n") ||
    fail "$run: status.csv differs: $(diff <(rows "$work/in$n") <(rows "$work/out$n") | head -5)"
  # The same calls and events, each as often: in process the server's
  # clock starts a millisecond late (it is made while the run's clock is
  # still the wall's), which moves a few events by that millisecond.
  calls() { cut -c12- "$1" | sort; }
  cmp -s <(calls "$work/in$n/server-calls.log") <(calls "$work/out$n/server-calls.log") ||
    fail "$run: other server calls: $(diff <(calls "$work/in$n/server-calls.log") <(calls "$work/out$n/server-calls.log") | head -5)"
  # What the detectors recorded crosses whole: the same peaks.
  if [ -f "$work/in$n/peaks.csv" ]; then
    cmp -s "$work/in$n/peaks.csv" "$work/out$n/peaks.csv" ||
      fail "$run: peaks.csv differs: $(diff "$work/in$n/peaks.csv" "$work/out$n/peaks.csv" | head -5)"
  fi
  result() { grep -o "run result: .*" "$1/logbook.txt"; }
  case $run in
  *server-exit*)
    # The same run, its cause in each layout's words.
    lost="run result: failed at 2.9 of 8.0 min: the instrument server was lost:"
    [ "$(result "$work/in$n")" = "$lost the simulated server stopped answering; injected fault: server-exit@3" ] ||
      fail "$run in process: $(result "$work/in$n")"
    [[ "$(result "$work/out$n")" =~ ^"$lost TavixServer.exe (process "[0-9]+") ended, exit code 3; injected" ]] ||
      fail "$run: $(result "$work/out$n")"
    ;;
  *)
    [ "$(result "$work/in$n")" = "$(result "$work/out$n")" ] ||
      fail "$run: $(result "$work/out$n") with the server in its own program, $(result "$work/in$n") in the host's"
    ;;
  esac
  # The server answers from a process of its own: the plug-in's has no
  # class of it registered (its control would answer from there).
  pids=$(grep -o "own program, TavixServer.exe (process [0-9]*); this program is process [0-9]*\." \
    "$work/out$n/logbook.txt" | grep -o "[0-9][0-9]*")
  [ "$(echo "$pids" | sort -u | wc -l)" = 2 ] || fail "$run: the logbook names no server program of its own: $pids"
  if grep -q "own program" "$work/in$n/logbook.txt"; then fail "$run: the in-process run names a program"; fi
  server_gone || fail "$run: TavixServer.exe still runs 10 s after the run"
done
if [ "$which" = example ]; then
  echo "$failures failures"
  [ "$failures" = 0 ]
  exit
fi
# A sequence whose blank run starts the pump's gradient alone and whose
# shutdown switches the lamp off: the calls no single run makes cross too.
printf '%s\n' "sample,method,vial,volume,injections,action,minutes,note" \
  "blank,caffeine-isocratic.quarn900.toml,,,1,blank,," "shutdown,,,,1,shutdown,," >"$work/list.csv"
apartment=single
in_work "$bin/TavixServer.exe" /UnregServer
host sequence list.csv --transport server --virtual-time --trace --quiet --out seq-in >/dev/null 2>&1
in_work "$bin/TavixServer.exe" /RegServer
host sequence list.csv --transport server --virtual-time --trace --quiet --out seq-out >/dev/null 2>&1 ||
  fail "the sequence exits $? with the server in its own program"
for sample in 001-blank 002-shutdown; do
  cmp -s "$work/seq-in/$sample/status.csv" "$work/seq-out/$sample/status.csv" || fail "the sequence's $sample differs"
done
for call in Session.PrepareRun UVUnit.SendSettings UV.SetWavelength UV.SetResponse UV.SetLampState; do
  grep -q "$call(" "$work/seq-out/server-calls.log" || fail "the sequence made no $call"
done
# The pump switched on again in a run that stopped its flow, which only a
# host of the test's own does: the pump's flow is set across too.
printf '%s\n' "[pump]" "flow = 1.0" "max_pressure = 400" "stop_time = 2.0" "[[pump.timetable]]" "time = 0.0" \
  "flow = 1.0" "[[pump.timetable]]" "time = 0.5" "flow = 0.0" >"$work/restart.toml"
in_work "$bin/pump_restart_probe.exe" . restart.toml restart-calls.log >/dev/null 2>&1 ||
  fail "the pump was not switched on again in the run"
for call in "Pump.SetFlow(1)" "PumpUnit.SendSettings()"; do
  grep -qF "$call" "$work/restart-calls.log" || fail "the pump switched on again made no $call"
done
server_gone || fail "the probe's TavixServer.exe still runs 10 s after it"
# Paced to the wall clock, sped up: the error event reaches the host's
# thread while the run keeps pace with the wall.
apartment=single
in_work "$bin/TavixServer.exe" /RegServer
host run caffeine-isocratic.quarn900.toml --transport server --speed 30 --fault error-event@0.5 --quiet \
  --out speed >/dev/null 2>&1
code=$?
[ "$code" = 1 ] || fail "the sped-up run exits $code"
grep -q "run result: failed at .* min: the instruments reported: External Input #1 error; injected fault" \
  "$work/speed/logbook.txt" || fail "the sped-up run's result: $(grep -o "run result: .*" "$work/speed/logbook.txt")"
server_gone || fail "the sped-up run's TavixServer.exe still runs 10 s after the run"
# The server killed from outside in a run: the run ends at its next poll,
# with the lost server as its cause. Windows forgets a killed program's
# class at once, wine only with its session: the next run after that
# starts a fresh program.
host run caffeine-isocratic.quarn900.toml --transport server --virtual-time --quiet --out served >/dev/null 2>&1 &
for _ in $(seq 600); do
  [ -f "$work/served/status.csv" ] && [ "$(wc -l <"$work/served/status.csv")" -gt 100 ] && break
  sleep 0.1
done
pids=$(server_pids)
[ -n "$pids" ] || fail "no server program to kill in the run"
# shellcheck disable=SC2086 # one or more process ids
kill -9 $pids
killed=$(date +%s)
wait $!
code=$?
[ "$code" = 1 ] || fail "the run whose server was killed exits $code"
[ $(($(date +%s) - killed)) -le 10 ] || fail "the run whose server was killed took $(($(date +%s) - killed)) s to end"
grep -q "run result: failed at .* min: the instrument server was lost: TavixServer.exe (process [0-9]*) ended" \
  "$work/served/logbook.txt" || fail "a killed server's run: $(grep -o "run result: .*" "$work/served/logbook.txt")"
"$wineserver" -k 2>/dev/null
"$wineserver" -w 2>/dev/null
host run caffeine-isocratic.quarn900.toml --transport server --virtual-time --quiet --out renewed >/dev/null 2>&1 ||
  fail "the run after a killed server exits $?"
cmp -s "$work/in1/status.csv" "$work/renewed/status.csv" || fail "the run after a killed server differs"
# A host killed in its run with the server in its own process: its class
# was never the system's, so the next run starts the server's program.
in_work "$bin/TavixServer.exe" /UnregServer
host run caffeine-isocratic.quarn900.toml --transport server --speed 60 --quiet --out inside-killed >/dev/null 2>&1 &
for _ in $(seq 600); do
  [ -f "$work/inside-killed/status.csv" ] && [ "$(wc -l <"$work/inside-killed/status.csv")" -gt 5 ] && break
  sleep 0.1
done
pkill -9 -f 'quarn-host.exe run .*--out inside-killed'
wait
in_work "$bin/TavixServer.exe" /RegServer
host run caffeine-isocratic.quarn900.toml --transport server --virtual-time --quiet --out after-inside \
  >/dev/null 2>"$work/after-inside.err" || fail "the run after a killed host exits $?: $(cat "$work/after-inside.err")"
grep -q "own program, TavixServer.exe" "$work/after-inside/logbook.txt" ||
  fail "the run after a host killed with the server inside names no program of the server's"
# A host killed in its run: the program it started ends all the same, and
# the next run is whole.
in_work "$bin/TavixServer.exe" /RegServer
host run caffeine-isocratic.quarn900.toml --transport server --virtual-time --quiet \
  --out killed >/dev/null 2>&1 &
for _ in $(seq 600); do
  [ -f "$work/killed/status.csv" ] && [ "$(wc -l <"$work/killed/status.csv")" -gt 20 ] && break
  sleep 0.1
done
pkill -9 -f 'quarn-host.exe run .*--out killed'
wait
server_gone || fail "a killed host's TavixServer.exe still runs 10 s later"
host run caffeine-isocratic.quarn900.toml --transport server --virtual-time --quiet \
  --out after >/dev/null 2>&1 || fail "the run after a killed host exits $?"
cmp -s "$work/in1/status.csv" "$work/after/status.csv" || fail "the run after a killed host differs"
# A server registered that is not the simulator's program: no simulator
# answers, so the instruments are real, on the system clock.
in_work "$bin/TavixServer.exe" /UnregServer
class='HKCR\CLSID\{39F196AA-1F30-4DC2-9EA6-35630AA3125C}'
in_work reg add "$class\LocalServer32" /ve /d 'C:\elsewhere\TavixServer.exe' /f >/dev/null 2>&1
refused=$(host run caffeine-isocratic.quarn900.toml --transport server --virtual-time --out real 2>&1)
code=$?
[ "$code" = 2 ] || fail "--virtual-time with a real server registered exits $code"
[[ "$refused" == *"--virtual-time: the instruments are real"* ]] || fail "with a real server registered: $refused"
host run caffeine-isocratic.quarn900.toml --transport server --quiet --out real >/dev/null 2>&1
grep -q "the instruments are real" "$work/real/logbook.txt" || fail "a real server's run does not say so"
grep -q "run result: failed at 0.0 of 8.0 min: communications failed: Failed to open Quarn server!" \
  "$work/real/logbook.txt" || fail "a real server out of reach: $(grep -o "run result: .*" "$work/real/logbook.txt")"
in_work reg delete "$class" /f >/dev/null 2>&1
echo "$failures failures"
[ "$failures" = 0 ]
