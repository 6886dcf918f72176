#!/usr/bin/env python3
"""The site view's browser steps: headless Chromium through chromedriver,
against a site the calling test has started. Each step waits for what the
page shows (WebDriverWait on its content), never for a fixed time. Exits
non-zero at the first step that fails, with a screenshot and the browser's
console log beside the others."""
import argparse
import json
import os
import shlex
import subprocess
import sys
import traceback

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import WebDriverWait

WAIT = 90  # seconds: far more than a step needs, for a loaded machine

# What the browser answers for an element or script of a document that a
# reload has just replaced: the step looks again at the next poll.
GONE = ("does not belong to the document", "Execution context was destroyed",
        "Cannot find context with specified id")


class PageWait(WebDriverWait):
    """A wait that reads an element of a document being replaced as "not yet"."""

    def until(self, method, message=""):
        def tolerant(d):
            try:
                return method(d)
            except WebDriverException as e:
                if any(g in str(e) for g in GONE):
                    return False
                raise
        return super().until(tolerant, message)


def options(home):
    o = webdriver.ChromeOptions()
    o.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
              "--window-size=1400,1800", "--user-data-dir=" + os.path.join(home, "profile"),
              "--no-first-run", "--disable-extensions", "--disable-background-networking"):
        o.add_argument(a)
    o.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return o


class SitePage:
    """The page object of the site view."""

    def __init__(self, driver, url):
        self.d = driver
        self.url = url
        self.wait = PageWait(driver, WAIT, poll_frequency=0.2,
                                  ignored_exceptions=[StaleElementReferenceException])

    def open(self):
        self.d.get(self.url)
        self.wait.until(EC.element_to_be_clickable((By.ID, "login-button")))

    def login(self, user, password):
        self.d.find_element(By.ID, "username").clear()
        self.d.find_element(By.ID, "username").send_keys(user)
        self.d.find_element(By.ID, "password").clear()
        self.d.find_element(By.ID, "password").send_keys(password)
        self.d.find_element(By.ID, "login-button").click()

    def logout(self):
        """Logs out and waits for the login form of the reloaded page."""
        self.d.execute_script("window.beforeLogout = true")
        self.click("#logout")
        self.wait.until(lambda d: d.execute_script(
            "return window.beforeLogout === undefined && document.readyState === 'complete'"))
        self.wait.until(EC.element_to_be_clickable((By.ID, "login-button")))

    def login_error(self):
        self.wait.until(lambda d: d.find_element(By.ID, "login-error").text != "")
        return self.d.find_element(By.ID, "login-error").text

    def wait_site(self):
        self.wait.until(EC.visibility_of_element_located((By.ID, "site-view")))
        self.wait.until(lambda d: d.execute_script("return window.siteview.polls") > 0)

    def row_text(self, ap, cls):
        # The table is drawn anew at every poll: a cell read while that
        # happens is read again at the next try.
        try:
            rows = self.d.find_elements(By.CSS_SELECTOR, f'#ap-table tbody tr[data-id="{ap}"] td.{cls}')
            return rows[0].text if rows else ""
        except StaleElementReferenceException:
            return ""

    def wait_row(self, ap, cls, pred, what):
        try:
            self.wait.until(lambda d: pred(self.row_text(ap, cls)))
        except TimeoutException:
            raise AssertionError(f"{ap}: {what}; the page shows {cls} {self.row_text(ap, cls)!r}")

    def click(self, css):
        """Clicks the element, found again if the page drew it anew meanwhile."""
        def once(d):
            d.find_element(By.CSS_SELECTOR, css).click()
            return True
        self.wait.until(once)

    def approve_buttons(self):
        return [b for b in self.d.find_elements(By.CSS_SELECTOR, "#ap-table button.approve") if b.is_displayed()]

    def call_as(self, user, password, obj, method, args):
        """A call from the page's origin, as the browser makes it, with a
        session of its own; the answer as JSON."""
        return self.d.execute_async_script(
            """const [user, password, o, m, a, done] = arguments;
               const rpc = (sid, obj, fn, args) => fetch('/ubus', {method: 'POST', body: JSON.stringify(
                     {jsonrpc: '2.0', id: 99, method: 'call', params: [sid, obj, fn, args]})}).then(r => r.json());
               rpc('00000000000000000000000000000000', 'session', 'login', {username: user, password})
                 .then(l => rpc(l.result[1].ubus_rpc_session, o, m, a)).then(done);""",
            user, password, obj, method, args)


