// One chamber's page: its tile and its current and set temperature over the last 24 hours,
// with step and cycle changes marked and outages as gaps. The chart grows every period.
"use strict";

(() => {
  const kDayMs = 24 * 60 * 60 * 1000;
  const match = /^\/chamber\/(\d+)\/?$/.exec(window.location.pathname);
  const address = match ? Number(match[1]) : null;
  const note = document.getElementById("chart-note");

  function unknown(text) {
    const message = document.getElementById("unknown");
    message.textContent = text;
    message.hidden = false;
    document.getElementById("trend").hidden = true;
    document.getElementById("journal").hidden = true;
    document.getElementById("tiles").hidden = true;
    document.body.dataset.unknown = "true";
  }

  // The path as the reader typed it; a malformed escape ("%E0%A4%A") is shown as it stands.
  function typedPath(path) {
    try {
      return decodeURIComponent(path);
    } catch (error) {
      return path;
    }
  }

  if (address === null) {
    unknown(`Нет такой камеры: «${typedPath(window.location.pathname)}».`);
    return;
  }
  document.title = `Kalvora: камера ${address}`;

  const tile = Kalvora.makeTile(address, false);
  document.getElementById("tiles").append(tile);

  // The axis shows the logger's clock: times shifted by its UTC offset, drawn as UTC.
  let offsetMs = null;
  function offsetOf(iso) {
    const m = typeof iso === "string" ? /([+-])(\d\d):?(\d\d)$/.exec(iso) : null;
    if (!m) return 0;
    const minutes = Number(m[2]) * 60 + Number(m[3]);
    return (m[1] === "-" ? -1 : 1) * minutes * 60 * 1000;
  }

  const rows = []; // [Date, current, set], oldest first
  const marks = []; // {x, text}: where the program, step or cycle changed
  let previous = null; // program, step and cycle of the last good point
  let lastT = null; // the newest point's time, milliseconds since the epoch
  let historyAt = null; // when the history was last read, in the browser's clock
  let graph = null;

  function change(p) {
    const parts = [];
    if (p.program !== previous.program) parts.push(`программа ${p.program ?? "—"}`);
    if (p.cycle !== previous.cycle) parts.push(`цикл ${p.cycle ?? "—"}`);
    if (p.step !== previous.step || parts.length > 0) parts.push(`шаг ${p.step ?? "—"}`);
    return parts.join(", ");
  }

  function addPoints(points) {
    const newest = points.length > 0 ? points[points.length - 1][0] : null;
    if (lastT !== null && typeof newest === "number" && newest < lastT) {
      // The logger's clock went back and its history with it: start again from what it has.
      rows.length = 0;
      marks.length = 0;
      previous = null;
      lastT = null;
      historyAt = null;
      return;
    }
    for (const point of points) {
      const [t, current, set, program, step, cycle] = point;
      if (typeof t !== "number" || (lastT !== null && t <= lastT)) continue;
      lastT = t;
      const x = t + offsetMs;
      rows.push([new Date(x), current, set]);
      if (program === null && step === null && cycle === null) continue;
      const now = { program, step, cycle };
      if (previous && (program !== previous.program || step !== previous.step || cycle !== previous.cycle))
        marks.push({ x, text: change(now) });
      previous = now;
    }
    if (lastT === null) return;
    const cutoff = lastT + offsetMs - kDayMs;
    while (rows.length > 0 && rows[0][0].getTime() < cutoff) rows.shift();
    while (marks.length > 0 && marks[0].x < cutoff) marks.shift();
  }

  const pad = (n) => String(n).padStart(2, "0");
  function stamp(ms, seconds) {
    const d = new Date(ms);
    const time = `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}`;
    return seconds
      ? `${pad(d.getUTCDate())}.${pad(d.getUTCMonth() + 1)}.${d.getUTCFullYear()} ${time}:${pad(d.getUTCSeconds())}`
      : time;
  }

  function drawMarks(context, area, g) {
    context.save();
    context.strokeStyle = "rgba(60, 60, 60, 0.55)";
    context.fillStyle = "#333";
    context.font = "12px sans-serif";
    context.setLineDash([4, 3]);
    let free = area.x; // labels never overlap: one that would is left out, its line stays
    for (const mark of marks) {
      const x = g.toDomXCoord(mark.x);
      if (x < area.x || x > area.x + area.w) continue;
      context.beginPath();
      context.moveTo(x, area.y);
      context.lineTo(x, area.y + area.h);
      context.stroke();
      const width = context.measureText(mark.text).width;
      if (x + 3 >= free && x + 3 + width <= area.x + area.w) {
        context.fillText(mark.text, x + 3, area.y + 12);
        free = x + 3 + width + 6;
      }
    }
    context.restore();
  }

  function hasValues() {
    return rows.some((r) => r[1] !== null || r[2] !== null);
  }

  function draw() {
    const chart = document.getElementById("chart");
    chart.dataset.rows = String(rows.length);
    chart.dataset.marks = String(marks.length);
    if (!hasValues()) {
      note.textContent = "За последние 24 часа показаний нет.";
      note.hidden = false;
      return;
    }
    note.hidden = true;
    if (graph) {
      graph.updateOptions({ file: rows });
      return;
    }
    graph = new Dygraph(chart, rows, {
      labels: ["Время", "Текущая температура, °C", "Заданная температура, °C"],
      labelsUTC: true,
      labelsDiv: document.getElementById("legend"),
      legend: "always",
      labelsSeparateLines: false,
      connectSeparatedPoints: false,
      drawGapEdgePoints: true,
      colors: ["#b3261e", "#1f5fa8"],
      strokeWidth: 2,
      ylabel: "°C",
      underlayCallback: drawMarks,
      axes: {
        x: {
          valueFormatter: (ms) => stamp(ms, true),
          axisLabelFormatter: (d) => {
            const ms = d instanceof Date ? d.getTime() : d;
            const t = new Date(ms);
            return t.getUTCHours() === 0 && t.getUTCMinutes() === 0
              ? `${pad(t.getUTCDate())}.${pad(t.getUTCMonth() + 1)}`
              : stamp(ms, false);
          },
        },
        y: { valueFormatter: (v) => Kalvora.temperature(v) },
      },
    });
    window.kalvoraChart = graph;
  }

  async function readHistory(timeoutSeconds) {
    // After the first day's read, only what is new since the last read (and a minute more).
    const minutes =
      historyAt === null ? 1440 : Math.min(1440, Math.max(2, Math.ceil((Date.now() - historyAt) / 60000) + 1));
    const startedAt = Date.now();
    const history = await Kalvora.fetchJson(`/api/chambers/${address}/history?minutes=${minutes}`, timeoutSeconds);
    historyAt = startedAt;
    addPoints(Array.isArray(history.points) ? history.points : []);
    draw();
  }

  const readEvents = Kalvora.eventsInto(document.getElementById("events"), address, 20);
  let gone = false;
  Kalvora.every(async (period) => {
    if (gone) return 3600;
    const timeout = Math.max(5, period * 2);
    let data;
    try {
      data = await Kalvora.fetchJson("/api/chambers", timeout);
    } catch (e) {
      Kalvora.setLink(false, null, e);
      return null;
    }
    const logger = data.logger || {};
    Kalvora.renderHeader(logger);
    Kalvora.setLink(true, logger);
    const chamber = (Array.isArray(data.chambers) ? data.chambers : []).find((c) => c.address === address);
    if (!chamber) {
      gone = true;
      unknown(`Камера ${address} не опрашивается регистратором.`);
      return 3600;
    }
    Kalvora.renderTile(tile, chamber, logger);
    readEvents(timeout).catch(() => {});
    if (offsetMs === null) offsetMs = offsetOf(logger.now);
    try {
      await readHistory(timeout);
    } catch (e) {
      if (e.status === 404 || e.status === 400) {
        gone = true;
        unknown(`Камера ${address}: ${e.message}`);
        return 3600;
      }
      note.textContent = `История не прочитана: ${e.message}; повторяю.`;
      note.hidden = false;
    }
    return Kalvora.periodOf(logger);
  });
})();
