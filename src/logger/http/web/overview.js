// The overview: one tile per chamber, refreshed every period from /api/chambers without a
// reload. The chamber page loads this file too and uses the same tiles and header (Kalvora).
"use strict";

const Kalvora = (() => {
  const kDefaultPeriodSeconds = 4;

  const isNumber = (v) => typeof v === "number" && Number.isFinite(v);

  function temperature(v) {
    return isNumber(v) ? v.toFixed(1).replace(".", ",").replace("-", "−") : "—";
  }

  function plain(v) {
    return v === null || v === undefined || v === "" ? "—" : String(v);
  }

  // "2 (5)", as the window program shows a step of steps.
  function ofTotal(value, total) {
    if (value === null || value === undefined) return "—";
    return total === null || total === undefined ? String(value) : `${value} (${total})`;
  }

  // The logger's own local time, read from its ISO text, so the page shows the lab's clock
  // whatever the browser's time zone.
  function clockOf(iso, withSeconds) {
    return typeof iso === "string" && iso.length >= 19 ? iso.slice(11, withSeconds ? 19 : 16) : "";
  }

  function dateOf(iso) {
    if (typeof iso !== "string" || iso.length < 10) return "";
    return `${iso.slice(8, 10)}.${iso.slice(5, 7)}.${iso.slice(0, 4)}`;
  }

  // "17:03" on the logger's day, "09.12 17:03" on another.
  function moment(iso, nowIso) {
    if (typeof iso !== "string") return "";
    const sameDay = typeof nowIso === "string" && nowIso.slice(0, 10) === iso.slice(0, 10);
    return sameDay ? clockOf(iso) : `${dateOf(iso).slice(0, 5)} ${clockOf(iso)}`;
  }

  function age(seconds) {
    if (!isNumber(seconds)) return "—";
    const s = Math.max(0, Math.floor(seconds));
    if (s < 60) return `${s} с`;
    const m = Math.floor(s / 60);
    if (m < 60) return `${m} мин`;
    const h = Math.floor(m / 60);
    if (h < 48) return `${h} ч ${String(m % 60).padStart(2, "0")} мин`;
    return `${Math.floor(h / 24)} д ${h % 24} ч`;
  }

  // Why the logger gives no end of the run (run_end_basis).
  const kNoRunEnd = {
    "not running": "—",
    "table unknown": "таблица программы неизвестна",
    "table mismatch": "таблица не совпадает с камерой",
    "counters unknown": "счётчики недостоверны",
  };

  // "≈ 05:33, осталось ≈ 12 ч 29 мин": an estimate, and said to be one.
  function runEndText(c, logger) {
    if (typeof c.run_end_estimate !== "string") return kNoRunEnd[c.run_end_basis] || "—";
    return `≈ ${moment(c.run_end_estimate, logger.now)}, осталось ≈ ${age(c.run_seconds_left)}`;
  }

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function detail(list, caption, field) {
    const row = element("div");
    row.append(element("dt", "", caption));
    const value = element("dd");
    value.dataset.field = field;
    row.append(value);
    list.append(row);
  }

  // A tile's fixed frame; renderTile() fills it. On the overview a tile links to its chamber.
  function makeTile(address, linked) {
    const tile = element(linked ? "a" : "section", "tile");
    if (linked) tile.href = `/chamber/${address}`;
    tile.dataset.address = String(address);
    tile.dataset.state = "waiting";

    const head = element("div", "tile-head");
    head.append(element("h2", "", `Камера ${address}`));
    const state = element("span", "state");
    state.dataset.field = "state";
    head.append(state);
    tile.append(head);

    const banners = element("ul", "banners");
    banners.dataset.field = "banners";
    tile.append(banners);

    const figures = element("div", "figures");
    const current = element("div", "figure current");
    current.append(element("span", "caption", "Текущая температура, °C"));
    const big = element("span", "big");
    big.dataset.field = "current_temperature";
    current.append(big);
    const set = element("div", "figure set");
    set.append(element("span", "caption", "Заданная температура, °C"));
    const setValue = element("span", "value");
    setValue.dataset.field = "set_temperature";
    set.append(setValue);
    figures.append(current, set);
    tile.append(figures);

    const details = element("dl", "details");
    detail(details, "Текущая программа", "program");
    detail(details, "Текущий шаг(всего шагов)", "step");
    detail(details, "Текущий цикл(всего циклов)", "cycle");
    detail(details, "Время выхода на режим, чч:мм", "time_to_mode");
    detail(details, "Время стабилизации, чч:мм", "stabilisation_time");
    detail(details, "Окончание программы (оценка)", "run_end");
    tile.append(details);

    const last = element("p", "age");
    last.dataset.field = "age";
    tile.append(last);
    return tile;
  }

  function field(tile, name) {
    return tile.querySelector(`[data-field="${name}"]`);
  }

  function setValue(tile, name, text, raw) {
    const e = field(tile, name);
    e.textContent = text;
    if (raw === undefined || raw === null) e.removeAttribute("data-value");
    else e.dataset.value = String(raw);
  }

  // A time and its set-point: "01:20", then "уставка 02:00" beneath it.
  function setTime(tile, name, value, setPoint) {
    const e = field(tile, name);
    e.textContent = plain(value);
    const small = element("small", "", `уставка ${plain(setPoint)}`);
    e.append(" ", small);
  }

  // The states of a chamber, most urgent first; every one also has words, never colour alone.
  function statesOf(c, logger) {
    const states = [];
    const banners = [];
    const alarms = Array.isArray(c.alarms) ? c.alarms : [];
    if (alarms.length > 0) {
      states.push("alarm");
      // The rules' kinds in the logger's words (words.js), as the report names them.
      const words = typeof KalvoraAlarmWords === "object" ? KalvoraAlarmWords : {};
      const kinds = alarms.map((a) =>
        Object.hasOwn(words, a.kind) ? words[a.kind] : String(a.kind),
      );
      banners.push(["alarm", `ТРЕВОГА: ${kinds.join(", ")}`]);
    }
    if (!c.answering) {
      states.push("silent");
      const since = c.silent_since ? ` с ${moment(c.silent_since, logger.now)}` : "";
      banners.push(["silent", `НЕТ ОТВЕТА${since}`]);
    }
    if (c.sensor_ok === false) {
      states.push("sensor");
      banners.push(["sensor", "ДАТЧИК: недостоверная температура"]);
    }
    if (c.last_good_reading === null || c.last_good_reading === undefined) states.push("waiting");
    if (states.length === 0) states.push("answering");
    return { states, banners };
  }

  function renderTile(tile, c, logger) {
    const { states, banners } = statesOf(c, logger);
    tile.dataset.state = states.join(" ");
    tile.classList.toggle("alarm", states.includes("alarm"));
    tile.classList.toggle("silent", states.includes("silent"));
    tile.classList.toggle("sensor", states.includes("sensor"));
    // Old figures: a silent chamber's, or any while the port is down.
    const stale = !c.answering || logger.port_up === false;
    tile.classList.toggle("stale", stale);

    let stateText = "на связи";
    if (states.includes("silent")) stateText = "нет ответа";
    else if (states.includes("waiting")) stateText = "нет показаний";
    else if (states.includes("sensor")) stateText = "датчик неисправен";
    if (states.includes("alarm")) stateText = `тревога · ${stateText}`;
    field(tile, "state").textContent = stateText;

    const list = field(tile, "banners");
    list.replaceChildren(
      ...banners.map(([kind, text]) => {
        const item = element("li", `banner ${kind}`);
        item.append(element("span", "mark", "!"), " ", text);
        return item;
      })
    );

    setValue(tile, "current_temperature", temperature(c.current_temperature), c.current_temperature);
    setValue(tile, "set_temperature", temperature(c.set_temperature), c.set_temperature);
    setValue(tile, "program", plain(c.program), c.program);
    setValue(tile, "step", ofTotal(c.step, c.steps), c.step);
    setValue(tile, "cycle", ofTotal(c.cycle, c.cycles), c.cycle);
    setTime(tile, "time_to_mode", c.time_to_mode, c.time_to_mode_set_point);
    setTime(tile, "stabilisation_time", c.stabilisation_time, c.stabilisation_set_point);
    setValue(tile, "run_end", runEndText(c, logger), c.run_end_estimate);

    let ageText = "Показаний ещё не было";
    if (c.last_good_reading) {
      ageText = `Последнее показание: ${age(c.age_seconds)} назад (${moment(c.last_good_reading, logger.now)})`;
      if (stale) ageText = `Устарело. ${ageText}`;
    }
    setValue(tile, "age", ageText, c.age_seconds);
  }

  function renderHeader(logger) {
    const version = logger.version ? ` ${logger.version}` : "";
    const started = logger.started ? `, запущен ${dateOf(logger.started)} ${clockOf(logger.started)}` : "";
    document.getElementById("logger").textContent = `Регистратор Kalvora${version}${started}`;
    const port = document.getElementById("port");
    const device = logger.device ? ` (${logger.device})` : "";
    port.textContent = `Порт ${plain(logger.port)}${device}: ${logger.port_up ? "открыт" : "НЕ ОТКРЫТ"}`;
    port.dataset.state = logger.port_up ? "up" : "down";
    document.body.classList.toggle("port-down", !logger.port_up);
  }

  // The connection to the logger: fresh answers, or none since a moment in the browser's time.
  let lostSince = null;
  function setLink(ok, logger, error) {
    const link = document.getElementById("link");
    document.body.classList.toggle("offline", !ok);
    if (ok) {
      lostSince = null;
      link.dataset.state = "ok";
      link.textContent = `Обновлено ${clockOf(logger.now, true)}`;
      return;
    }
    if (lostSince === null) lostSince = new Date();
    link.dataset.state = "lost";
    const since = lostSince.toLocaleTimeString("ru-RU", { hour12: false });
    const why = error && error.message ? ` (${error.message})` : "";
    link.textContent = `НЕТ СВЯЗИ С РЕГИСТРАТОРОМ с ${since}${why}; повторяю попытки`;
  }

  // JSON from the logger; an Error with the server's own text for an error status.
  async function fetchJson(url, timeoutSeconds) {
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), timeoutSeconds * 1000);
    try {
      const response = await fetch(url, { cache: "no-store", signal: controller.signal });
      let body = null;
      try {
        body = await response.json();
      } catch (e) {
        body = null;
      }
      if (!response.ok) {
        const error = new Error(body && body.error ? body.error : `ответ ${response.status}`);
        error.status = response.status;
        throw error;
      }
      if (body === null) throw new Error("ответ не в JSON");
      return body;
    } catch (e) {
      if (e.name === "AbortError") throw new Error("нет ответа вовремя");
      if (e instanceof TypeError) throw new Error("сервер недоступен");
      throw e;
    } finally {
      clearTimeout(timer);
    }
  }

  // An exchange's outcome as the journal stores it, in the logger's words (words.js); "%1"
  // in a key stands for an exception's code.
  function reasonOf(reason) {
    if (typeof reason !== "string") return "";
    const words = typeof KalvoraOutcomeWords === "object" ? KalvoraOutcomeWords : {};
    if (Object.hasOwn(words, reason)) return words[reason];
    const numbered = /^(.*) (\d+)$/.exec(reason);
    const pattern = numbered && `${numbered[1]} %1`;
    if (pattern && Object.hasOwn(words, pattern)) return words[pattern].replace("%1", numbered[2]);
    return reason;
  }

  // One line of the events journal in words; the alarms' own Russian text where they have one.
  function eventText(e) {
    if (typeof e.message_ru === "string") {
      if (e.event === "alarm_raised") return `ТРЕВОГА. ${e.message_ru}`;
      if (e.event === "alarm_cleared") return `Тревога снята. ${e.message_ru}`;
      return e.message_ru;
    }
    const chamber = isNumber(e.chamber) ? `Камера ${e.chamber}: ` : "";
    const seconds = (v) => (isNumber(v) ? ` (${age(v)})` : "");
    switch (e.event) {
      case "started":
        return `Регистратор запущен, порт ${plain(e.port)}`;
      case "stopped":
        return `Регистратор остановлен${e.signal ? ` (${e.signal})` : e.reason ? `: ${e.reason}` : ""}`;
      case "port_lost":
        return `Порт ${plain(e.port)} потерян: ${plain(e.reason)}`;
      case "port_back":
        return `Порт ${plain(e.port)} снова открыт${seconds(e.outage_seconds)}`;
      case "chamber_lost":
        return `${chamber}${reasonOf(e.reason)}`;
      case "chamber_back":
        return `${chamber}снова отвечает${seconds(e.outage_seconds)}`;
      case "sensor_implausible":
        return `${chamber}недостоверная температура`;
      case "sensor_back":
        return `${chamber}температура снова достоверна: ${temperature(e.temperature)} °C`;
      case "metrics_listening":
        return `Страница и метрики на ${plain(e.address)}`;
      case "metrics_failed":
        return `Не удалось слушать ${plain(e.address)}: ${plain(e.reason)}`;
      case "login_failed":
        return `Неудачный вход${e.user ? ` (${plain(e.user)})` : ""} с ${plain(e.peer)}`;
      case "page_asset_missing":
        return `Нет файла страницы ${plain(e.path)}`;
      case "new_file":
        return `${chamber}новый файл журнала`;
      case "delivery_failed":
      case "notification_dropped":
        return `${chamber}уведомление не доставлено (${plain(e.channel)}): ${plain(e.reason)}`;
      default:
        return `${chamber}${plain(e.event)}`;
    }
  }

  // The newest lines of the events journal in `list`, newest first; only those of `address`
  // (and the logger's own) when given. Returns a function that reads what is new since.
  function eventsInto(list, address, limit) {
    const shown = [];
    let since = null;
    let seenAtSince = new Set(); // "since" is inclusive: the lines of that moment come again
    const wanted = (e) =>
      address === undefined ||
      e.chamber === address ||
      (e.chamber === undefined && ["started", "stopped", "port_lost", "port_back"].includes(e.event));
    return async (timeoutSeconds) => {
      const url = since === null ? "/api/events" : `/api/events?since=${encodeURIComponent(since)}`;
      const data = await fetchJson(url, timeoutSeconds);
      let added = false;
      for (const e of Array.isArray(data.events) ? data.events : []) {
        if (typeof e !== "object" || e === null || typeof e.time !== "string") continue;
        const key = JSON.stringify(e);
        if (e.time === since && seenAtSince.has(key)) continue;
        if (e.time !== since) {
          since = e.time;
          seenAtSince = new Set();
        }
        seenAtSince.add(key);
        if (!wanted(e)) continue;
        shown.push(e);
        added = true;
      }
      if (!added && list.childElementCount > 0) return;
      shown.splice(0, Math.max(0, shown.length - limit));
      list.replaceChildren(
        ...shown
          .slice()
          .reverse()
          .map((e) => {
            const item = element("li");
            item.dataset.event = String(e.event);
            item.append(element("time", "", moment(e.time, since) + clockOf(e.time, true).slice(5)), " ", eventText(e));
            return item;
          })
      );
      if (shown.length === 0) list.replaceChildren(element("li", "none", "Событий нет"));
    };
  }

  function periodOf(logger) {
    const p = logger && logger.period_seconds;
    return isNumber(p) && p > 0 ? p : kDefaultPeriodSeconds;
  }

  // Calls step() now and then every period (the logger's, once known) after it ends, so slow
  // answers never pile up.
  function every(step) {
    let period = kDefaultPeriodSeconds;
    const run = async () => {
      try {
        const next = await step(period);
        if (next) period = next;
      } finally {
        setTimeout(run, period * 1000);
      }
    };
    run();
  }

  function startOverview() {
    const tiles = document.getElementById("tiles");
    const byAddress = new Map();
    const readEvents = eventsInto(document.getElementById("events"), undefined, 15);
    every(async (period) => {
      let data;
      const timeout = Math.max(5, period * 2);
      try {
        data = await fetchJson("/api/chambers", timeout);
      } catch (e) {
        setLink(false, null, e);
        return null;
      }
      // The journal is an extra: when it cannot be read, the tiles still count as fresh.
      readEvents(timeout).catch(() => {});
      const logger = data.logger || {};
      const chambers = Array.isArray(data.chambers) ? data.chambers : [];
      renderHeader(logger);
      const order = [];
      for (const c of chambers) {
        let tile = byAddress.get(c.address);
        if (!tile) {
          tile = makeTile(c.address, true);
          byAddress.set(c.address, tile);
        }
        renderTile(tile, c, logger);
        order.push(tile);
      }
      const same = order.length === tiles.children.length && order.every((t, i) => tiles.children[i] === t);
      if (!same) tiles.replaceChildren(...order);
      document.getElementById("empty").hidden = chambers.length > 0;
      setLink(true, logger);
      return periodOf(logger);
    });
  }

  if (document.body.classList.contains("overview")) startOverview();

  return { makeTile, renderTile, renderHeader, setLink, fetchJson, periodOf, every, temperature, eventsInto };
})();