def ubus_call(args, obj, method, msg, socket=None):
    r = subprocess.run(shlex.split(args.ubus) + ["-s", socket or args.socket, "call", obj, method, json.dumps(msg)],
                       check=True, capture_output=True, text=True)
    return json.loads(r.stdout) if r.stdout.strip() else {}


def command_rows(d):
    """The RRM picture's command list: [time, AP, radio, channel, power] per row."""
    # Read in one script: the list is drawn again at every poll, so elements
    # found one by one may be gone before their text is read.
    return d.execute_script(
        "return [...document.querySelectorAll('#rrm-commands tbody tr')]"
        ".map(tr => [...tr.querySelectorAll('td')].map(td => td.textContent.trim()));")


def step(name):
    print(f"step: {name}", flush=True)


def run(args, d, page):
    out = args.out
    page.open()

    step("a wrong password is refused")
    page.login("admin", "not-the-password")
    err = page.login_error()
    assert "Wrong user or password" in err, err
    assert not d.find_element(By.ID, "site-view").is_displayed()

    step("the read-only role sees the site but cannot approve")
    page.login("viewer", args.viewer_password)
    page.wait_site()
    page.wait_row(args.pending, "state", lambda t: t.startswith("pending"), "not pending")
    assert page.approve_buttons() == [], "a read-only session is offered approval"
    assert "read-only" in d.find_element(By.ID, "whoami").text
    answer = page.call_as("viewer", args.viewer_password, "fleet", "approve", {"id": args.pending})
    assert answer.get("error", {}).get("code") == -32002, answer
    page.logout()

    step("the admin logs in and sees four adopted APs on channel 6")
    page.login("admin", args.admin_password)
    page.wait_site()
    for ap in args.adopted.split(","):
        page.wait_row(ap, "state", lambda t: t == "adopted", "not adopted")
        page.wait_row(ap, "radios", lambda t: t.startswith("0: 6/"), "not on channel 6")
    page.wait.until(lambda d: d.find_element(By.ID, "count-adopted").text == "4")
    page.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#rrm-graph g.node")) == 4)
    d.save_screenshot(os.path.join(out, "site.png"))

    step("the table filters and sorts")
    d.find_element(By.ID, "filter").send_keys(args.pending)
    page.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#ap-table tbody tr")) == 1)
    d.find_element(By.ID, "filter").clear()
    d.execute_script("document.querySelector('#filter').dispatchEvent(new Event('input'))")
    page.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#ap-table tbody tr")) == 5)
    page.click('th[data-sort="id"]')
    first = d.execute_script("return document.querySelector('#ap-table tbody tr').dataset.id")
    assert first == max(args.adopted.split(",") + [args.pending]), first

    step("the admin approves the pending fifth AP after confirming, and it is adopted")
    assert len(page.approve_buttons()) == 1
    page.click(f'#ap-table tbody tr[data-id="{args.pending}"] button.approve')
    page.wait.until(EC.visibility_of_element_located((By.ID, "confirm")))
    assert args.pending in d.find_element(By.ID, "confirm-text").text
    d.find_element(By.ID, "confirm-yes").click()
    page.wait.until(lambda d: "approve " + args.pending in d.find_element(By.ID, "action-result").text)
    page.wait_row(args.pending, "state", lambda t: t == "adopted", "not adopted after approval")
    page.wait.until(lambda d: d.find_element(By.ID, "count-adopted").text == "5")

    step("an RRM step moves a channel, and the page shows it")
    ubus_call(args, "rrm_ctrl.site1.0", "config", {"channel_timer": 1})
    aps = args.adopted.split(",")
    try:
        page.wait.until(lambda d: any(not page.row_text(ap, "radios").startswith("0: 6/") for ap in aps))
    except TimeoutException:
        raise AssertionError("no channel change shown: " + ", ".join(page.row_text(ap, "radios") for ap in aps))
    page.wait.until(lambda d: "channel 6 →" in d.find_element(By.ID, "rrm-changes").text)
    ubus_call(args, "rrm_ctrl.site1.0", "config", {"channel_timer": 3600})

    step("the RRM picture lists the channel command that step sent")
    try:
        page.wait.until(lambda d: any(r[1] in aps and r[2] == "0" and r[3] in ("1", "11") for r in command_rows(d)))
    except TimeoutException:
        raise AssertionError("no channel command listed: %s %s" % (
            command_rows(d), d.find_element(By.ID, "rrm-commands-note").text))
    # The picture is drawn again at every poll: an element found just before
    # a redraw is gone by the time it is photographed, so find it again.
    page.wait.until(lambda d: d.find_element(By.ID, "rrm").screenshot(os.path.join(out, "rrm.png")))

    step("an AP's detail shows its radios, history and last log lines")
    # aps[0]'s mast reads its log service's stream (a reader of it) and
    # streams every entry to the controller.
    page.wait.until(lambda d: ubus_call(args, "log", "readers", {}, args.ap_socket).get("readers", 0) >= 1)
    line = "siteview: log line of the detail"
    ubus_call(args, "log", "add", {"msg": line, "priority": 6}, args.ap_socket)
    page.click(f'#ap-table tbody tr[data-id="{aps[0]}"] td.id')
    page.wait.until(lambda d: d.find_element(By.ID, "detail-id").text == aps[0])
    page.wait.until(lambda d: "approval" in d.find_element(By.ID, "detail-history").get_attribute("textContent"))
    try:
        page.wait.until(lambda d: line in d.find_element(By.ID, "detail-log").get_attribute("textContent"))
    except TimeoutException:
        raise AssertionError("log line not shown: " + d.find_element(By.ID, "detail-log").get_attribute("textContent")
                             + d.find_element(By.ID, "detail-log-note").text)
    assert "info " + line in d.find_element(By.ID, "detail-log").get_attribute("textContent")

    timings = d.execute_script("return window.siteview")
    print("render: first %.1f ms after login, last render %.1f ms" % (timings["firstRenderMs"], timings["lastRenderMs"]))


