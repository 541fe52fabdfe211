#!/usr/bin/python3
"""The overview page in a real browser: headless Chromium, driven through Selenium, against the
real logger (`kalvora-cli log --http`) reading the real simulator (chambers 1 and 2; 3 silent).

Usage: browser_test.py --cli PATH --sim PATH [--screenshots DIR]
Exits 77 (CTest's skip) when Chromium, its driver or Selenium are missing; KALVORA_SCREENSHOTS=DIR
does what --screenshots does.
"""

import argparse
import datetime
import json
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
EVENT_TIMEOUT = 30  # seconds; the logger reads every second

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None


def tenths(celsius):
    """A temperature as the chamber's register holds it."""
    value = round(celsius * 10)
    return value if value >= 0 else 65536 + value


# What the chambers read: a program running on 1, a cold chamber 2 below the alarm's limit.
CHAMBER_1 = {0: tenths(25.3), 2: tenths(60.0), 1: 3, 10: 2, 11: 5, 12: 1, 13: 10,
             4: 0, 5: 10, 6: 1, 7: 20, 8: 0, 9: 30, 14: 120}
CHAMBER_2 = {0: tenths(-12.5), 2: tenths(-40.0)}

# The table of chamber 1's program, as `--program` names it: 5 steps of 2 h to mode and 30 min of
# stabilisation, 10 cycles. At step 2 with 10 of its 30 minutes held: 20 min, steps 3 to 5 and
# 9 more cycles, 20 + 3 × 150 + 9 × 5 × 150 minutes.
PROGRAM_1 = ("\ufeffПрограмма Kalvora;1\nПрограмма №;3\nЧисло шагов;5\nЧисло циклов;10\n"
             "Название;Тест\nОписание;\n"
             "№ шага;Т, °С;Стабилизация, чч;Стабилизация, мм;Выход,чч;Выход,мм\n"
             + "".join(f"{step};60;0;30;2;0\n" for step in range(1, 6)))
RUN_MINUTES_LEFT_1 = 20 + 3 * 150 + 9 * 5 * 150


HISTORY_HOURS = 6
OUTAGE = (150, 180)  # minutes into the history without rows: the chart's gap


