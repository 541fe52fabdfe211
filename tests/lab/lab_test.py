#!/usr/bin/python3
"""The lab's page against the real Prometheus: two real loggers (`kalvora-cli log --http`) on two
simulated buses, the second over TLS with a login, scraped every second by Debian's `prometheus`
on loopback (tls_config, basic_auth), and
`kalvora-cli lab` reading that Prometheus, checked through /api/lab and in headless Chromium.

Usage: lab_test.py --cli PATH --sim PATH [--screenshots DIR]
Exits 77 (CTest's skip) when Prometheus, openssl, Chromium, its driver or Selenium are missing;
KALVORA_SCREENSHOTS=DIR does what --screenshots does.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web"))
import browser_test as web  # noqa: E402  the overview's browser test: simulator, waits, Chromium
from browser_test import Failure, check, get_json, stop, tenths  # noqa: E402

try:
    from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
    from selenium.webdriver.common.by import By
except ImportError:
    pass  # main() skips

SKIP = 77
PROMETHEUS = "/usr/bin/prometheus"
EVENT_TIMEOUT = 90  # seconds; scraped every second, the lab's answer kept for a few

# Two benches, each a PC with its bus; the same chamber address on both is two chambers.
BENCHES = {
    "bench1": {1: {0: tenths(25.3), 2: tenths(60.0), 1: 3, 10: 2, 11: 5, 12: 1, 13: 10},
               2: {0: tenths(-12.5), 2: tenths(-40.0)}},
    "bench2": {1: {0: tenths(41.0), 2: tenths(45.0)},
               3: {0: tenths(80.2), 2: tenths(85.0)}},
}


# The login Prometheus scrapes a TLS bench with (htpasswd -nbBC 4; cost 4 keeps the test quick).
SCRAPE_USER = "prometheus"
SCRAPE_PASSWORD = "richtig Pferd"
SCRAPE_HASH = "$2y$04$8SVRuSPPekzhMD5g0bK5Ve1kDEonohLqaShEjUO2weAjjQljM49L6"


def secure_bench(folder):
    """A certificate for 127.0.0.1 and the web configuration that serves it with a login;
    returns the configuration's path."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", os.path.join(folder, "bench.key"),
                    "-out", os.path.join(folder, "bench.crt")],
                   check=True, capture_output=True)
    config = os.path.join(folder, "web.yml")
    with open(config, "w") as f:
        f.write("tls_server_config:\n  cert_file: bench.crt\n  key_file: bench.key\n"
                f"basic_auth_users:\n  {SCRAPE_USER}: {SCRAPE_HASH}\n")
    return config


class Bench:
    """A simulated bus and the real logger that reads it, serving /metrics on loopback (over
    TLS with a login when `tls`)."""

    def __init__(self, args, tmp, name, tls=False):
        self.name = name
        self.tls = tls
        self.folder = os.path.join(tmp, name)
        os.makedirs(self.folder)
        secured = ["--web-config", secure_bench(self.folder)] if tls else []
        link = os.path.join(self.folder, "line")
        self.simulator = web.Simulator(args.sim, link, list(BENCHES[name]))
        self.logger = None
        for address, registers in BENCHES[name].items():
            self.simulator.set_registers(address, registers)
        self.port = web.free_port()
        self.stderr = os.path.join(self.folder, "logger.err")
        addresses = ",".join(str(a) for a in BENCHES[name])
        with open(self.stderr, "w") as err:
            self.logger = subprocess.Popen(
                [args.cli, "log", addresses, "--period", "1", "--timeout", "300", "--port", link,
                 "--dir", self.folder, "--http", f"127.0.0.1:{self.port}"] + secured,
                stdout=subprocess.DEVNULL, stderr=err, cwd=self.folder,
                env=dict(os.environ, HOME=self.folder, LC_ALL="C.UTF-8"))

    @property
    def target(self):
        return f"127.0.0.1:{self.port}"

    @property
    def job(self):
        return "kalvora-tls" if self.tls else "kalvora"

    @property
    def page(self):
        return f"{'https' if self.tls else 'http'}://{self.target}/"

    def stop(self):
        """The exit statuses of the logger and the simulator."""
        if self.logger is not None:
            stop(self.logger)
        return self.logger.returncode if self.logger else None, self.simulator.stop()


