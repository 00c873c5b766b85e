// The page of `tarnvale view`: asks the server's JSON API for what it shows and
// draws it with plotly.js. The server reduces every long trace to the plot's width
// (each pixel column keeps its lowest and highest point) and bins ion-mobility maps
// to the plot's size; zooming asks again for the window shown.
"use strict";

(() => {
  const token = new URLSearchParams(window.location.search).get("token") || "";
  const $ = (id) => document.getElementById(id);
  const plotConfig = { responsive: true, displaylogo: false };
  const smallPlotConfig = { ...plotConfig, displayModeBar: false };
  const colours = ["#1f5f9f", "#c0502a", "#2d8a4e", "#8a3d9c", "#b8860b", "#17808a", "#a33a5b", "#555555"];
  const PEAK_LABELS = 8;

  // This script runs before plotly.js (both deferred, in that order), so that the
  // first requests are on their way while the browser compiles plotly.js.
  const plotlyLoaded = new Promise((resolve) => {
    if (window.Plotly) resolve();
    else document.addEventListener("DOMContentLoaded", resolve);
  });

  async function react(element, data, layout, config = plotConfig) {
    await plotlyLoaded;
    return Plotly.react(element, data, layout, config);
  }

  const state = {
    run: 0,
    runs: [],
    overview: null,
    functions: [], // functions with scans, as /api/run lists them
    panels: new Map(), // function number -> its chromatogram plot element
    rtRange: null, // the shared retention-time window, null for everything
    selected: null, // { function, scan, rt }
    spectrumWindow: null, // [mz_low, mz_high] or null
    imsWindow: null, // { mz: [low, high], drift: [low, high] } or null
    syncing: false,
    generation: 0, // bumped when another run is chosen; late answers for the old one are dropped
  };

  // ---- talking to the server -------------------------------------------------

  async function api(path, params = {}) {
    const query = new URLSearchParams();
    for (const [key, value] of Object.entries(params)) {
      if (value === null || value === undefined) continue;
      if (Array.isArray(value)) value.forEach((v) => query.append(key, v));
      else query.append(key, value);
    }
    const response = await fetch(`/api/${path}?${query}`, { headers: { "X-Tarnvale-Token": token } });
    const body = await response.json().catch(() => ({ error: response.statusText }));
    if (!response.ok) throw new Error(body.error || `HTTP ${response.status}`);
    return body;
  }

  function report(error) {
    const line = $("status");
    line.textContent = error ? String(error.message || error) : "";
    line.classList.toggle("error", Boolean(error));
  }

  function widthOf(element) {
    return Math.max(200, Math.min(20000, Math.round(element.clientWidth || 800)));
  }

  function debounce(action, ms) {
    let timer = null;
    return (...args) => {
      clearTimeout(timer);
      timer = setTimeout(() => action(...args), ms);
    };
  }

  // The x window of a relayout event: [low, high], null when reset, undefined when x did not change.
  function xWindow(event, axis = "xaxis") {
    if (event[`${axis}.autorange`]) return null;
    if (event[`${axis}.range[0]`] !== undefined) return [event[`${axis}.range[0]`], event[`${axis}.range[1]`]];
    if (event[`${axis}.range`]) return event[`${axis}.range`].slice();
    return undefined;
  }

  // ---- the functions' chromatograms ---------------------------------------------

  function surveyRank(f) {
    return [f.scans === 0, f.lock_mass, f.ms_level !== 1, f.index];
  }

  function surveyFunction(functions) {
    const ranked = functions.slice().sort((a, b) => {
      const ra = surveyRank(a), rb = surveyRank(b);
      for (let i = 0; i < ra.length; i++) if (ra[i] !== rb[i]) return ra[i] < rb[i] ? -1 : 1;
      return 0;
    });
    return ranked[0];
  }

  function describeFunction(f) {
    const parts = [`Function ${f.index}`, `MS${f.ms_level}`, `encoding ${f.encoding}`];
    if (f.encoding === "b") parts.push("ion mobility");
    if (f.lock_mass) parts.push("lock mass");
    parts.push(`${f.scans} scans`);
    return parts.join(" · ");
  }

  async function chromatogramTraces(fn, element) {
    const window = state.rtRange || [null, null];
    const params = { run: state.run, function: fn, width: widthOf(element), rt_low: window[0], rt_high: window[1] };
    const [tic, bpi] = await Promise.all([
      api("chromatogram", { ...params, kind: "tic" }),
      api("chromatogram", { ...params, kind: "bpi" }),
    ]);
    return [
      {
        name: "TIC", x: tic.rt_min, y: tic.tic, customdata: tic.scan, type: "scatter", mode: "lines",
        line: { color: colours[0], width: 1.2 },
        hovertemplate: "scan %{customdata}<br>RT %{x:.4f} min<br>TIC %{y:.6g}<extra></extra>",
      },
      {
        name: "BPI", x: bpi.rt_min, y: bpi.bpi, customdata: bpi.scan, yaxis: "y2", type: "scatter", mode: "lines",
        line: { color: colours[1], width: 1 },
        text: bpi.bpi_mz.map((mz) => (mz === null ? "" : mz.toFixed(4))),
        hovertemplate: "scan %{customdata}<br>RT %{x:.4f} min<br>base peak m/z %{text}: %{y:.6g}<extra></extra>",
      },
    ];
  }

  function selectedLine() {
    if (!state.selected) return [];
    const x = state.selected.rt;
    return [{ type: "line", xref: "x", yref: "paper", x0: x, x1: x, y0: 0, y1: 1, line: { color: "#888", dash: "dot" } }];
  }

  function chromatogramLayout(fn) {
    const layout = {
      margin: { l: 60, r: 60, t: 28, b: 40 },
      hovermode: "x",
      showlegend: true,
      legend: { orientation: "h", x: 0, xanchor: "left", y: 1, yanchor: "bottom" },
      xaxis: { title: { text: "retention time (min)" } },
      yaxis: { title: { text: "TIC" }, rangemode: "tozero", exponentformat: "e" },
      yaxis2: { title: { text: "BPI" }, overlaying: "y", side: "right", rangemode: "tozero", exponentformat: "e" },
      shapes: state.selected && state.selected.function === fn ? selectedLine() : [],
    };
    layout.xaxis.range = (state.rtRange || state.runRange || undefined)?.slice();
    return layout;
  }

  function addChromatogramPanels() {
    const holder = $("chromatograms");
    holder.replaceChildren();
    state.panels.clear();
    for (const f of state.functions) {
      const panel = document.createElement("section");
      panel.className = "panel";
      const title = document.createElement("h3");
      title.textContent = describeFunction(f);
      const plot = document.createElement("div");
      plot.className = "plot short chromatogram";
      plot.id = `chromatogram-${f.index}`;
      plot.dataset.function = f.index;
      panel.append(title, plot);
      holder.append(panel);
      state.panels.set(f.index, plot);
    }
  }

  // `traces`: already asked for, or undefined to ask now.
  async function drawChromatogram(fn, first, traces) {
    const plot = state.panels.get(fn);
    const generation = state.generation;
    traces = await (traces || chromatogramTraces(fn, plot));
    await plotlyLoaded;
    if (generation !== state.generation) return;
    // The layout is made now, so that it marks a scan selected while the data came.
    await react(plot, traces, chromatogramLayout(fn));
    if (first) {
      plot.on("plotly_click", (event) => {
        const point = event.points.find((p) => p.data.name === "TIC") || event.points[0];
        if (point) selectScan(fn, point.customdata, point.x).catch(report);
      });
      plot.on("plotly_relayout", (event) => {
        const window = xWindow(event);
        if (window !== undefined && !state.syncing) shareRtWindow(window, plot);
      });
    }
  }

  // Every function's panel (and the XIC plot) shows the same retention times.
  const refetchChromatograms = debounce(() => {
    Promise.all(state.functions.map((f) => drawChromatogram(f.index, false))).catch(report);
    if (state.lastXic) drawXic(state.lastXic).catch(report);
  }, 150);

  function shareRtWindow(window, origin) {
    state.rtRange = window;
    state.syncing = true;
    const update = window ? { "xaxis.range": window.slice() } : { "xaxis.autorange": true };
    const others = [...state.panels.values(), $("xic")].filter((p) => p !== origin && p.data);
    Promise.all(others.map((p) => Plotly.relayout(p, update)))
      .finally(() => { state.syncing = false; })
      .catch(report);
    refetchChromatograms();
  }

  // ---- the selected scan: spectrum and ion-mobility map ------------------------

  function functionInfo(fn) {
    return state.functions.find((f) => f.index === fn);
  }

  async function selectScan(fn, scan, rt) {
    state.selected = { function: fn, scan, rt };
    state.spectrumWindow = null;
    state.imsWindow = null;
    for (const [number, plot] of state.panels) {
      if (plot.data) Plotly.relayout(plot, { shapes: number === fn ? selectedLine() : [] });
    }
    const ims = functionInfo(fn)?.encoding === "b";
    $("ims-panel").hidden = !ims;
    await Promise.all([drawSpectrum(), ims ? drawImsMap() : Promise.resolve()]);
  }

  function strongestPeaks(mz, intensity, window) {
    const low = window ? window[0] : Math.min(...mz.filter((v) => v !== null));
    const high = window ? window[1] : Math.max(...mz.filter((v) => v !== null));
    const separation = (high - low) / 60;
    const strongest = Math.max(0, ...intensity.filter((v) => v !== null));
    const order = intensity.map((_, i) => i).filter((i) => intensity[i] >= strongest * 0.05 && mz[i] !== null);
    order.sort((a, b) => intensity[b] - intensity[a]);
    const chosen = [];
    for (const i of order) {
      if (chosen.length === PEAK_LABELS) break;
      if (chosen.every((j) => Math.abs(mz[j] - mz[i]) > separation)) chosen.push(i);
    }
    return chosen;
  }

  async function drawSpectrum() {
    const { function: fn, scan } = state.selected;
    const plot = $("spectrum");
    const window = state.spectrumWindow || [null, null];
    const generation = state.generation;
    const s = await api("spectrum", {
      run: state.run, function: fn, scan, width: widthOf(plot), mz_low: window[0], mz_high: window[1],
      sum_drift: functionInfo(fn)?.encoding === "b", ...processing(),
    });
    if (generation !== state.generation || state.selected.scan !== scan || state.selected.function !== fn) return;
    state.selected.rt = s.rt_min;
    const kind = s.ion_mobility ? "ions" : "points";
    const summed = (s.summed_over_drift ? ", summed over drift time" : "") + (s.centroid ? ", centroided" : "") +
      (s.lock_mass !== null ? `, lock-mass corrected (${s.lock_mass})` : "");
    $("spectrum-title").textContent =
      `Function ${fn}, scan ${scan} (RT ${s.rt_min === null ? "?" : s.rt_min.toFixed(4)} min): ${s.points} ${kind}${summed}`;
    // Sticks: each point a vertical line from zero, separated by gaps.
    const x = [], y = [];
    s.mz.forEach((mz, i) => { x.push(mz, mz, null); y.push(0, s.intensity[i], null); });
    const hoverText = s.mz.map((mz, i) => {
      const drift = s.drift_time_ms ? `<br>drift ${s.drift_time_ms[i]} ms` : "";
      return `m/z ${mz}<br>intensity ${s.intensity[i]}${drift}`;
    });
    const peaks = strongestPeaks(s.mz, s.intensity, state.spectrumWindow);
    const traces = [
      { x, y, type: "scatter", mode: "lines", line: { color: colours[0], width: 1 }, hoverinfo: "skip", name: "sticks" },
      {
        x: s.mz, y: s.intensity, text: hoverText, type: "scatter", mode: "markers", name: "points",
        marker: { size: 3, color: colours[0], opacity: 0.01 }, hovertemplate: "%{text}<extra></extra>",
      },
    ];
    const layout = {
      margin: { l: 60, r: 20, t: 20, b: 40 },
      showlegend: false,
      hovermode: "closest",
      xaxis: { title: { text: "m/z" } },
      yaxis: { title: { text: "intensity" }, rangemode: "tozero", exponentformat: "e" },
      annotations: peaks.map((i) => ({
        x: s.mz[i], y: s.intensity[i], text: s.mz[i].toFixed(4), showarrow: false, yshift: 9,
        font: { size: 10, color: "#333" },
      })),
    };
    if (state.spectrumWindow) layout.xaxis.range = state.spectrumWindow.slice();
    await react(plot, traces, layout);
    if (!plot.dataset.bound) {
      plot.dataset.bound = "1";
      plot.on("plotly_relayout", (event) => {
        const window = xWindow(event);
        if (window === undefined || state.syncing) return;
        state.spectrumWindow = window;
        refetchSpectrum();
      });
    }
  }

  const refetchSpectrum = debounce(() => drawSpectrum().catch(report), 150);

  // Centroided and lock-mass-corrected views: what the spectrum, the map and the XICs ask for.
  function processing() {
    const chosen = {};
    if ($("centroid").checked) chosen.centroid = true;
    if ($("lock-mass-on").checked && !$("lock-mass-choice").hidden) {
      chosen.lock_mass = $("lock-mass-mz").value.trim() || $("lock-mass-preset").value;
    }
    return chosen;
  }

  async function processingChanged() {
    report(null);
    const redraws = [drawLockMass()];
    if (state.selected) {
      redraws.push(drawSpectrum());
      if (functionInfo(state.selected.function)?.encoding === "b") redraws.push(drawImsMap());
    }
    if (state.lastXic) redraws.push(drawXic(state.lastXic));
    await Promise.all(redraws);
  }

  async function drawLockMass() {
    const reference = processing().lock_mass;
    $("lock-mass-panel").hidden = reference === undefined;
    if (reference === undefined) return;
    const generation = state.generation;
    const trace = await api("lock_mass", { run: state.run, lock_mass: reference });
    if (generation !== state.generation) return;
    $("lock-mass-title").textContent =
      `Lock mass: m/z ${trace.reference_mz.toFixed(4)} within ${trace.tolerance_da} Da, error of each lock scan`;
    await react($("lock-mass-trace"), [{
      x: trace.rt_min, y: trace.ppm_error, customdata: trace.observed_mz, type: "scatter", mode: "lines+markers",
      line: { color: colours[4], width: 1 }, connectgaps: false,
      hovertemplate: "RT %{x:.4f} min<br>m/z %{customdata:.5f}<br>%{y:.2f} ppm<extra></extra>",
    }], {
      margin: { l: 60, r: 20, t: 10, b: 36 },
      xaxis: { title: { text: "retention time (min)" } }, yaxis: { title: { text: "ppm" }, zeroline: true },
    }, smallPlotConfig);
  }

  function setUpProcessing(presets) {
    $("lock-mass-preset").replaceChildren(...presets.map((p) => new Option(`${p.name} (${p.mz.toFixed(4)})`, p.name)));
    const changed = () => processingChanged().catch(report);
    for (const id of ["centroid", "lock-mass-on", "lock-mass-preset"]) $(id).addEventListener("change", changed);
    $("lock-mass-mz").addEventListener("change", () => { if ($("lock-mass-on").checked) changed(); });
  }

  async function drawImsMap() {
    const { function: fn, scan } = state.selected;
    const plot = $("ims-map");
    const generation = state.generation;
    const window = state.imsWindow;
    const m = await api("ims_map", {
      run: state.run, function: fn, scan,
      mz_bins: Math.min(4000, widthOf(plot)), drift_bins: Math.min(1000, Math.round(plot.clientHeight || 300) / 2 | 0),
      mz_low: window ? window.mz[0] : null, mz_high: window ? window.mz[1] : null,
      drift_low: window ? window.drift[0] : null, drift_high: window ? window.drift[1] : null, ...processing(),
    });
    if (generation !== state.generation || state.selected.scan !== scan) return;
    $("ims-title").textContent = `Ion mobility of scan ${scan}: ${m.points} ions`;
    const z = m.intensity.map((row) => row.map((v) => (v === null || v <= 0 ? null : Math.log10(v))));
    const heatmap = {
      type: "heatmap", x: m.mz, y: m.drift_time_ms, z, colorscale: "Viridis", hoverongaps: false,
      colorbar: { title: { text: "log10 intensity", side: "right" }, thickness: 12 },
      hovertemplate: "m/z %{x:.4f}<br>drift %{y:.3f} ms<br>log10 intensity %{z:.3f}<extra></extra>",
    };
    const layout = {
      margin: { l: 60, r: 10, t: 10, b: 40 },
      xaxis: { title: { text: "m/z" }, range: m.mz_range },
      yaxis: { title: { text: "drift time (ms)" }, range: m.drift_range },
    };
    await react(plot, [heatmap], layout);
    await react($("mobilogram"), [{
      type: "scatter", mode: "lines", x: m.mobilogram, y: m.drift_time_ms, line: { color: colours[2] },
      hovertemplate: "drift %{y:.3f} ms<br>intensity %{x:.6g}<extra></extra>",
    }], {
      margin: { l: 40, r: 10, t: 10, b: 40 },
      xaxis: { title: { text: "mobilogram" }, rangemode: "tozero", exponentformat: "e" },
      yaxis: { range: m.drift_range, showticklabels: false },
    }, smallPlotConfig);
    if (!plot.dataset.bound) {
      plot.dataset.bound = "1";
      plot.on("plotly_relayout", (event) => {
        const mz = xWindow(event, "xaxis");
        const drift = xWindow(event, "yaxis");
        if (mz === undefined && drift === undefined) return;
        if (mz === null && drift === null) state.imsWindow = null;
        else {
          const layout = plot._fullLayout;
          state.imsWindow = { mz: mz || layout.xaxis.range.slice(), drift: drift || layout.yaxis.range.slice() };
        }
        refetchImsMap();
      });
    }
  }

  const refetchImsMap = debounce(() => drawImsMap().catch(report), 150);

  // ---- extracted-ion chromatograms ---------------------------------------------

  function readXicForm() {
    const targets = $("xic-mz").value.split(/[\s,;]+/).filter(Boolean).map(Number);
    if (targets.length === 0 || targets.some((t) => !Number.isFinite(t) || t <= 0)) {
      throw new Error("type one or more positive m/z values, separated by spaces");
    }
    const tolerance = Number($("xic-tolerance").value);
    if (!Number.isFinite(tolerance) || tolerance <= 0) throw new Error("the tolerance must be a positive number");
    return { function: Number($("xic-function").value), targets, tolerance, unit: $("xic-unit").value };
  }

  async function drawXic(request) {
    state.lastXic = request;
    const plot = $("xic");
    const window = state.rtRange || [null, null];
    const generation = state.generation;
    const x = await api("xic", {
      run: state.run, function: request.function, mz: request.targets, [request.unit]: request.tolerance,
      width: widthOf(plot), rt_low: window[0], rt_high: window[1], ...processing(),
    });
    if (generation !== state.generation) return;
    const unit = request.unit === "ppm" ? "ppm" : "Da";
    const traces = x.traces.map((t, i) => ({
      name: `m/z ${t.mz} ± ${request.tolerance} ${unit}`, x: t.rt_min, y: t.xic, customdata: t.scan,
      type: "scatter", mode: "lines", line: { color: colours[i % colours.length], width: 1.2 },
      hovertemplate: "scan %{customdata}<br>RT %{x:.4f} min<br>%{y:.6g}<extra>%{fullData.name}</extra>",
    }));
    const layout = {
      margin: { l: 60, r: 20, t: 28, b: 40 }, hovermode: "x", showlegend: true,
      legend: { orientation: "h", x: 0, xanchor: "left", y: 1, yanchor: "bottom" },
      xaxis: { title: { text: "retention time (min)" } },
      yaxis: { title: { text: `intensity, function ${request.function}` }, rangemode: "tozero", exponentformat: "e" },
    };
    layout.xaxis.range = (state.rtRange || state.runRange || undefined)?.slice();
    await react(plot, traces, layout);
    if (!plot.dataset.bound) {
      plot.dataset.bound = "1";
      plot.on("plotly_relayout", (event) => {
        const window = xWindow(event);
        if (window !== undefined && !state.syncing) shareRtWindow(window, plot);
      });
      plot.on("plotly_click", (event) => {
        const point = event.points[0];
        if (point) selectScan(state.lastXic.function, point.customdata, point.x).catch(report);
      });
    }
  }

  // ---- metadata and chromatogram channels ---------------------------------------

  function table(headers, rows) {
    const element = document.createElement("table");
    const head = element.createTHead().insertRow();
    for (const h of headers) head.appendChild(document.createElement("th")).textContent = h;
    const body = element.createTBody();
    for (const row of rows) {
      const tr = body.insertRow();
      for (const cell of row) {
        const td = tr.insertCell();
        td.textContent = cell === null || cell === undefined ? "–" : String(cell);
        if (typeof cell === "number") td.className = "number";
      }
    }
    return element;
  }

  function drawMetadata(overview) {
    const labels = {
      version: "Version", acquired_name: "Acquired name", acquired_date: "Acquired date",
      acquired_time: "Acquired time", instrument: "Instrument", operator: "Operator",
      sample_description: "Sample description", polarity: "Polarity",
    };
    const holder = $("metadata");
    holder.replaceChildren(
      table(["field", "value"], Object.entries(labels).map(([key, label]) => [label, overview.header[key]])),
      table(
        ["#", "encoding", "MS level", "scans", "m/z range", "RT (min)", "lock mass"],
        overview.functions.map((f) => [
          f.index, f.encoding, f.ms_level, f.scans, `${f.mz_low}–${f.mz_high}`,
          f.rt_first_min === null ? null : `${f.rt_first_min.toFixed(4)}–${f.rt_last_min.toFixed(4)}`,
          f.lock_mass ? "yes" : "no",
        ]),
      ),
    );
    for (const f of overview.functions.filter((f) => f.problem)) {
      const line = document.createElement("p");
      line.className = "problem";
      line.textContent = `function ${f.index} is not readable: ${f.problem}`;
      holder.append(line);
    }
  }

  async function drawChannels(overview) {
    const holder = $("channels");
    holder.replaceChildren();
    if (overview.channels.length === 0) {
      holder.textContent = "none";
      return;
    }
    const generation = state.generation;
    await Promise.all(overview.channels.map(async (c) => {
      const plot = document.createElement("div");
      plot.className = "plot tiny";
      holder.append(plot);
      try {
        const trace = await api("channel", { run: state.run, index: c.index });
        if (generation !== state.generation) return;
        await react(plot, [{
          x: trace.rt_min, y: trace.value, type: "scatter", mode: "lines", line: { color: colours[3], width: 1 },
        }], {
          margin: { l: 60, r: 20, t: 24, b: 36 },
          title: { text: `${c.index}: ${c.name}${c.units ? ` (${c.units})` : ""}`, font: { size: 12 } },
          xaxis: { title: { text: "retention time (min)" } },
        }, smallPlotConfig);
      } catch (error) {
        plot.className = "problem";
        plot.textContent = `channel ${c.index} (${c.name}) is not readable: ${error.message}`;
      }
    }));
  }

  // ---- several runs ------------------------------------------------------------------

  async function drawOverlay() {
    const plot = $("overlay");
    const traces = await Promise.all(state.runs.map(async (r, i) => {
      const overview = await api("run", { run: r.run });
      const f = surveyFunction(overview.functions.filter((f) => f.scans));
      if (!f) return null;
      const tic = await api("chromatogram", { run: r.run, function: f.index, kind: "tic", width: widthOf(plot) });
      return {
        name: `${r.name} (function ${f.index})`, x: tic.rt_min, y: tic.tic, customdata: tic.scan, type: "scatter",
        mode: "lines", line: { color: colours[i % colours.length], width: 1.2 },
        hovertemplate: "scan %{customdata}<br>RT %{x:.4f} min<br>TIC %{y:.6g}<extra>%{fullData.name}</extra>",
      };
    }));
    await react(plot, traces.filter(Boolean), {
      margin: { l: 60, r: 20, t: 10, b: 40 }, hovermode: "x", showlegend: true,
      xaxis: { title: { text: "retention time (min)" } },
      yaxis: { title: { text: "TIC" }, rangemode: "tozero", exponentformat: "e" },
    });
  }

  // ---- a whole run ---------------------------------------------------------------------

  async function showRun(index) {
    state.generation += 1;
    state.run = index;
    state.rtRange = null;
    state.selected = null;
    state.lastXic = null;
    report(null);
    const overview = await api("run", { run: index });
    state.overview = overview;
    state.functions = overview.functions.filter((f) => f.scans > 0 && !f.problem);
    const span = overview.retention_time_min;
    state.runRange = span && span.first < span.last ? [span.first, span.last] : null;
    $("run-title").textContent = state.runs[index].name;
    document.title = `${state.runs[index].name} – tarnvale view`;
    const choice = $("xic-function");
    choice.replaceChildren(...state.functions.map((f) => new Option(describeFunction(f), f.index)));
    const survey = surveyFunction(state.functions);
    if (survey) choice.value = survey.index;
    if (window.Plotly) Plotly.purge($("xic"));
    $("lock-mass-choice").hidden = !overview.functions.some((f) => f.lock_mass && f.scans > 0);
    drawMetadata(overview);
    addChromatogramPanels();
    // Everything the first view shows is asked for at once, and drawn as it comes.
    const fetched = new Map(state.functions.map((f) => [f.index, chromatogramTraces(f.index, state.panels.get(f.index))]));
    const drawn = state.functions.map((f) => drawChromatogram(f.index, true, fetched.get(f.index)));
    let selection = Promise.resolve();
    if (survey) {
      // The reduced TIC keeps every column's highest point, so its highest is the apex.
      selection = fetched.get(survey.index).then(([tic]) => {
        const best = tic.y.reduce((b, v, i) => (v !== null && (b < 0 || v > tic.y[b]) ? i : b), -1);
        return best < 0 ? undefined : selectScan(survey.index, tic.customdata[best], tic.x[best]);
      });
    } else {
      $("spectrum-title").textContent = "Spectrum: the run has no scans";
    }
    await Promise.all([...drawn, drawChannels(overview), selection, drawLockMass()]);
  }

  async function start() {
    const [{ runs }, { presets }] = await Promise.all([api("runs"), api("lock_mass_presets")]);
    state.runs = runs;
    setUpProcessing(presets);
    if (runs.length > 1) {
      const select = $("run-select");
      select.replaceChildren(...runs.map((r) => new Option(`${r.run}: ${r.name}`, r.run)));
      select.addEventListener("change", () => showRun(Number(select.value)).catch(report));
      $("run-choice").hidden = false;
      $("overlay-panel").hidden = false;
    }
    $("xic-form").addEventListener("submit", (event) => {
      event.preventDefault();
      try {
        drawXic(readXicForm()).then(() => report(null), report);
      } catch (error) {
        report(error);
      }
    });
    await Promise.all([showRun(0), runs.length > 1 ? drawOverlay() : Promise.resolve()]);
    // The first render is complete: what the benchmark and the browser test wait for.
    document.body.dataset.renderedMs = String(Math.round(performance.now()));
    document.body.dataset.ready = "1";
  }

  start().catch(report);
})();