def write_history(folder, address):
    """A readings CSV of the hours before the logger starts, as an earlier run of it left (a row
    every 5 s): program 2 heating, holding and cooling in two cycles, with a half-hour outage.
    Its last row is two minutes old."""
    end = datetime.datetime.now().astimezone().replace(microsecond=0) - datetime.timedelta(minutes=2)
    start = end - datetime.timedelta(hours=HISTORY_HOURS)
    lines = ["time,current_temperature,set_temperature,time_to_mode,stabilisation_time,"
             "time_to_mode_set_point,stabilisation_set_point,program,step,steps,cycle,cycles"]
    profile = [80.0, 80.0, -20.0, -20.0]  # the set temperature of each step, 45 minutes each
    current = 20.0
    for second in range(0, HISTORY_HOURS * 3600 + 1, 5):
        minute = second // 60
        index = minute // 45
        step, cycle = index % 4 + 1, min(index // 4 + 1, 2)
        target = profile[step - 1]
        current += max(-0.2, min(0.2, target - current))
        if OUTAGE[0] <= minute < OUTAGE[1]:
            continue
        t = start + datetime.timedelta(seconds=second)
        lines.append(f"{t.isoformat()},{current:.1f},{target:g},00:{minute % 45:02d},00:00,"
                     f"00:45,00:30,2,{step},4,{cycle},2")
    name = f"ЖЫМ№{address} {start.strftime('%m_%d_%y %H_%M_%S')}.csv"
    with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Simulator:
    """kalvora-chamber-sim with --commands: what a chamber reads changes while it serves."""

    def __init__(self, binary, link, addresses):
        args = [binary, "--link", link, "--commands"]
        for a in addresses:
            args += ["--chamber", str(a)]
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.said = []
        threading.Thread(target=self._read, daemon=True).start()
        try:
            self.wait_for("chambers ")
        except Failure:
            self.stop()
            raise

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_for(self, text):
        deadline = time.monotonic() + EVENT_TIMEOUT
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            self.said.append(line)
            if text in line:
                return line
        raise Failure(f"the simulator never said '{text}'; it said: {self.said[-10:]}")

    def command(self, line, answer):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        self.wait_for(answer)

    def set_registers(self, address, registers):
        for reg, value in registers.items():
            self.command(f"raw {address} {reg}={value}", f"chamber {address} register {reg} reads {value}")

    def stop(self):
        stop(self.process)
        return self.process.returncode


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def get_json(url):
    with urllib.request.urlopen(url, timeout=10) as response:
        return json.load(response)


def wait_until(what, predicate, timeout=EVENT_TIMEOUT):
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        try:
            last = predicate()
            if last:
                return last
        except (OSError, ValueError) as e:  # not listening yet, or half an answer
            last = e
        time.sleep(0.2)
    raise Failure(f"timed out waiting for {what} (last: {last!r})")


def browser(width, height):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     f"--window-size={width},{height}", "--lang=ru-RU", "--no-first-run",
                     "--disable-extensions", "--disable-background-networking"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def console_errors(driver):
    return [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]


def tile(driver, address):
    return driver.find_element(By.CSS_SELECTOR, f'.tile[data-address="{address}"]')


def field(driver, address, name):
    return tile(driver, address).find_element(By.CSS_SELECTOR, f'[data-field="{name}"]')


def wait_in_browser(driver, what, predicate, timeout=EVENT_TIMEOUT):
    try:
        return WebDriverWait(driver, timeout, poll_frequency=0.2).until(lambda d: predicate(d))
    except TimeoutException:
        raise Failure(f"timed out in the browser waiting for {what}") from None


def overview(driver, base, shots):
    driver.get(base + "/")
    wait_in_browser(driver, "three tiles with chamber 1's reading",
                    lambda d: len(d.find_elements(By.CSS_SELECTOR, ".tile")) == 3
                    and field(d, 1, "current_temperature").get_attribute("data-value") == "25.3")
    addresses = [t.get_attribute("data-address")
                 for t in driver.find_elements(By.CSS_SELECTOR, ".tile")]
    check(addresses == ["1", "2", "3"], f"tiles in the logger's order: {addresses}")
    lefts = {t.rect["x"] for t in driver.find_elements(By.CSS_SELECTOR, ".tile")}
    check(len(lefts) == 3, f"three tiles side by side on a wide screen: {lefts}")

    # What each tile shows against what the simulator's chambers read.
    shown = {(a, f): field(driver, a, f).text
             for a in (1, 2) for f in ("current_temperature", "set_temperature")}
    expected = {(1, "current_temperature"): "25,3", (1, "set_temperature"): "60,0",
                (2, "current_temperature"): "\u221212,5", (2, "set_temperature"): "\u221240,0"}
    check(shown == expected, f"tiles show {shown}, the chambers read {expected}")
    check(field(driver, 1, "step").text == "2 (5)", "step of steps")
    check(field(driver, 1, "cycle").text == "1 (10)", "cycle of cycles")
    check(field(driver, 1, "program").text == "3", "program")
    check(field(driver, 1, "time_to_mode").text.split() == ["01:20", "уставка", "02:00"],
          f"time to mode: {field(driver, 1, 'time_to_mode').text!r}")
    # The run's end: an estimate, said to be one, as the API gives it. The chamber's counters
    # stand still here, so each reading moves the end on by the time between the readings.
    chamber_1 = next(c for c in get_json(base + "/api/chambers")["chambers"] if c["address"] == 1)
    read_at = datetime.datetime.fromisoformat(chamber_1["last_good_reading"])
    end = datetime.datetime.fromisoformat(chamber_1["run_end_estimate"])
    check(end - read_at == datetime.timedelta(minutes=RUN_MINUTES_LEFT_1),
          f"the API's end {end} is {RUN_MINUTES_LEFT_1} min after the reading {read_at}")

    def shown_end(d):
        value = field(d, 1, "run_end").get_attribute("data-value")
        return datetime.datetime.fromisoformat(value) if value else None

    wait_in_browser(driver, "chamber 1's end of the run", lambda d: shown_end(d) is not None
                    and abs(shown_end(d) - end) <= datetime.timedelta(seconds=10))
    shown = shown_end(driver)
    run_end = field(driver, 1, "run_end").text
    check(run_end.startswith("≈ ") and ", осталось ≈ 5 д 0 ч" in run_end
          and any(f"≈ {(shown + datetime.timedelta(seconds=s)).strftime('%d.%m %H:%M')}," in run_end
                  for s in (-2, 0, 2)),
          f"chamber 1's end of the run: {run_end!r}, the API's {end}")
    check("(оценка)" in tile(driver, 1).text, "the end is labelled an estimate")
    check(field(driver, 2, "run_end").text == "—", "chamber 2 runs no program")
    check(tile(driver, 1).get_attribute("href").endswith("/chamber/1"), "a tile links its page")
    check(tile(driver, 1).get_attribute("data-state") == "answering", "chamber 1 answers")
    check("Текущая температура, °C" in tile(driver, 1).text, "the window program's labels")

    # The silent chamber is marked in words, not only in colour; so is the alarm on chamber 2.
    wait_in_browser(driver, "chamber 3 marked silent",
                    lambda d: "silent" in tile(d, 3).get_attribute("data-state").split()
                    and "НЕТ ОТВЕТА" in field(d, 3, "banners").text)
    check(field(driver, 3, "state").text.lower() == "нет ответа",
          f"chamber 3's state: {field(driver, 3, 'state').text!r}")
    wait_in_browser(driver, "chamber 2's alarm",
                    lambda d: "ТРЕВОГА: ниже предела" in field(d, 2, "banners").text)
    check("silent" not in tile(driver, 1).get_attribute("data-state"), "chamber 1 not silent")
    # The journal beneath, newest first, in words.
    wait_in_browser(driver, "the outage and the alarm in the journal", lambda d: any(
        "Камера 3: нет ответа" in e.text
        for e in d.find_elements(By.CSS_SELECTOR, '#events li[data-event="chamber_lost"]'))
        and d.find_elements(By.CSS_SELECTOR, '#events li[data-event="alarm_raised"]'))
    header = driver.find_element(By.CSS_SELECTOR, ".bar").text
    check("COM1" in header and "открыт" in header, f"the header's port: {header!r}")
    if shots:
        driver.save_screenshot(os.path.join(shots, "overview-page.png"))

    return driver.execute_script("return window.performance.timeOrigin")


def set_point_changes_without_reload(driver, simulator, loaded_at):
    simulator.set_registers(1, {2: tenths(75.5)})
    wait_in_browser(driver, "the new set-point on chamber 1's tile",
                    lambda d: field(d, 1, "set_temperature").text == "75,5")
    check(driver.execute_script("return window.performance.timeOrigin") == loaded_at,
          "the page was reloaded to show the new set-point")


def silent_figures_are_old(driver, simulator):
    """A chamber that stops answering keeps its last figures on the tile, marked as old."""
    simulator.command("silent 2", "chamber 2 is silent")
    wait_in_browser(driver, "chamber 2 marked silent",
                    lambda d: "silent" in tile(d, 2).get_attribute("data-state").split())
    check("stale" in tile(driver, 2).get_attribute("class").split(), "chamber 2's figures old")
    check(field(driver, 2, "current_temperature").text == "\u221212,5", "the last reading kept")
    check(field(driver, 2, "age").text.startswith("Устарело."),
          f"its age: {field(driver, 2, 'age').text!r}")
    check("НЕТ ОТВЕТА с " in field(driver, 2, "banners").text, "since when, in words")
    opacity = driver.execute_script(
        "return getComputedStyle(arguments[0].querySelector('.figures')).opacity", tile(driver, 2))
    check(float(opacity) < 0.6, f"the old figures are faded (opacity {opacity})")
    simulator.command("answer 2", "chamber 2 answers")
    wait_in_browser(driver, "chamber 2 fresh again",
                    lambda d: "stale" not in tile(d, 2).get_attribute("class").split()
                    and "silent" not in tile(d, 2).get_attribute("data-state").split())


def chamber_page(driver, base, simulator, shots):
    if shots:
        driver.set_window_size(1280, 1250)
    driver.get(base + "/chamber/1")
    # The earlier run's hours, a point a minute, then the logger's own readings.
    rows = wait_in_browser(
        driver, "the chart's points",
        lambda d: d.execute_script(
            "return window.kalvoraChart ? window.kalvoraChart.numRows() : 0") >= 300)
    gaps = driver.execute_script("""
        const g = window.kalvoraChart;
        let gaps = 0;
        for (let i = 0; i < g.numRows(); ++i)
            if (g.getValue(i, 1) === null && g.getValue(i, 2) === null) gaps++;
        return gaps;""")
    # The outage in the history, and the pause between the earlier run and this one.
    check(gaps >= 2, f"{gaps} gaps in the chart")
    chart = driver.find_element(By.ID, "chart")
    marks = int(chart.get_attribute("data-marks"))
    check(marks >= 7, f"{marks} step and cycle changes marked, 7 in the history")
    check(field(driver, 1, "current_temperature").text == "25,3", "the tile above the chart")
    drawn = driver.execute_script("""
        const canvas = document.querySelector('#chart canvas');
        const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        let coloured = 0;
        for (let i = 0; i < data.length; i += 4)
            if (data[i + 3] > 0 && data[i] > 150 && data[i + 1] < 90) coloured++;
        return coloured;""")
    check(drawn > 20, f"the current temperature's red line has {drawn} pixels")

    # A step change appears as a mark; the chart grows while the page stays.
    simulator.set_registers(1, {10: 3})
    wait_in_browser(driver, "more points and a step mark",
                    lambda d: d.execute_script("return window.kalvoraChart.numRows()") > rows
                    and field(d, 1, "step").text == "3 (5)"
                    and int(chart.get_attribute("data-marks")) > marks)
    if shots:
        time.sleep(1.5)  # one more round on the chart
        driver.save_screenshot(os.path.join(shots, "chamber-page.png"))
        driver.set_window_size(1280, 900)


def unknown_chamber(driver, base):
    """A chamber this logger does not read, or no number at all: the page says so in words."""
    for path, says in (("/chamber/9", "Камера 9 не опрашивается регистратором."),
                       ("/chamber/x1", "Нет такой камеры: «/chamber/x1»."),
                       # Before, decodeURIComponent threw and the page kept loading for ever.
                       ("/chamber/%E0%A4%A", "Нет такой камеры: «/chamber/%E0%A4%A».")):
        driver.get(base + path)
        wait_in_browser(driver, f"the message on {path}",
                        lambda d: d.find_element(By.ID, "unknown").is_displayed()
                        and d.find_element(By.ID, "unknown").text == says)
        check(not driver.find_element(By.ID, "trend").is_displayed(), f"no chart on {path}")
        # The browser reports the page's own error status, and nothing else.
        errors = [e for e in console_errors(driver)
                  if not e["message"].startswith(f"{base}{path} - Failed to load resource")]
        check(not errors, f"console errors on {path}: {errors}")


def connection_lost(driver, base, logger):
    """The logger gone: the page says so and keeps trying; its figures are no longer fresh."""
    driver.get(base + "/")
    wait_in_browser(driver, "the tiles", lambda d: len(d.find_elements(By.CSS_SELECTOR, ".tile")) == 3)
    stop(logger)
    check(logger.returncode == 0, f"the logger exited {logger.returncode} on SIGTERM")
    wait_in_browser(driver, "the lost connection shown",
                    lambda d: d.find_element(By.ID, "link").get_attribute("data-state") == "lost")
    text = driver.find_element(By.ID, "link").text
    check("НЕТ СВЯЗИ С РЕГИСТРАТОРОМ" in text, f"the lost connection in words: {text!r}")
    check("offline" in driver.find_element(By.TAG_NAME, "body").get_attribute("class"),
          "the page marked offline")


def run(args, tmp):
    shots = args.screenshots or os.environ.get("KALVORA_SCREENSHOTS")
    if shots:
        os.makedirs(shots, exist_ok=True)
    link = os.path.join(tmp, "ttySIM")
    simulator = Simulator(args.sim, link, [1, 2])
    logger = None
    driver = None
    log_path = os.path.join(tmp, "logger.err")
    try:
        simulator.set_registers(1, CHAMBER_1)
        simulator.set_registers(2, CHAMBER_2)
        write_history(tmp, 1)
        program = os.path.join(tmp, "program-3.csv")
        with open(program, "w", encoding="utf-8") as out:
            out.write(PROGRAM_1)
        port = free_port()
        base = f"http://127.0.0.1:{port}"
        env = dict(os.environ, KALVORA_COM1=link, HOME=tmp, LC_ALL="C.UTF-8")
        with open(log_path, "w") as err:
            logger = subprocess.Popen(
                [args.cli, "log", "1,2,3", "--period", "1", "--timeout", "100", "--port", "COM1",
                 "--dir", tmp, "--csv", "--http", f"127.0.0.1:{port}",
                 "--alarm", "2 low 0 delay=0", "--program", f"1:3={program}"],
                stdout=subprocess.DEVNULL, stderr=err, env=env, cwd=tmp)
        wait_until("the logger's first readings", lambda: any(
            c["address"] == 1 and c["current_temperature"] == 25.3
            for c in get_json(base + "/api/chambers")["chambers"]))

        driver = browser(1280, 900)
        loaded_at = overview(driver, base, shots)
        set_point_changes_without_reload(driver, simulator, loaded_at)
        silent_figures_are_old(driver, simulator)
        errors = console_errors(driver)
        check(not errors, f"console errors on the overview: {errors}")

        chamber_page(driver, base, simulator, shots)
        errors = console_errors(driver)
        check(not errors, f"console errors on the chamber page: {errors}")

        # A phone: one column of tiles, nothing wider than the screen.
        driver.set_window_size(360, 800)
        driver.get(base + "/")
        wait_in_browser(driver, "the tiles on a phone",
                        lambda d: len(d.find_elements(By.CSS_SELECTOR, ".tile")) == 3)
        width = driver.execute_script("return document.documentElement.scrollWidth")
        check(width <= 360, f"the phone page is {width} px wide, wider than its screen")
        lefts = {t.rect["x"] for t in driver.find_elements(By.CSS_SELECTOR, ".tile")}
        check(len(lefts) == 1, f"the tiles on a phone stand in one column: {lefts}")
        if shots:
            driver.save_screenshot(os.path.join(shots, "overview-phone.png"))
        driver.set_window_size(1280, 900)
        unknown_chamber(driver, base)
        check(logger.poll() is None, "the logger ended by itself")
        connection_lost(driver, base, logger)
    except Failure:
        if logger is not None:
            stop(logger)
            with open(log_path) as err:
                sys.stderr.write("The logger's stderr:\n" + err.read())
        raise
    finally:
        if driver is not None:
            driver.quit()
        if logger is not None:
            stop(logger)
        simulator_exit = simulator.stop()
    check(simulator_exit == 0, f"the simulator exited {simulator_exit}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--screenshots", metavar="DIR")
    args = parser.parse_args()
    args.cli, args.sim = os.path.abspath(args.cli), os.path.abspath(args.sim)
    missing = [name for name, there in (("python3-selenium", webdriver is not None),
                                         ("chromium", os.access(CHROMIUM, os.X_OK)),
                                         ("chromium-driver", os.access(CHROMEDRIVER, os.X_OK)))
               if not there]
    if missing:
        print(f"SKIP: missing {', '.join(missing)} (./test.sh installs them)")
        return SKIP
    tmp = tempfile.mkdtemp(prefix="kalvora-browser-")
    started = time.monotonic()
    try:
        run(args, tmp)
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print(f"PASS: both pages in Chromium ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
