"""The page of `ostrel web` in a real browser (headless Chromium through chromedriver), against a
tarnd with a few hundred points, a box, a port and two contenders.

usage: web_page_test.py TARND OSTREL ARTIFACTS_DIR
Screenshots of every view go to ARTIFACTS_DIR; the page's and the server's update costs are
printed at the end. With OSTREL_WEB_POINTS=N the plant has N points (the scale figures).
Exits 77 (skipped) only when Chromium cannot be started here at all.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError as e:
    print(f"SKIPPED: python3-selenium is not installed ({e}); scripts/install-deps.sh installs it")
    sys.exit(77)

TARND, OSTREL, ARTIFACTS = sys.argv[1:4]
POINTS = int(os.environ.get("OSTREL_WEB_POINTS", "300"))
failures = []
processes = []


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(args, **kw):
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    processes.append(proc)
    return proc


def ostrel(*args, stdin=None):
    run = subprocess.run([OSTREL, *args], input=stdin, capture_output=True, text=True, env=env, timeout=600)
    if run.returncode != 0:
        raise RuntimeError(f"ostrel {' '.join(args)}: {run.returncode} {run.stdout} {run.stderr}")
    return run.stdout


def check(what, condition):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def web(*extra):
    proc = start([OSTREL, "web", "--listen", "127.0.0.1:0", *extra], env=env)
    line = proc.stdout.readline()
    if "serving http://" not in line:
        raise RuntimeError("ostrel web did not start: " + line + proc.stdout.read())
    return line.split()[1].rstrip("/")


def shot(name):
    path = os.path.join(ARTIFACTS, name + ".png")
    driver.save_screenshot(path)


def wait(condition, seconds=10):
    return WebDriverWait(driver, seconds, poll_frequency=0.05).until(lambda d: condition())


def texts(table):
    """The rows of a table, each as its cells' texts joined by spaces (read at once: rows change)."""
    return driver.execute_script(
        f"return [...document.querySelectorAll('#{table} tbody tr')]"
        ".map(r => [...r.cells].map(c => c.textContent).join(' '));")


def eventually(what, condition, seconds=10):
    try:
        wait(condition, seconds)
        check(what, True)
        return True
    except TimeoutException:
        check(what, False)
        return False


os.makedirs(ARTIFACTS, exist_ok=True)
folder = tempfile.mkdtemp(prefix="ostrel-web-")
os.makedirs(os.path.join(folder, "data"))
driver = None


def start_tarnd():
    """A tarnd on a free port; another one if a test running beside this one took the port first."""
    for _ in range(5):
        port = free_port()
        log = open(os.path.join(folder, "tarnd.log"), "w")
        tarnd = subprocess.Popen([TARND, "--port", str(port), "--name", "plant", "--data", os.path.join(folder, "data"),
                                  "--journal-sync", "os", "--contender-expiry", "3"], stdout=log, stderr=log)
        processes.append(tarnd)
        deadline = time.monotonic() + 10
        while tarnd.poll() is None and time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                time.sleep(0.1)
                if tarnd.poll() is None:  # the answer came from this tarnd, not from a process that had the port
                    return port
            except OSError:
                time.sleep(0.05)
        tarnd.kill()
        tarnd.wait()
    raise RuntimeError("tarnd did not come up: " + open(os.path.join(folder, "tarnd.log")).read())


