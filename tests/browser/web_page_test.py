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
    from selenium.webdriver.common.action_chains import ActionChains
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
    lines += ["box create alarms 7", "port create commands", "create plant.level AnalogPoint value=0.5 unit=m quality=192",
              "create plant.station Station", "create plant.alarm Alarm text=" + "x" * 63]
    started = time.monotonic()
    ostrel("shell", stdin="\n".join(lines) + "\n")
    print(f"made {POINTS} points in {time.monotonic() - started:.1f} s")
    contenders = [start([OSTREL, "contend", name, "--period", "1"], env=env) for name in ("pump.A", "pump.B")]
    writable = web("--allow-writes")
    readonly = web()
    # Values written before any page opens: the page must show them from the server's history.
    before = time.time()
    for level in (0.5, 3.5, 1.25, 2.0):
        ostrel("put", "plant.level", f"value={level}", "quality=192")
        time.sleep(0.7)

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
               lambda: any(t.strip().startswith("unit ") for t in texts("fields")))
    # The write asks first: declined, nothing is written.
    Select(driver.find_element(By.ID, "write-path")).select_by_value("value")
    driver.find_element(By.ID, "write-value").send_keys("99.5")
    driver.find_element(By.ID, "write-go").click()
    WebDriverWait(driver, 5).until(lambda d: d.switch_to.alert)
    check("the write asks before it writes, naming the point",
          "value = 99.5 to plant.p000042" in driver.switch_to.alert.text)
    driver.switch_to.alert.dismiss()
    check("a declined write writes nothing", ostrel("get", "plant.p000042", "--field", "value").strip() == "777.5")
    driver.find_element(By.ID, "write-value").clear()
    driver.find_element(By.ID, "write-value").send_keys("31.25")
    driver.find_element(By.ID, "write-go").click()
    WebDriverWait(driver, 5).until(lambda d: d.switch_to.alert).accept()
    eventually("the page shows the old and the new value",
               lambda: "777.5 → 31.25" in driver.find_element(By.ID, "write-result").text)
    check("the server holds the value written through the page",
          ostrel("get", "plant.p000042", "--field", "value").strip() == "31.25")
    eventually("the fields table shows the new value, with its unit",
               lambda: any(t.strip().startswith("value double 31.25 m3/h") for t in texts("fields")))
    ostrel("put", "plant.p000042", "value=50")
    time.sleep(1.2)
    ostrel("put", "plant.p000042", "value=10")
    eventually("the trend has samples", lambda: driver.execute_script(
        "const t = window.ostrelTrend; return t.times.length > 2 && (t.chart !== null ||"
        " !document.getElementById('plot').hidden);"))
    time.sleep(0.6)
    shot("point")

    # Another point: the write form starts afresh.
    driver.get(writable + "/#point/plant.level")
    eventually("the write form is empty for the next point",
               lambda: driver.find_element(By.ID, "write-value").get_attribute("value") == "" and
               driver.find_element(By.ID, "write-result").text == "")
    charted = driver.execute_script("return typeof uPlot !== 'undefined';")
    print("the trend's chart library is " + ("built in" if charted else "absent: the plain plot is drawn"))

    def trend(script):
        return driver.execute_script("const t = window.ostrelTrend, u = t.chart; " + script)

    # History from before the page opened: the four levels written then are in the trend.
    eventually("the trend shows values written before the page opened, from the server's history",
               lambda: trend("const v = t.values.get('value') || []; return t.times.filter((x, i) =>"
                             f" x < {before * 1000 + 3000} && [0.5, 3.5, 1.25].includes(v[i])).length >= 3;"))
    if charted:
        eventually("the trend draws one series per chosen field", lambda: trend(
            "return u !== null && u.series.length === 3 && u.series[1].label === 'value (m)' &&"
            " u.series[2].label === 'quality';"))
        scales = trend("return [u.scales.value.min, u.scales.value.max, u.scales.quality.min, u.scales.quality.max];")
        check(f"each series has its own scale: level 0.5-3.5 m and quality 192 apart ({scales})",
              scales[0] <= 0.5 and 3.5 <= scales[1] < 10 and scales[2] <= 192 <= scales[3])
        check("each series has its own axis", trend("return u.axes.filter(a => a.show !== false).length") == 3)
        shot("trend")
        driver.find_element(By.CSS_SELECTOR, "#fields input[data-path=quality]").click()
        eventually("unticking a field takes its series out", lambda: trend(
            "return t.chart.series.length === 2 && t.chart.series[1].label === 'value (m)';"))
        driver.find_element(By.CSS_SELECTOR, "#fields input[data-path=quality]").click()
        eventually("ticking it brings it back", lambda: trend("return t.chart.series.length === 3;"))
        # Dragging zooms into a time, updates keep the zoom, a double click shows everything again.
        whole = trend("return [u.scales.x.min, u.scales.x.max];")
        over = driver.find_element(By.CSS_SELECTOR, "#trend .u-over")
        ActionChains(driver).move_to_element_with_offset(over, -150, 0).click_and_hold() \
            .move_by_offset(200, 0).release().perform()
        zoomed = trend("return [u.scales.x.min, u.scales.x.max];")
        check(f"a drag zooms into a part of the time ({whole} to {zoomed})",
              whole[0] < zoomed[0] < zoomed[1] < whole[1] and trend("return t.zoomed;"))
        time.sleep(1.2)  # two updates of the point
        check("the zoom stays while the trend updates",
              trend("return [u.scales.x.min, u.scales.x.max];") == zoomed)
        ActionChains(driver).double_click(over).perform()
        eventually("a double click shows the whole time again", lambda: trend(
            "return !t.zoomed && u.scales.x.max - u.scales.x.min >= " + str(whole[1] - whole[0]) + ";"))
        driver.find_element(By.CSS_SELECTOR, "#trend .u-legend .u-series:nth-child(3) .u-label").click()
        eventually("a series hides by its legend entry, and its axis with it", lambda: trend(
            "return t.hidden.has('quality') && t.chart.series[2].show === false &&"
            " t.chart.axes.filter(a => a.show !== false).length === 2;"))

    # The server sends at most the samples asked for, the highest and the lowest of each run kept.
    decimated = driver.execute_script(
        "return fetch('/api/history?point=plant.level&most=10').then(r => r.json());")
    check(f"a decimated history keeps the peak 3.5 and the low 0.5 in 10 samples ({decimated['values'][0]})",
          decimated["decimated"] and len(decimated["times"]) <= 10 and max(decimated["values"][0]) == 3.5
          and min(decimated["values"][0]) == 0.5 and decimated["times"] == sorted(decimated["times"]))

    # Without the chart library (a build that could not fetch it) the page draws its plain plot.
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setBlockedURLs", {"urls": ["*/vendor/*"]})
    driver.get(writable + "/?plain#point/plant.level")  # another address: the page loads anew
    eventually("without the chart library the plain plot draws the history", lambda: driver.execute_script(
        "const c = document.getElementById('plot'); if (c.hidden || typeof uPlot !== 'undefined') return false;"
        " const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
        " for (let i = 0; i < d.length; i += 4) if (d[i + 3] > 0 && d[i + 2] > 150 && d[i] < 80) return true; return false;"))
    driver.execute_cdp_cmd("Network.setBlockedURLs", {"urls": []})
    driver.execute_cdp_cmd("Network.disable", {})

    # The trend of 20 fields of a station: 20 series in 20 colours.
    driver.get(writable + "/#point/plant.station")
    wait(lambda: len(texts("fields")) > 40)
    # Times include the chart's drawing, which it does once the script's own work is over.
    spent = driver.execute_async_script(
        "const done = arguments[0], t = window.ostrelTrend;"
        " const boxes = [...document.querySelectorAll('#fields input[type=checkbox]')];"
        " t.chosen = new Set(boxes.slice(0, 20).map(b => b.dataset.path)); const s = performance.now();"
        " drawTrend(); setTimeout(() => done(performance.now() - s), 0);")
    if charted:
        series = trend("return u.series.slice(1).map(s => s._stroke || s.stroke);")
        check(f"20 chosen fields draw 20 series in 20 colours ({len(set(map(str, series)))})",
              len(series) == 20 and len(set(map(str, series))) == 20)
    driver.execute_script("Object.assign(window.ostrelStats, {updates: 0, pageTotalMs: 0, pageMaxMs: 0});")
    time.sleep(3)
    st = driver.execute_script("return window.ostrelStats;")
    print(f"trend of 20 series: made in {spent:.1f} ms; applying each update of the point (the chart then redraws: below) "
          f"{st['pageTotalMs'] / max(1, st['updates']):.2f} ms mean, {st['pageMaxMs']:.2f} ms max ({st['updates']} updates)")
    check(f"the trend of 20 series is made within 2 s ({spent:.0f} ms)", spent < 2000)
    # The most the page holds: 10,000 samples of each of the 20 series (the stream stopped first).
    full = driver.execute_async_script(
        "const done = arguments[0];"
        " if (stream) { stream.close(); stream = null; } const t = window.ostrelTrend, n = t.most, end = Date.now();"
        " t.times = Array.from({length: n}, (_, i) => end - (n - i) * 500);"
        " for (const p of t.chosen) t.values.set(p, Array.from({length: n}, (_, i) => Math.sin(i / 300) * 100 + i % 7));"
        " t.chartKey = ''; const s = performance.now(); drawTrend(); setTimeout(() => { const made = performance.now() - s;"
        " const u = performance.now(); drawTrend(); setTimeout(() => done([made, performance.now() - u]), 0); }, 0);")
    print(f"trend of 20 series of 10,000 samples each: made in {full[0]:.1f} ms, an update with its redraw {full[1]:.1f} ms")
    check(f"the trend of 20 series of 10,000 samples is made within 2 s ({full[0]:.0f} ms)", full[0] < 2000)
    shot("trend-20")

    # The list formats values: the digits of the type, units, ISO 8601 times, cuts marked.
    ostrel("put", "plant.p000042", "value=0.30000000000000004")
    driver.get(writable + "/#points")
    driver.find_element(By.ID, "filter").send_keys("plant.")
    eventually("a double shows its digits and its unit (0.3 m3/h, not 0.30000000000000004)",
               lambda: any("plant.p000042" in t and "value=0.3 m3/h" in t for t in texts("points")))
    check("a unit shown beside its value is not repeated",
          not any("plant.p000042" in t and "unit=" in t for t in texts("points")))
    check("a kx_time shows as ISO 8601 text", driver.execute_script(
        "return [timeText(1765000000), timeText(0), fieldValueText({path: 's', type: 'kx_time2', value: 1.5}, {})];")
          == ["2025-12-06T05:46:40Z", "unset", "1970-01-01T00:00:01.500Z"])
    driver.find_element(By.ID, "filter").clear()
    driver.find_element(By.ID, "filter").send_keys("plant.alarm")
    eventually("a cut text ends in …", lambda: any("text=" + "x" * 59 + "…" in t for t in texts("points")))
    driver.find_element(By.ID, "filter").clear()
    driver.find_element(By.ID, "filter").send_keys("plant.station")
    eventually("a point with more fields than the list sends says how many more",
               lambda: any("… 45 more fields" in t for t in texts("points")))
    shot("points-formatted")

    # Sorting by name across every point, and a jump to a page.
    driver.find_element(By.ID, "filter").clear()
    driver.find_element(By.ID, "filter").send_keys("plant.p")
    wait(lambda: len(texts("points")) == min(50, POINTS))
    driver.find_element(By.CSS_SELECTOR, "#points th[data-sort=name]").click()
    eventually("a click on name sorts every point the other way",
               lambda: texts("points")[0].startswith(f"plant.p{POINTS - 1:06d}"))
    driver.find_element(By.CSS_SELECTOR, "#points th[data-sort=name]").click()
    eventually("and back", lambda: texts("points")[0].startswith("plant.p000000"))
    driver.execute_script("const n = document.getElementById('page-number'); n.value = '3';"
                          " n.dispatchEvent(new Event('change'));")
    eventually("a page number jumps to that page",
               lambda: driver.find_element(By.ID, "range").text.startswith("101–150 of")
               and texts("points")[0].startswith("plant.p000100"))

    # Without --allow-writes the page cannot write, and the server refuses a write sent anyway.
    driver.get(readonly + "/#point/plant.p000042")
    eventually("the read-only page shows the point", lambda: len(texts("fields")) > 0)
    check("the read-only page's write button is disabled", not driver.find_element(By.ID, "write-go").is_enabled())
    status = driver.execute_async_script(
        "const done = arguments[0];"
        "fetch('/api/put', {method: 'POST', body: new URLSearchParams({name: 'plant.p000042', path: 'value',"
        " value: '99'})}).then(r => r.json().then(j => done([r.status, j.error])));")
    check(f"a write without --allow-writes is refused 403 ({status})", status[0] == 403 and "--allow-writes" in status[1])
    check("the refused write changed nothing",
          ostrel("get", "plant.p000042", "--field", "value").strip() == "0.30000000000000004")
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
    opened = time.monotonic()
    driver.get(writable + "/#points")
    wait(lambda: len(texts("points")) > 0, 30)
    print(f"the list's first page of {POINTS} points showed {time.monotonic() - opened:.2f} s after the page was asked for")
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
    kept = driver.execute_script("return fetch('/api/info').then(r => r.json());")["history"]
    print(f"history: {kept['points']} points kept in {kept['bytes'] / 1048576:.1f} of {kept['budget'] / 1048576:.0f} MiB, "
          f"{kept['capacity']} samples each; the last pass cost {kept['pass_ms']:.2f} ms")
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
