/* report.html's script (host/outputs/report.h), embedded in every page
 * after jQuery and Flot. It reads the page's data (the JSON in
 * #report-data), draws the charts, and says on <body> what it did:
 * data-report="ready", or "error" with the error shown in #report-status;
 * on a run's page data-peaks-drawn, the peaks labelled on the
 * chromatogram (also the text of #peaks-drawn). Texts from the data go
 * into the page as text, never as markup. */
(function () {
  "use strict";
  var body = document.body;
  var statusBox = document.getElementById("report-status");

  function showError(error) {
    var text = "The charts could not be drawn: " + (error && error.message ? error.message : String(error));
    body.setAttribute("data-report", "error");
    body.setAttribute("data-report-error", text);
    if (statusBox) {
      statusBox.className = "status error";
      statusBox.textContent = text;
    }
  }
  window.addEventListener("error", function (event) {
    showError(event.error || event.message);
  });

  var COLOURS = {
    signal: "#1f4e9c",
    pressure: "#1f4e9c",
    percentB: "#d9731a",
    percentC: "#2e8b57",
    percentD: "#7b3fa0",
    oven: "#c0392b",
    ovenSet: "#9aa6b8",
    leader: "#9aa6b8",
    selection: "#e8a33d"
  };
  // The width of every chart's y tick labels, so that the charts' time
  // axes line up one under the other.
  var Y_LABEL_WIDTH = 46;

  function pairs(flat) {
    var out = [];
    for (var i = 0; i + 1 < flat.length; i += 2) out.push([flat[i], flat[i + 1]]);
    return out;
  }

  // Ticks at a 1-2-5 step, about `count` of them, each with the decimals
  // its step needs (Flot's own would write 2.5 as "3").
  function niceTicks(count) {
    return function (axis) {
      var span = axis.max - axis.min;
      if (!(span > 0) || !isFinite(span)) return [[axis.min, String(axis.min)]];
      var raw = span / count, magnitude = Math.pow(10, Math.floor(Math.log(raw) / Math.LN10));
      var step = magnitude;
      [2, 5, 10].forEach(function (m) {
        if (Math.abs(Math.log(m * magnitude / raw)) < Math.abs(Math.log(step / raw))) step = m * magnitude;
      });
      var decimals = Math.max(0, -Math.floor(Math.log(step) / Math.LN10 + 1e-9));
      var ticks = [];
      for (var v = Math.ceil(axis.min / step - 1e-9) * step; v <= axis.max + step * 1e-9; v += step) {
        var value = Math.abs(v) < step * 1e-9 ? 0 : v;
        ticks.push([value, value.toFixed(decimals)]);
      }
      return ticks;
    };
  }

  // About one tick every 90 pixels of a chart's width.
  function tickCount(placeholder) {
    return Math.max(3, Math.min(14, Math.round(placeholder.width() / 90)));
  }

  // Flot's selection plugin zooms on "dragstart", "drag" and "dragend"
  // events of a chart's overlay, which upstream Flot gets from the
  // jquery.event.drag library it bundles. Debian's Flot has none (and
  // Debian's libjs-jquery-event-drag, version 1.5, predates jQuery 3), so
  // the page makes them from the mouse: a press, moves past 3 pixels,
  // the release.
  function dragEvents(plot) {
    var $ = jQuery, holder = $(plot.getEventHolder());
    holder.on("mousedown", function (down) {
      if (down.which !== 1) return;
      var dragging = false;
      var fire = function (type, e) {
        holder.trigger($.Event(type, { which: 1, pageX: e.pageX, pageY: e.pageY }));
      };
      var move = function (e) {
        if (!dragging) {
          if (Math.abs(e.pageX - down.pageX) + Math.abs(e.pageY - down.pageY) < 3) return;
          dragging = true;
          fire("dragstart", down);
        }
        fire("drag", e);
      };
      var up = function (e) {
        $(document).off("mousemove", move).off("mouseup", up);
        if (!dragging) return;
        fire("drag", e);
        fire("dragend", e);
      };
      $(document).on("mousemove", move).on("mouseup", up);
      down.preventDefault();  // no text selection meanwhile
    });
  }

  function options(extra) {
    var base = {
      xaxis: { ticks: niceTicks(10), autoScale: "none", labelWidth: 30 },
      yaxis: { ticks: niceTicks(5), autoScale: "none" },
      series: { shadowSize: 0, lines: { show: true, lineWidth: 1.2 } },
      grid: {
        borderWidth: 1,
        borderColor: "#9aa6b8",
        tickColor: "#eceff3",
        margin: { top: 8, right: 16, bottom: 2, left: 2 },
        minBorderMargin: 0,
        hoverable: true,
        autoHighlight: false
      },
      legend: { show: false, backgroundColor: "#ffffff", backgroundOpacity: 0.85 }
    };
    return jQuery.extend(true, base, extra);
  }

  // The range of the [t, v] points between x0 and x1 (time order).
  function rangeOf(points, x0, x1) {
    var lo = Infinity, hi = -Infinity;
    for (var i = 0; i < points.length; i++) {
      var p = points[i];
      if (p[0] < x0 || p[0] > x1 || p[1] === null) continue;
      if (p[1] < lo) lo = p[1];
      if (p[1] > hi) hi = p[1];
    }
    return lo <= hi ? [lo, hi] : null;
  }

  function padded(range, minSpan, floor) {
    if (!range) return [floor === undefined ? 0 : floor, (floor || 0) + minSpan];
    var lo = range[0], hi = range[1];
    if (hi - lo < minSpan) {
      var mid = (hi + lo) / 2;
      lo = mid - minSpan / 2;
      hi = mid + minSpan / 2;
    }
    var pad = (hi - lo) * 0.08;
    lo -= pad;
    hi += pad;
    if (floor !== undefined && lo < floor) lo = floor;
    return [lo, hi];
  }

  function drawRun(data) {
    var $ = jQuery;
    var chrom = data.chromatogram;
    var traces = data.traces;
    var charts = [];
    var tMax = Math.max(data.runMinutes || 0, 0.1);
    if (chrom) tMax = Math.max(tMax, chrom.samples * chrom.periodMin);
    if (traces) tMax = Math.max(tMax, traces.lastMinutes);
    var view = { x0: 0, x1: tMax, chromY: null };
    var labels = [];
    var chromChart = null;

    function apply() {
      charts.forEach(function (c) {
        var axes = c.plot.getAxes();
        axes.xaxis.options.min = view.x0;
        axes.xaxis.options.max = view.x1;
        var y = c === chromChart && view.chromY ? view.chromY : c.autoY(view.x0, view.x1);
        axes.yaxis.options.min = y[0];
        axes.yaxis.options.max = y[1];
        c.plot.setupGrid();
        c.plot.draw();
      });
      placeLabels();
    }
    function wholeRun() {
      view = { x0: 0, x1: tMax, chromY: null };
      apply();
    }
    function addChart(id, series, opts, autoY, mode) {
      var placeholder = $("#" + id);
      var plot = $.plot(placeholder, series, options(jQuery.extend(true, {
        xaxis: { min: 0, max: tMax, ticks: niceTicks(tickCount(placeholder)) },
        yaxis: { labelWidth: Y_LABEL_WIDTH },
        selection: { mode: mode, color: COLOURS.selection, minSize: 6 }
      }, opts)));
      dragEvents(plot);
      var chart = { plot: plot, autoY: autoY, placeholder: placeholder };
      placeholder.on("plotselected", function (event, ranges) {
        plot.clearSelection(true);
        if (!ranges.xaxis || ranges.xaxis.to - ranges.xaxis.from <= 0) return;
        view = {
          x0: ranges.xaxis.from,
          x1: ranges.xaxis.to,
          chromY: chart === chromChart && ranges.yaxis ? [ranges.yaxis.from, ranges.yaxis.to] : null
        };
        apply();
      });
      placeholder.on("dblclick", function () {
        plot.clearSelection(true);
        wholeRun();
      });
      charts.push(chart);
      return chart;
    }

    // The chromatogram, each peak labelled over its apex.
    var signal = [];
    var leaders = null;
    if (chrom) {
      var dt = chrom.periodMin;
      // Every sample, or (a long run) the samples at chrom.index.
      for (var i = 0; i < chrom.mau.length; i++) signal.push([(chrom.index ? chrom.index[i] : i) * dt, chrom.mau[i]]);
      // The place of the last point at or before t (0 before the first).
      var placeOf = function (t) {
        if (!chrom.index) return Math.min(signal.length - 1, Math.max(0, Math.floor(t / dt + 1e-9)));
        var lo = 0, hi = signal.length - 1;
        while (lo < hi) {
          var mid = (lo + hi + 1) >> 1;
          if (signal[mid][0] <= t) lo = mid; else hi = mid - 1;
        }
        return lo;
      };
      var apexOf = function (rt) {
        var at = placeOf(rt + dt / 2), best = null;
        for (var k = Math.max(0, at - 2); k <= Math.min(signal.length - 1, at + 2); k++) {
          if (signal[k][1] !== null && (best === null || signal[k][1] > best)) best = signal[k][1];
        }
        return best;
      };
      var chromY = function (x0, x1) {
        var from = placeOf(x0), to = Math.min(signal.length - 1, placeOf(x1) + 1);
        var lo = Infinity, hi = -Infinity;
        for (var k = from; k <= to; k++) {
          var v = signal[k][1];
          if (v === null) continue;
          if (v < lo) lo = v;
          if (v > hi) hi = v;
        }
        if (!(lo <= hi)) return [0, 1];
        if (hi - lo < 1) hi = lo + 1;
        var pad = (hi - lo) * 0.04;
        lo -= pad;
        var top = hi + pad;
        // Room over each apex for its label.
        var height = chromChart.plot.height();
        labels.forEach(function (l) {
          if (l.rt < x0 || l.rt > x1 || l.apex === null) return;
          var room = l.height + 10;
          if (room > 0.7 * height) return;
          var share = room / height;
          top = Math.max(top, (l.apex - lo * share) / (1 - share));
        });
        return [lo, top];
      };
      chromChart = addChart("chromatogram", [{ data: signal, color: COLOURS.signal, lines: { lineWidth: 1.1 } }], {
        xaxis: { axisLabel: "Time (min)" },
        yaxis: { axisLabel: "Absorbance at " + chrom.wavelengthNm + " nm (mAU)" }
      }, chromY, "xy");
      var placeholder = chromChart.placeholder;
      leaders = document.createElementNS("http://www.w3.org/2000/svg", "svg");
      leaders.setAttribute("class", "leaders");
      leaders.setAttribute("width", "1");
      leaders.setAttribute("height", "1");
      placeholder[0].appendChild(leaders);
      data.peaks.forEach(function (peak) {
        if (peak.rt === null) return;
        var el = document.createElement("div");
        el.className = "peak-label";
        var name = document.createElement("span");
        name.className = "compound";
        // A long name is cut on the chart (whole in the table and the tooltip).
        var letters = Array.from(peak.compound);
        name.textContent = letters.length > 32 ? letters.slice(0, 30).join("") + "\u2026" : peak.compound;
        var rt = document.createElement("span");
        rt.className = "rt";
        rt.textContent = " " + peak.rt.toFixed(2);
        el.appendChild(name);
        el.appendChild(rt);
        el.title = peak.compound + ": " + peak.rt.toFixed(3) + " min" +
          (peak.height !== null ? ", " + peak.height.toFixed(2) + " mAU" : "") +
          (peak.area !== null ? ", " + peak.area.toFixed(2) + " mAU\u00b7s" : "");
        placeholder[0].appendChild(el);
        labels.push({ rt: peak.rt, apex: apexOf(peak.rt), el: el, width: el.offsetWidth, height: el.offsetHeight });
      });
      labels.sort(function (a, b) { return a.rt - b.rt; });

      var cursor = $("#cursor");
      placeholder.on("plothover", function (event, pos) {
        var k = placeOf(pos.x + dt / 2);
        if (pos.x < 0 || pos.x > tMax || signal[k][1] === null) {
          cursor.text("");
          return;
        }
        cursor.text(pos.x.toFixed(3) + " min, " + signal[k][1].toFixed(2) + " mAU");
      });
      placeholder.on("mouseleave", function () { cursor.text(""); });
    }

    // Places the labels of the peaks in view over their apexes; a label
    // that would overlap the one before moves right, a line to its apex.
    function placeLabels() {
      if (!chromChart) return;
      var plot = chromChart.plot;
      var offset = plot.getPlotOffset();
      var axes = plot.getAxes();
      var right = -Infinity;
      var drawn = 0;
      while (leaders.firstChild) leaders.removeChild(leaders.firstChild);
      labels.forEach(function (l) {
        if (l.rt < axes.xaxis.min || l.rt > axes.xaxis.max) {
          l.el.style.display = "none";
          return;
        }
        var x = offset.left + axes.xaxis.p2c(l.rt);
        var apex = l.apex === null ? axes.yaxis.min : Math.min(Math.max(l.apex, axes.yaxis.min), axes.yaxis.max);
        var yApex = offset.top + axes.yaxis.p2c(apex);
        // A peak that rises out of view: its label hangs from the top,
        // beside the peak rather than over it.
        var above = l.apex !== null && l.apex > axes.yaxis.max;
        var centre = Math.max(above ? x + 3 + l.width / 2 : x, right + l.width / 2 + 1);
        right = centre + l.width / 2;
        var bottom = above ? offset.top + 2 + l.height : Math.max(yApex - 5, offset.top + l.height);
        if (above) x = centre;
        l.el.style.display = "";
        l.el.style.left = (centre - l.width / 2) + "px";
        l.el.style.top = (bottom - l.height) + "px";
        if (Math.abs(centre - x) > 1) {
          var line = document.createElementNS("http://www.w3.org/2000/svg", "line");
          line.setAttribute("x1", x);
          line.setAttribute("y1", yApex - 2);
          line.setAttribute("x2", centre);
          line.setAttribute("y2", bottom);
          line.setAttribute("stroke", COLOURS.leader);
          line.setAttribute("stroke-width", "1");
          leaders.appendChild(line);
        }
        drawn++;
      });
      body.setAttribute("data-peaks-drawn", String(drawn));
      $("#peaks-drawn").text(String(drawn));
    }

    // The pump and the oven, on the chromatogram's time axis.
    if (traces) {
      var pressure = pairs(traces.pressure);
      addChart("pressure", [{ data: pressure, color: COLOURS.pressure }], {
        xaxis: { showTickLabels: "none" },
        yaxis: { axisLabel: "Pressure (bar)" }
      }, function (x0, x1) { return padded(rangeOf(pressure, x0, x1), 10, 0); }, "x");

      var composition = [{ data: pairs(traces.percentB), color: COLOURS.percentB, label: "%B" }];
      if (traces.percentC) composition.push({ data: pairs(traces.percentC), color: COLOURS.percentC, label: "%C" });
      if (traces.percentD) composition.push({ data: pairs(traces.percentD), color: COLOURS.percentD, label: "%D" });
      addChart("composition", composition, {
        xaxis: { showTickLabels: "none" },
        yaxis: { axisLabel: composition.length > 1 ? "Composition (%)" : "Composition (%B)" },
        legend: { show: composition.length > 1, position: "nw" }
      }, function () { return [0, 100]; }, "x");

      var oven = pairs(traces.oven);
      var ovenSeries = [{ data: oven, color: COLOURS.oven, label: "Oven" }];
      if (traces.ovenSet !== null) {
        ovenSeries.unshift({
          data: [[0, traces.ovenSet], [tMax, traces.ovenSet]],
          color: COLOURS.ovenSet,
          lines: { lineWidth: 1 },
          label: "Set point " + traces.ovenSet + " \u00b0C"
        });
      }
      addChart("oven", ovenSeries, {
        xaxis: { axisLabel: "Time (min)" },
        yaxis: { axisLabel: "Oven (\u00b0C)" },
        legend: { show: traces.ovenSet !== null, position: "se" }
      }, function (x0, x1) {
        var range = rangeOf(oven, x0, x1);
        if (traces.ovenSet !== null) {
          range = range ? [Math.min(range[0], traces.ovenSet), Math.max(range[1], traces.ovenSet)]
                        : [traces.ovenSet, traces.ovenSet];
        }
        return padded(range, 2);
      }, "x");
    }

    $("#whole-run").on("click", wholeRun);
    var resizing = null;
    $(window).on("resize", function () {
      clearTimeout(resizing);
      resizing = setTimeout(function () {
        charts.forEach(function (c) { c.plot.resize(); });
        apply();
      }, 100);
    });
    apply();
    if (!chrom) body.setAttribute("data-peaks-drawn", "0");
  }

  function drawSequence(data) {
    var $ = jQuery;
    var drawn = 0;
    data.calibrations.forEach(function (line, index) {
      var points = line.points.map(function (p) { return [p[0], p[1]]; });
      var hi = 0;
      points.forEach(function (p) { hi = Math.max(hi, p[0]); });
      hi = hi > 0 ? hi * 1.05 : 1;
      var fitted = [[0, line.intercept], [hi, line.slope * hi + line.intercept]];
      var placeholder = $("#calibration-" + index);
      $.plot(placeholder, [
        { data: fitted, color: "#1f4e9c", lines: { show: true, lineWidth: 1.5 } },
        { data: points, color: "#d9731a", lines: { show: false }, points: { show: true, radius: 4, fill: true, fillColor: "#d9731a" } }
      ], options({
        xaxis: { min: 0, max: hi, ticks: niceTicks(tickCount(placeholder)), axisLabel: "Concentration (" + data.unit + ")" },
        yaxis: { autoScale: "loose", axisLabel: "Area (mAU\u00b7s)" },
        grid: { hoverable: false }
      }));
      drawn++;
    });
    body.setAttribute("data-calibrations-drawn", String(drawn));
  }

  try {
    if (!window.jQuery || !jQuery.plot) throw new Error("the embedded chart library did not load");
    var data = JSON.parse(document.getElementById("report-data").textContent);
    if (data.kind === "run") {
      drawRun(data);
    } else {
      drawSequence(data);
    }
    if (body.getAttribute("data-report") !== "error") body.setAttribute("data-report", "ready");
  } catch (error) {
    showError(error);
  }
})();
