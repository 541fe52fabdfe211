// The lab's page: every bench (a logger: a PC and its bus) that the lab's Prometheus scrapes,
// each with the tiles of its chambers, refreshed from /api/lab without a reload. The tiles are
// the overview's own (overview.js); each links to its logger's chamber page.
"use strict";

(() => {
  const kRefreshSeconds = 10;
  const benchesById = new Map();

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function benchId(b) {
    return `${b.job}|${b.instance}`;
  }

  function makeBench(b) {
    const section = element("section", "bench");
    const head = element("div", "bench-head");
    const title = element("h2");
    const link = element("a", "", b.name);
    link.href = b.page;
    title.append(link);
    head.append(title, element("span", "where", b.instance), element("span", "state"));
    section.append(head, element("div", "tiles"));
    return { section, tiles: new Map() };
  }

  function renderBench(entry, b, now) {
    const state = entry.section.querySelector(".bench-head .state");
    let text = "на связи";
    if (!b.up) text = "СТЕНД НЕДОСТУПЕН: Prometheus не может его опросить";
    else if (!b.port_up) text = "ПОРТ НЕ ОТКРЫТ";
    state.textContent = text;
    entry.section.dataset.state = !b.up ? "down" : !b.port_up ? "port-down" : "up";
    entry.section.classList.toggle("down", !b.up);
    const tiles = entry.section.querySelector(".tiles");
    const order = [];
    for (const c of b.chambers) {
      let tile = entry.tiles.get(c.address);
      if (!tile) {
        tile = Kalvora.makeTile(c.address, true);
        entry.tiles.set(c.address, tile);
      }
      tile.href = c.page;
      const chamber = Object.assign({}, c, {
        alarms: (c.alarms || []).map((kind) => ({ kind })),
        silent_since: null,
      });
      Kalvora.renderTile(tile, chamber, { now, port_up: b.up && b.port_up });
      if (!b.up) {
        const list = tile.querySelector('[data-field="banners"]');
        const item = element("li", "banner silent");
        item.append(element("span", "mark", "!"), " ", "СТЕНД НЕДОСТУПЕН");
        list.prepend(item);
        tile.dataset.state = `bench-down ${tile.dataset.state}`;
      }
      order.push(tile);
    }
    tiles.replaceChildren(...order);
  }

  function render(lab) {
    const down = document.getElementById("prometheus-down");
    const prometheus = lab.prometheus || {};
    document.getElementById("source").textContent = `Prometheus: ${prometheus.url || "—"}`;
    if (prometheus.reachable === false) {
      down.hidden = false;
      down.textContent = `PROMETHEUS НЕДОСТУПЕН (${prometheus.error || "нет ответа"}): ` +
        "показаны последние известные данные, все устарели";
      document.body.classList.add("offline");
    } else {
      down.hidden = true;
      document.body.classList.remove("offline");
    }
    const container = document.getElementById("benches");
    const order = [];
    for (const b of lab.benches || []) {
      const id = benchId(b);
      let entry = benchesById.get(id);
      if (!entry) {
        entry = makeBench(b);
        benchesById.set(id, entry);
      }
      renderBench(entry, b, lab.now);
      order.push(entry.section);
    }
    container.replaceChildren(...order);
    document.getElementById("empty").hidden = order.length > 0 || prometheus.reachable === false;
  }

  async function refresh() {
    try {
      const lab = await Kalvora.fetchJson("/api/lab", kRefreshSeconds * 2);
      render(lab);
      Kalvora.setLink(true, lab);
    } catch (error) {
      Kalvora.setLink(false, null, error);
    }
    setTimeout(refresh, kRefreshSeconds * 1000);
  }

  refresh();
})();
