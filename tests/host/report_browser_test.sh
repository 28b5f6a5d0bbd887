#!/usr/bin/env bash
# report.html in a real browser: headless Chromium opens the pages the host
# program writes, with no network, and they must draw.
#  1. `quarn-host run` of examples/impurities-binary-gradient.quarn900.toml
#     in virtual time on the simulated instruments; its report.html must
#     end with data-report="ready", label as many peaks as peaks.csv has
#     rows (data-peaks-drawn and #peaks-drawn), each compound's label in
#     the DOM; a drag zooms every chart to its time range, a double click
#     shows the whole run again. A screenshot of it is kept in OUTPUT_FOLDER
#     (report-screenshot.png), for a developer to look at.
#  2. A sequence of two samples: its report.html is ready and links each
#     sample's report.html, which is there.
#  3. Pages with what a sequence does not fill yet (calibration lines,
#     suitability results) and hostile names, written by the unit tests'
#     program (ReportTest.SamplePagesForABrowser): ready, both calibration
#     charts drawn (report-sequence-screenshot.png beside the first); a
#     long run's page, which holds stretches of the signal.
#   report_browser_test.sh QUARN_HOST EXAMPLES_FOLDER HOST_UNIT_TESTS OUTPUT_FOLDER CHROMIUM
# QUARN_KEEP_TEST_FOLDER=1 keeps the runs and the dumped pages.
set -uo pipefail
program=$1 examples=$(cd "$2" && pwd) unit_tests=$3 output=$4 chromium=$5
mkdir -p "$output"
output=$(cd "$output" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quarn-report-browser.XXXXXX")
failures=0
trap '[ "$failures" = 0 ] && [ -z "${QUARN_KEEP_TEST_FOLDER:-}" ] && rm -rf "$work" || echo "kept: $work"' EXIT
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Chromium as root needs --no-sandbox; a profile of its own in the work
# folder; no name resolves, so a page that reached for the network would
# not draw. A time limit on each start, so a hung browser fails the test.
browser() {
  timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run \
    --no-default-browser-check --disable-extensions --disable-background-networking --disable-sync \
    --host-resolver-rules="MAP * ~NOTFOUND" --user-data-dir="$work/profile" --virtual-time-budget=10000 "$@"
}
# The DOM after the page's scripts ran, into $work/NAME.dom.
dump() {
  local page=$1 name=$2
  browser --dump-dom "file://$page" >"$work/$name.dom" 2>"$work/$name.err"
  local status=$?
  [ $status = 0 ] || fail "$name: chromium exited with $status: $(tail -5 "$work/$name.err")"
}
# What a failure shows of a dumped page: its body tag, the status line,
# and the end of the DOM with the scripts' texts left out.
show() {
  local name=$1
  echo "--- $name: $(grep -o '<body[^>]*>' "$work/$name.dom" | head -1)"
  perl -0777 -pe 's{(<script\b[^>]*>).*?</script>}{$1...</script>}gs' "$work/$name.dom" | tail -c 3000
  echo
  echo "--- end of $name"
}
body_attribute() {  # NAME ATTRIBUTE
  grep -o '<body[^>]*>' "$work/$1.dom" | head -1 | grep -o " $2=\"[^\"]*\"" | sed 's/.*="\(.*\)"/\1/'
}
expect_ready() {
  local name=$1 state
  state=$(body_attribute "$name" data-report)
  if [ "$state" != ready ]; then
    fail "$name: data-report is \"$state\", not \"ready\""
    show "$name"
    return 1
  fi
}

# 1. A run.
cd "$work" || exit 1
export QUARN_REGISTRY="$work/registry.reg"
if ! "$program" run "$examples/impurities-binary-gradient.quarn900.toml" --transport direct --virtual-time --quiet \
  --out run >run.out 2>&1; then
  fail "quarn-host run exited $?: $(tail -5 run.out)"
fi
if [ ! -f run/report.html ]; then
  fail "the run wrote no report.html: $(tail -5 run.out)"
else
  dump "$work/run/report.html" run
  if expect_ready run; then
    # Every row of peaks.csv is labelled (the example's peaks are all
    # measured; an unmeasured one, with no retention time, would not be).
    rows=$(tail -n +2 run/peaks.csv | grep -c .)
    drawn=$(body_attribute run data-peaks-drawn)
    shown=$(grep -o '<span id="peaks-drawn">[0-9]*</span>' "$work/run.dom" | grep -o '[0-9]\+')
    [ "$rows" -gt 0 ] || fail "peaks.csv has no rows"
    [ "$drawn" = "$rows" ] || fail "the page labelled $drawn peaks (data-peaks-drawn), peaks.csv has $rows rows"
    [ "$shown" = "$rows" ] || fail "#peaks-drawn says \"$shown\", peaks.csv has $rows rows"
    while IFS=, read -r _ compound _; do
      grep -q "<span class=\"compound\">$compound</span>" "$work/run.dom" ||
        fail "no label \"$compound\" on the chromatogram"
    done < <(tail -n +2 run/peaks.csv)
    [ "$failures" = 0 ] || show run
  fi
  # A drag over the chromatogram from 7 to 11 min zooms every chart to it;
  # a double click shows the whole run again (mouse events, as a user's).
  sed 's|</body>|<script>\
addEventListener("load", function () {\
  var plot = jQuery("#chromatogram").data("plot"), o = plot.getPlotOffset(), a = plot.getAxes();\
  var overlay = plot.getEventHolder(), box = overlay.getBoundingClientRect();\
  var mouse = function (target, type, t, mau) {\
    target.dispatchEvent(new MouseEvent(type, { bubbles: true, button: 0, buttons: 1,\
      clientX: box.left + o.left + a.xaxis.p2c(t), clientY: box.top + o.top + a.yaxis.p2c(mau) }));\
  };\
  mouse(overlay, "mousedown", 7, 45); mouse(document, "mousemove", 9, 35); mouse(document, "mouseup", 11, 25);\
  var range = function (id) { var x = jQuery(id).data("plot").getAxes().xaxis; return x.min.toFixed(1) + "-" + x.max.toFixed(1); };\
  document.body.setAttribute("data-zoomed", range("#chromatogram") + " " + range("#oven"));\
  mouse(overlay, "dblclick", 1, 1);\
  document.body.setAttribute("data-whole", range("#chromatogram") + " " + range("#oven"));\
});\
</script></body>|' run/report.html >run/zoom.html
  dump "$work/run/zoom.html" zoom
  zoomed=$(body_attribute zoom data-zoomed) whole=$(body_attribute zoom data-whole)
  [ "$zoomed" = "7.0-11.0 7.0-11.0" ] || fail "a drag from 7 to 11 min zoomed the chromatogram and the oven to $zoomed"
  [[ "$whole" =~ ^0\.0-2[5-9]\.[0-9]\ 0\.0-2[5-9]\.[0-9]$ ]] || fail "a double click showed $whole, not the whole run"
  rm -f "$output/report-screenshot.png"
  browser --window-size=1200,1750 --hide-scrollbars --screenshot="$output/report-screenshot.png" \
    "file://$work/run/report.html" >/dev/null 2>"$work/screenshot.err"
  if [ -s "$output/report-screenshot.png" ]; then
    echo "screenshot of the run's report.html: $output/report-screenshot.png"
  else
    fail "no screenshot: $(tail -5 "$work/screenshot.err")"
  fi
fi

# 2. A small sequence.
cp "$examples/impurities-binary-gradient.quarn900.toml" "$work/"
printf 'sample,method,vial,volume\nstd <1>,impurities-binary-gradient.quarn900.toml,1,5\n"lot ""B""",impurities-binary-gradient.quarn900.toml,12,5\n' \
  >"$work/list.csv"
if ! "$program" sequence list.csv --tray "$examples/impurities-binary-gradient.tray.toml" --transport direct \
  --virtual-time --quiet --out seq >seq.out 2>&1; then
  fail "quarn-host sequence exited $?: $(tail -5 seq.out)"
fi
if [ ! -f seq/report.html ]; then
  fail "the sequence wrote no report.html: $(tail -5 seq.out)"
else
  dump "$work/seq/report.html" sequence
  if expect_ready sequence; then
    links=$(grep -o 'href="[^"]*/report.html"' "$work/sequence.dom" | sed 's/href="\(.*\)"/\1/')
    [ "$(echo "$links" | grep -c .)" = 2 ] || fail "the sequence's page links $(echo "$links" | grep -c .) run pages, not 2"
    for link in $links; do
      [ -f "seq/$link" ] || fail "the sequence's page links $link, which is not there"
    done
    grep -q '&lt;1&gt;' "$work/sequence.dom" || fail "the sample \"std <1>\" is not on the sequence's page"
  fi
fi

# 3. Calibration lines and suitability results, and hostile names.
mkdir -p "$work/samples"
if ! QUARN_REPORT_SAMPLES="$work/samples" "$unit_tests" --gtest_filter=ReportTest.SamplePagesForABrowser >samples.out 2>&1; then
  fail "the sample pages were not written: $(tail -5 samples.out)"
fi
dump "$work/samples/sequence-sample.html" calibrated
if expect_ready calibrated; then
  calibrations=$(body_attribute calibrated data-calibrations-drawn)
  [ "$calibrations" = 2 ] || fail "the sample sequence page drew $calibrations calibration charts, not 2"
fi
rm -f "$output/report-sequence-screenshot.png"
browser --window-size=1200,1300 --hide-scrollbars --screenshot="$output/report-sequence-screenshot.png" \
  "file://$work/samples/sequence-sample.html" >/dev/null 2>&1 ||
  fail "no screenshot of the sample sequence page"
dump "$work/samples/run-sample.html" hostile
if expect_ready hostile; then
  [ "$(body_attribute hostile data-peaks-drawn)" = 1 ] || fail "the page with a hostile name labelled no peak"
fi
dump "$work/samples/long-run-sample.html" long
if expect_ready long; then
  [ "$(body_attribute long data-peaks-drawn)" = 1 ] || fail "the long run's page labelled no peak"
fi

if [ "$failures" = 0 ]; then
  echo "report.html drew in Chromium: a run (every peak labelled), a sequence and the sample pages"
  exit 0
fi
echo "$failures failures"
exit 1