class Prometheus:
    """Debian's Prometheus in a folder of its own, scraping the benches every second."""

    def __init__(self, tmp, benches):
        self.folder = os.path.join(tmp, "prometheus")
        os.makedirs(self.folder)
        config = os.path.join(self.folder, "prometheus.yml")
        password = os.path.join(self.folder, "scrape-password")
        with open(password, "w") as f:
            f.write(SCRAPE_PASSWORD + "\n")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n")
            for tls in (False, True):
                jobs = [b for b in benches if b.tls == tls]
                if not jobs:
                    continue
                f.write(f"  - job_name: {jobs[0].job}\n")
                if tls:
                    f.write("    scheme: https\n    tls_config:\n      ca_file: "
                            f"{jobs[0].folder}/bench.crt\n"
                            f"    basic_auth:\n      username: {SCRAPE_USER}\n"
                            f"      password_file: {password}\n")
                f.write("    static_configs:\n")
                for bench in jobs:
                    f.write(f"      - targets: ['{bench.target}']\n"
                            f"        labels:\n          bench: {bench.name}\n"
                            f"          page: {bench.page}\n")
        self.port = web.free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.log = os.path.join(self.folder, "prometheus.log")
        with open(self.log, "w") as out:
            self.process = subprocess.Popen(
                [PROMETHEUS, f"--config.file={config}",
                 f"--storage.tsdb.path={os.path.join(self.folder, 'data')}",
                 f"--web.listen-address=127.0.0.1:{self.port}", "--log.level=warn"],
                stdout=out, stderr=subprocess.STDOUT, cwd=self.folder)

    def query(self, promql):
        answer = get_json(f"{self.url}/api/v1/query?query={urllib.parse.quote(promql)}")
        return answer["data"]["result"]

    def stop(self):
        stop(self.process)


def wait_until(what, predicate):
    """Until predicate() holds; an answer not there yet (a bench, a chamber) is not yet."""
    def tolerant():
        try:
            return predicate()
        except (KeyError, TypeError, IndexError):
            return False
    return web.wait_until(what, tolerant, EVENT_TIMEOUT)


def wait_in_browser(driver, what, predicate):
    def tolerant(d):
        try:
            return predicate(d)
        except (Failure, NoSuchElementException, StaleElementReferenceException):
            return False
    return web.wait_in_browser(driver, what, tolerant, EVENT_TIMEOUT)


def bench_of(lab, name):
    return next((b for b in lab["benches"] if b["name"] == name), None)


def chamber_of(lab, bench, address):
    b = bench_of(lab, bench)
    return next((c for c in b["chambers"] if c["address"] == address), None) if b else None


def section(driver, bench):
    for s in driver.find_elements(By.CSS_SELECTOR, "section.bench"):
        if s.find_element(By.CSS_SELECTOR, ".bench-head h2").text == bench:
            return s
    raise Failure(f"no section for {bench} on the page")


def tile(driver, bench, address):
    return section(driver, bench).find_element(By.CSS_SELECTOR, f'.tile[data-address="{address}"]')


def targets_up(prometheus, benches):
    check(prometheus.process.poll() is None, f"Prometheus exited {prometheus.process.returncode}")
    up = {r["metric"]["instance"]: r["value"][1] for r in prometheus.query("up")}
    wanted = {b.target: "1" for b in benches}
    return up == wanted and up


def every_chamber(lab_url):
    """/api/lab holds every chamber of both loggers, answering, with what its chamber reads."""
    lab = get_json(lab_url + "/api/lab")
    if not lab["prometheus"]["reachable"]:
        return False
    for name, chambers in BENCHES.items():
        bench = bench_of(lab, name)
        if bench is None or not bench["up"] or not bench["port_up"]:
            return False
        if [c["address"] for c in bench["chambers"]] != sorted(chambers):
            return False
        for c in bench["chambers"]:
            expected = BENCHES[name][c["address"]][0]
            if c["state"] != "answering" or tenths(c["current_temperature"]) != expected:
                return False
    return lab