try:
    port = start_tarnd()
    env = dict(os.environ, TARN_ADDRESS=f"127.0.0.1:{port}", TARN_CALL_TIMEOUT_MS="3000")
    env.pop("TARN_SETTINGS", None)
    lines = [f"create plant.p{i:06d} AnalogPoint value={i} unit=m3/h" for i in range(POINTS)]
    lines += ["box create alarms 7", "port create commands"]
    started = time.monotonic()
    ostrel("shell", stdin="\n".join(lines) + "\n")
    print(f"made {POINTS} points in {time.monotonic() - started:.1f} s")
    contenders = [start([OSTREL, "contend", name, "--period", "1"], env=env) for name in ("pump.A", "pump.B")]
    writable = web("--allow-writes")
    readonly = web()

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,900", f"--user-data-dir={folder}/chrome"):
        options.add_argument(flag)
    try:
        driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                                  options=options)
    except WebDriverException as e:
        print(f"SKIPPED: Chromium cannot start here: {e.msg}")
        sys.exit(77)
    driver.set_page_load_timeout(30)

    # Servers: the one server, up, with its address.
    driver.get(writable + "/#servers")
    eventually("servers view shows the server up at its address",
               lambda: any("up" in t and f"127.0.0.1:{port}" in t for t in texts("servers")))
    shot("servers")

    # Data points: the filter finds one point among the others.
    driver.get(writable + "/#points")
    eventually("the list shows the first page of points", lambda: len(texts("points")) == min(50, POINTS))
    box = driver.find_element(By.ID, "filter")
    box.send_keys("p000042")
    eventually("the filter finds plant.p000042 alone",
               lambda: len(texts("points")) == 1 and "plant.p000042" in texts("points")[0])
    # A value written by another program shows within 2 s.
    ostrel("put", "plant.p000042", "value=777.5")
    written = time.monotonic()
    eventually("a value put by `ostrel put` shows within 2 s",
               lambda: "value=777.5" in (texts("points") or [""])[0], seconds=2)
    print(f"the put showed after {time.monotonic() - written:.2f} s")
    shot("points")

    # The point's page: every field, a plot, and a write through the page.
    driver.find_element(By.CSS_SELECTOR, "#points tbody tr").click()
    eventually("the point's page lists its fields",
               lambda: any(t.startswith("unit char") or t.startswith("unit ") for t in texts("fields")))
    Select(driver.find_element(By.ID, "write-path")).select_by_value("value")
    driver.find_element(By.ID, "write-value").send_keys("31.25")
    driver.find_element(By.ID, "write-go").click()
    eventually("the page shows the old and the new value",
               lambda: "777.5 → 31.25" in driver.find_element(By.ID, "write-result").text)
    check("the server holds the value written through the page",
          ostrel("get", "plant.p000042", "--field", "value").strip() == "31.25")
    eventually("the fields table shows the new value", lambda: any(t.startswith("value double 31.25") for t in texts("fields")))
    ostrel("put", "plant.p000042", "value=50")
    time.sleep(1.2)
    ostrel("put", "plant.p000042", "value=10")
    eventually("the plot has samples", lambda: driver.execute_script(
        "const d = document.getElementById('plot').getContext('2d').getImageData(0, 0, 640, 300).data;"
        "for (let i = 0; i < d.length; i += 4) if (d[i + 2] > 200 && d[i] < 80) return true; return false;"))
    time.sleep(0.6)
    shot("point")

    # Without --allow-writes the page cannot write, and the server refuses a write sent anyway.
    driver.get(readonly + "/#point/plant.p000042")
    eventually("the read-only page shows the point", lambda: len(texts("fields")) > 0)
    check("the read-only page's write button is disabled", not driver.find_element(By.ID, "write-go").is_enabled())
    status = driver.execute_async_script(
        "const done = arguments[0];"
        "fetch('/api/put', {method: 'POST', body: new URLSearchParams({name: 'plant.p000042', path: 'value',"
        " value: '99'})}).then(r => r.json().then(j => done([r.status, j.error])));")
    check(f"a write without --allow-writes is refused 403 ({status})", status[0] == 403 and "--allow-writes" in status[1])
    check("the refused write changed nothing", ostrel("get", "plant.p000042", "--field", "value").strip() == "10")
    shot("point-read-only")

    # Ports and boxes; a box's monitor looks at the events the box holds and, read only, takes none.
    def events():
        return driver.execute_script("return [...document.querySelectorAll('#events li')].map(e => e.textContent);")

    def held():
        return ostrel("box", "count", "alarms").strip()

    driver.get(readonly + "/#channels")
    eventually("the channels view lists the box and the port",
               lambda: {"alarms box 0", "commands port"} <= {t.strip() for t in texts("channels")})
    ostrel("box", "send", "alarms", "AnalogPoint", "value=3")
    eventually("the box count shows the held event", lambda: "alarms box 1" in texts("channels"))
    shot("channels")
    driver.find_element(By.XPATH, "//table[@id='channels']//td[text()='alarms']").click()
    eventually("the read-only monitor looks at the box",
               lambda: "looking at alarms: it holds 1 event" in driver.find_element(By.ID, "monitor-state").text)
    check("the read-only page offers no taking", not driver.find_element(By.ID, "monitor-take").is_enabled())
    ostrel("declare", "7", "AnalogPoint", "value=5.5", "unit=bar")
    eventually("an event declared to the box's code shows in the monitor, decoded, at its position",
               lambda: any(e.startswith("#1") and "AnalogPoint" in e and "value=5.5" in e and "unit=bar" in e
                           for e in events()))
    time.sleep(1.5)  # three periods of looking
    check(f"the read-only monitor took nothing (the box holds {held()})", held() == "2")
    shot("monitor")
    status = driver.execute_script("return fetch('/api/stream/monitor-take?box=alarms').then(r => r.status);")
    check(f"the taking stream is refused without --allow-writes ({status})", status == 403)

    # With --allow-writes the monitor looks too, until the explicit control takes the events.
    driver.get(writable + "/#monitor/alarms")
    eventually("the monitor looks first", lambda: len(events()) == 2)
    check("looking with writes allowed took nothing", held() == "2")
    driver.find_element(By.ID, "monitor-take").click()
    eventually("the monitor takes the box's events once asked to",
               lambda: "taken from the box" in driver.find_element(By.ID, "monitor-state").text and held() == "0")
    ostrel("declare", "7", "AnalogPoint", "value=6.5", "unit=bar")
    eventually("an event declared to the box's code arrives in the taking monitor",
               lambda: any("AnalogPoint" in e and "value=6.5" in e for e in events()))
    shot("monitor-taking")

    # Contenders: two, one active; when one leaves, the table shows it.
    driver.get(writable + "/#contenders")
    eventually("both contenders are listed, each active under its name",
               lambda: len(texts("contenders")) == 2 and all(" yes " in t for t in texts("contenders")))
    shot("contenders")
    contenders[1].send_signal(signal.SIGINT)
    eventually("the contender that left is shown as left, the other one stays active",
               lambda: any("pump.B" in t and " left " in t for t in texts("contenders")) and
               any("pump.A" in t and " yes " in t for t in texts("contenders")), seconds=5)
    shot("contenders-changed")

    # Snapshots: make one, see it listed, download the points file.
    driver.get(writable + "/#snapshots")
    driver.find_element(By.ID, "make-name").send_keys("morning")
    driver.find_element(By.ID, "make-go").click()
    eventually("a snapshot made through the page is listed",
               lambda: "morning" in [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#named li")])
    size = driver.execute_async_script(
        "const done = arguments[0];"
        "fetch(document.getElementById('download-points').href).then(r => r.arrayBuffer().then(b => done([r.status, b.byteLength])));")
    check(f"the points snapshot file downloads ({size[1]} bytes)", size[0] == 200 and size[1] > POINTS * 10)
    shot("snapshots")

    # The page's and the server's cost of one update of the data point list.
    driver.get(writable + "/#points")
    wait(lambda: len(texts("points")) > 0)
    driver.execute_script("Object.assign(window.ostrelStats, {updates: 0, pageTotalMs: 0, pageMaxMs: 0,"
                          " valueCosts: [], listCosts: []});")
    for i in range(12):
        ostrel("put", "plant.p000001", f"value={i}")
        time.sleep(0.5)
    stats = driver.execute_script("return window.ostrelStats;")

    def median(values):
        return sorted(values)[len(values) // 2] if values else float("nan")
    if stats["updates"]:
        print(f"points list, {POINTS} points, 50 shown: {stats['updates']} updates; page per update "
              f"{stats['pageTotalMs'] / stats['updates']:.2f} ms mean, {stats['pageMaxMs']:.2f} ms max; server per "
              f"update {median(stats['valueCosts']):.2f} ms median ({len(stats['valueCosts'])} updates), "
              f"{median(stats['listCosts']):.2f} ms when it also listed the names ({len(stats['listCosts'])})")
    check("the list updated while values changed", stats["updates"] >= 5)
    shot("points-list")
except Exception as e:  # noqa: BLE001  (any failure of the run is the test's failure)
    failures.append(repr(e))
    print("FAIL  " + repr(e))
    if driver:
        shot("failure")
finally:
    if driver:
        driver.quit()
    for proc in reversed(processes):
        if proc.poll() is None:
            proc.send_signal(signal.SIGINT)
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
    shutil.rmtree(folder, ignore_errors=True)

print(f"screenshots in {ARTIFACTS}")
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