def measure_render(args, d, page):
    """The page with every AP of a large site: how long it takes to show
    them after the login, and to draw them."""
    page.open()
    page.login("admin", args.admin_password)
    page.wait_site()
    page.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#ap-table tbody tr")) == args.render_rows)
    timings = d.execute_script("return window.siteview")
    redraw = d.execute_script("""const t = performance.now();
        document.querySelector('th[data-sort="hostname"]').click();
        return performance.now() - t;""")
    nav = d.execute_script("const n = performance.getEntriesByType('navigation')[0]; return n.domContentLoadedEventEnd;")
    print(json.dumps({"rows": args.render_rows, "login_to_drawn_ms": round(timings["firstRenderMs"], 1),
                      "draw_ms": round(timings["lastRenderMs"], 1), "sort_redraw_ms": round(redraw, 1),
                      "page_loaded_ms": round(nav, 1)}))


def console_errors(d):
    return [e for e in d.get_log("browser") if e.get("level") == "SEVERE"]


def main():
    p = argparse.ArgumentParser()
    for a in ("--url", "--out", "--home", "--admin-password"):
        p.add_argument(a, required=True)
    for a in ("--ubus", "--socket", "--ap-socket", "--adopted", "--pending", "--viewer-password"):
        p.add_argument(a)
    p.add_argument("--render-rows", type=int, help="only measure the page's render time with this many APs")
    args = p.parse_args()
    os.makedirs(args.home, exist_ok=True)
    for old in ("failure.png", "console.log"):
        if os.path.exists(os.path.join(args.out, old)):
            os.remove(os.path.join(args.out, old))
    os.environ["HOME"] = args.home
    service = Service("/usr/bin/chromedriver", log_output=os.path.join(args.out, "chromedriver.log")) \
        if "log_output" in Service.__init__.__code__.co_varnames \
        else Service("/usr/bin/chromedriver", log_path=os.path.join(args.out, "chromedriver.log"))
    d = webdriver.Chrome(service=service, options=options(args.home))
    failed = None
    try:
        page = SitePage(d, args.url)
        if args.render_rows:
            measure_render(args, d, page)
            return 0
        run(args, d, page)
        errors = console_errors(d)
        assert not errors, "console errors: " + json.dumps(errors)
    except Exception as e:  # every failure is reported with the page as it was
        failed = e
        d.save_screenshot(os.path.join(args.out, "failure.png"))
        with open(os.path.join(args.out, "console.log"), "w") as f:
            json.dump(d.get_log("browser"), f, indent=1)
    finally:
        d.quit()
    if failed:
        print(f"FAILED: {type(failed).__name__}: {failed}", file=sys.stderr)
        print("".join(traceback.format_tb(failed.__traceback__)), file=sys.stderr)
        return 1
    print("all steps passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