def run(args, tmp):
    shots = args.screenshots or os.environ.get("KALVORA_SCREENSHOTS")
    if shots:
        os.makedirs(shots, exist_ok=True)
    benches, prometheus, lab, driver = [], None, None, None
    lab_err = os.path.join(tmp, "lab.err")
    try:
        # The second bench serves TLS with a login.
        benches = [Bench(args, tmp, name, tls=index == 1) for index, name in enumerate(BENCHES)]
        prometheus = Prometheus(tmp, benches)
        wait_until("both loggers' targets up in Prometheus", lambda: targets_up(prometheus, benches))

        lab_port = web.free_port()
        base = f"http://127.0.0.1:{lab_port}"
        with open(lab_err, "w") as err:
            lab = subprocess.Popen([args.cli, "lab", "--prometheus", prometheus.url,
                                    "--http", f"127.0.0.1:{lab_port}"],
                                   stdout=subprocess.DEVNULL, stderr=err)
        answer = wait_until("every chamber of both loggers in /api/lab", lambda: every_chamber(base))
        for bench in benches:
            listed = bench_of(answer, bench.name)
            check(listed["job"] == bench.job and listed["instance"] == bench.target,
                  f"{bench.name} is its target: {listed}")
            check(listed["chambers"][-1]["page"]
                  == f"{bench.page}chamber/{listed['chambers'][-1]['address']}",
                  f"a tile links its logger's own chamber page: {listed['chambers'][-1]}")
        check(chamber_of(answer, "bench1", 1)["step"] == 2, "the program's step")

        driver = web.browser(1280, 900)
        driver.get(base + "/")
        wait_in_browser(driver, "four tiles in two benches", lambda d: len(
            d.find_elements(By.CSS_SELECTOR, "section.bench .tile")) == 4)
        shown = {name: [t.get_attribute("data-address")
                        for t in section(driver, name).find_elements(By.CSS_SELECTOR, ".tile")]
                 for name in BENCHES}
        check(shown == {"bench1": ["1", "2"], "bench2": ["1", "3"]},
              f"every chamber's tile under its bench: {shown}")
        figure = tile(driver, "bench2", 3).find_element(
            By.CSS_SELECTOR, '[data-field="current_temperature"]').text
        check(figure == "80,2", f"bench2's chamber 3 shows {figure!r}")
        check(tile(driver, "bench2", 3).get_attribute("href") == f"{benches[1].page}chamber/3",
              "the tile links its logger's page")
        check(driver.find_element(By.ID, "prometheus-down").get_attribute("hidden") is not None,
              "no banner while Prometheus answers")

        # A chamber gone silent on its bus: the logger says so, Prometheus keeps it, the lab shows it.
        benches[0].simulator.command("silent 2", "chamber 2 is silent")
        wait_until("bench1's chamber 2 silent in /api/lab", lambda: (
            lambda c: c["state"] == "silent" and not c["answering"])(
                chamber_of(get_json(base + "/api/lab"), "bench1", 2)))
        wait_in_browser(driver, "bench1's chamber 2 shown silent",
                        lambda d: "silent" in tile(d, "bench1", 2).get_attribute("data-state").split())
        check("silent" not in tile(driver, "bench2", 1).get_attribute("data-state").split(),
              "the other bench's chamber with the same address still answers")
        if shots:
            driver.set_window_size(1280, 1150)  # both benches whole
            driver.save_screenshot(os.path.join(shots, "lab-page.png"))

        # A logger stopped: its bench is down, its chambers kept with their last figures.
        stop(benches[1].logger)
        lab_answer = wait_until("bench2 down in /api/lab", lambda: (
            lambda lab: not bench_of(lab, "bench2")["up"] and lab)(get_json(base + "/api/lab")))
        down = bench_of(lab_answer, "bench2")
        check([c["state"] for c in down["chambers"]] == ["bench_down", "bench_down"]
              and not any(c["answering"] for c in down["chambers"]),
              f"bench2's chambers are old: {down['chambers']}")
        check(chamber_of(lab_answer, "bench2", 3)["current_temperature"] == 80.2,
              "the last figure kept")
        check(bench_of(lab_answer, "bench1")["up"], "bench1 still up")
        wait_in_browser(driver, "bench2 shown down", lambda d: section(d, "bench2")
                        .get_attribute("data-state") == "down")
        head = section(driver, "bench2").find_element(By.CSS_SELECTOR, ".bench-head").text
        check("СТЕНД НЕДОСТУПЕН" in head, f"the bench down in words: {head!r}")
        check("СТЕНД НЕДОСТУПЕН" in tile(driver, "bench2", 3).text, "on its tiles too")
        check(section(driver, "bench1").get_attribute("data-state") == "up", "bench1 shown up")
        if shots:
            driver.save_screenshot(os.path.join(shots, "lab-bench-down.png"))

        # Prometheus stopped: a banner above the last known tiles, not an empty page.
        prometheus.stop()
        gone = wait_until("Prometheus unreachable in /api/lab", lambda: (
            lambda lab: not lab["prometheus"]["reachable"] and lab)(get_json(base + "/api/lab")))
        check(gone["prometheus"]["error"], "the reason given")
        check(sorted(b["name"] for b in gone["benches"]) == sorted(BENCHES),
              f"the last known benches kept: {[b['name'] for b in gone['benches']]}")
        check(not any(c["answering"] for b in gone["benches"] for c in b["chambers"]),
              "every figure old")
        wait_in_browser(driver, "the banner", lambda d: d.find_element(
            By.ID, "prometheus-down").is_displayed())
        banner = driver.find_element(By.ID, "prometheus-down").text
        check(banner.startswith("PROMETHEUS НЕДОСТУПЕН"), f"the banner: {banner!r}")
        check(len(driver.find_elements(By.CSS_SELECTOR, "section.bench .tile")) == 4,
              "the tiles stay under the banner")
        check(not driver.find_element(By.ID, "empty").is_displayed(), "not an empty lab")
        # Whether a chamber answers is not known now: its tile says why, not "no answer"; the
        # chamber that was silent when last heard of still says so.
        wait_in_browser(driver, "bench1's chamber 1 unknown", lambda d: "prometheus-down" in
                        tile(d, "bench1", 1).get_attribute("data-state").split())
        banners = tile(driver, "bench1", 1).find_element(By.CSS_SELECTOR, '[data-field="banners"]')
        check("PROMETHEUS НЕДОСТУПЕН" in banners.text and "НЕТ ОТВЕТА" not in banners.text,
              f"chamber 1's banners: {banners.text!r}")
        check("НЕТ ОТВЕТА" in tile(driver, "bench1", 2).text, "chamber 2 was silent")
        head = section(driver, "bench1").find_element(By.CSS_SELECTOR, ".bench-head").text
        check("на связи" not in head, f"bench1 not shown up: {head!r}")
        if shots:
            driver.save_screenshot(os.path.join(shots, "lab-prometheus-down.png"))
        errors = web.console_errors(driver)
        check(not errors, f"console errors on the lab's page: {errors}")
        check(lab.poll() is None, "the lab's page ended by itself")
        stop(lab)
        check(lab.returncode == 0, f"kalvora-cli lab exited {lab.returncode} on SIGTERM")
    except Failure:
        if lab is not None:
            stop(lab)
        for name, path in [("lab", lab_err)] + [(b.name, b.stderr) for b in benches] + (
                [("prometheus", prometheus.log)] if prometheus else []):
            if os.path.exists(path):
                with open(path) as f:
                    sys.stderr.write(f"--- {name}:\n{f.read()[-4000:]}")
        raise
    finally:
        if driver is not None:
            driver.quit()
        if lab is not None:
            stop(lab)
        if prometheus is not None:
            prometheus.stop()
        exits = [b.stop() for b in benches]
    check(exits == [(0, 0)] * len(benches), f"the loggers and simulators exited {exits}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--screenshots", metavar="DIR")
    args = parser.parse_args()
    args.cli, args.sim = os.path.abspath(args.cli), os.path.abspath(args.sim)
    missing = [name for name, there in (("prometheus", os.access(PROMETHEUS, os.X_OK)),
                                         ("openssl", shutil.which("openssl") is not None),
                                         ("python3-selenium", web.webdriver is not None),
                                         ("chromium", os.access(web.CHROMIUM, os.X_OK)),
                                         ("chromium-driver", os.access(web.CHROMEDRIVER, os.X_OK)))
               if not there]
    if missing:
        print(f"SKIP: missing {', '.join(missing)} (./test.sh installs them)")
        return SKIP
    tmp = tempfile.mkdtemp(prefix="kalvora-lab-")
    started = time.monotonic()
    try:
        run(args, tmp)
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print(f"PASS: the lab's page over the real Prometheus, the second bench on TLS with a login "
          f"({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
