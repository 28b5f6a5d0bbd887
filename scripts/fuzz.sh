#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset, clang) and runs each for
# a bounded time over its seeds, one after another. Exits non-zero on the
# first finding; the input that found it is kept in build/fuzz-findings/.
#   scripts/fuzz.sh                    every target, 20 seconds each
#   scripts/fuzz.sh 600 registry       one target (its fuzz/ folder), 10 minutes
# New inputs that reach new code collect in build/fuzz-corpus/<folder>, so a
# later run starts where the last one stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-20}"
shift || true
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(method network server com registry sequence)

declare -A target=(
  [method]=method_parse_fuzz [network]=dispatch_reply_fuzz [server]=event_sink_invoke_fuzz
  [com]=variant_change_type_fuzz [registry]=registry_parse_fuzz [sequence]=sequence_input_fuzz
)
declare -A extra_seeds=([method]=examples)

names=()
for f in "${folders[@]}"; do
  [ -n "${target[$f]:-}" ] || { echo "fuzz: no target in fuzz/$f (known: ${!target[*]})" >&2; exit 2; }
  names+=("${target[$f]}")
done

export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset fuzz -DQUARN_WERROR="${QUARN_WERROR:-OFF}" >/dev/null
cmake --build --preset fuzz --target "${names[@]}"

mkdir -p build/fuzz-findings
for f in "${folders[@]}"; do
  name="${target[$f]}"
  args=(-max_total_time="$seconds" -timeout=10 -artifact_prefix="build/fuzz-findings/$name-")
  [ -f "fuzz/$f/$f.dict" ] && args+=(-dict="fuzz/$f/$f.dict")
  mkdir -p "build/fuzz-corpus/$f"
  log="build/fuzz-findings/$name.log"
  echo "=== fuzz: $name for ${seconds}s ==="
  if ! "build/fuzz/fuzz/$f/$name" "${args[@]}" "build/fuzz-corpus/$f" "fuzz/$f/seeds" ${extra_seeds[$f]:-} >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $name found a fault; the input is in build/fuzz-findings/ (full output: $log)" >&2
    exit 1
  fi
  grep -E "^#[0-9]+[[:space:]]+DONE" "$log" | tail -n 1
done
