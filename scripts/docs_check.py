"""Opens every page of the built documentation site in a headless Chromium and checks what a
reader would see: each page renders its content, logs no console error and loads every resource
and image, and the site search finds `uuid7`.

    python scripts/docs_check.py [SITE_DIR]       (default: site)

The site is served over HTTP on 127.0.0.1, as the search runs in a web worker that a file://
page may not start. Chromium is Debian's (`apt-get install chromium`), driven through its DevTools
protocol with websocket-client; CHROMIUM=/path/to/chromium picks another binary.
"""
from __future__ import annotations

import functools
import http.server
import itertools
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import websocket

PAGE_TIMEOUT = 30.0
SEARCH_TERM = "uuid7"


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):
        pass


def serve(site: Path) -> tuple[http.server.ThreadingHTTPServer, str]:
    handler = functools.partial(Quiet, directory=str(site))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"


def start_chromium(profile: Path) -> tuple[subprocess.Popen, str]:
    """Starts Chromium with an empty page; returns the process and the page's DevTools socket URL."""
    binary = os.environ.get("CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
    if not binary:
        sys.exit("docs_check: no chromium on PATH (apt-get install chromium)")
    process = subprocess.Popen(
        [
            binary,
            "--headless=new",
            "--no-sandbox",  # as root, Chromium refuses to start with its sandbox
            "--disable-gpu",
            "--no-first-run",
            "--disable-extensions",
            "--remote-debugging-port=0",
            f"--user-data-dir={profile}",
            "about:blank",
        ],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    # Chromium writes the port it chose, and the browser's socket path, into the profile.
    port_file = profile / "DevToolsActivePort"
    deadline = time.monotonic() + 30
    while not port_file.exists() or len(port_file.read_text().split()) < 2:
        if process.poll() is not None or time.monotonic() > deadline:
            process.kill()
            sys.exit("docs_check: chromium did not open its DevTools port")
        time.sleep(0.1)
    port = port_file.read_text().split()[0]
    from urllib.request import urlopen

    for _ in range(100):
        targets = json.load(urlopen(f"http://127.0.0.1:{port}/json/list"))
        pages = [t for t in targets if t.get("type") == "page"]
        if pages:
            return process, pages[0]["webSocketDebuggerUrl"]
        time.sleep(0.1)
    process.kill()
    sys.exit("docs_check: chromium opened no page")


class Page:
    """One browser tab, spoken to over its DevTools socket."""

    def __init__(self, url: str):
        self.socket = websocket.create_connection(url, timeout=PAGE_TIMEOUT, suppress_origin=True)
        self.ids = itertools.count(1)
        self.events: list[dict] = []
        for domain in ("Page", "Runtime", "Log"):
            self.call(f"{domain}.enable")

    def call(self, method: str, **params):
        message_id = next(self.ids)
        self.socket.send(json.dumps({"id": message_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == message_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, event: str, timeout: float = PAGE_TIMEOUT) -> None:
        deadline = time.monotonic() + timeout
        while not any(e.get("method") == event for e in self.events):
            if time.monotonic() > deadline:
                raise TimeoutError(f"no {event} within {timeout} s")
            self.socket.settimeout(max(0.1, deadline - time.monotonic()))
            self.events.append(json.loads(self.socket.recv()))

    def evaluate(self, expression: str):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression[:60]}…: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def open(self, url: str) -> None:
        self.events.clear()
        self.call("Page.navigate", url=url)
        self.wait_for("Page.loadEventFired")

    def errors(self) -> list[str]:
        """The console errors, uncaught exceptions and failed loads since the page was opened."""
        found = []
        for event in self.events:
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
                texts = [str(arg.get("value", arg.get("description", ""))) for arg in params.get("args", [])]
                found.append("console: " + " ".join(texts))
            elif method == "Runtime.exceptionThrown":
                details = params.get("exceptionDetails", {})
                found.append("exception: " + details.get("exception", {}).get("description", details.get("text", "")))
            elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
                entry = params["entry"]
                found.append(f"{entry.get('source')}: {entry.get('text')} {entry.get('url', '')}".strip())
        return found


# What a rendered page shows: a title, an article with text, and only images that loaded.
RENDERED = """(() => {
  const article = document.querySelector("article");
  const broken = [...document.images].filter(i => !i.complete || i.naturalWidth === 0).map(i => i.src);
  return {title: document.title, text: article ? article.innerText.trim().length : 0, broken};
})()"""

# Types the term into the search box, then waits for the results the search worker lists.
SEARCH = """new Promise((resolve) => {
  const input = document.querySelector("input.md-search__input");
  if (!input) { resolve({error: "no search box"}); return; }
  const started = Date.now();
  const poll = () => {
    input.value = %s;
    input.dispatchEvent(new Event("focus"));
    input.dispatchEvent(new Event("input", {bubbles: true}));
    input.dispatchEvent(new KeyboardEvent("keyup", {bubbles: true}));
    const items = [...document.querySelectorAll(".md-search-result__item")];
    if (items.length) { resolve({count: items.length, text: items.map(i => i.innerText).join("\\n")}); return; }
    if (Date.now() - started > 20000) {
      resolve({error: "no results", meta: (document.querySelector(".md-search-result__meta") || {}).innerText});
      return;
    }
    setTimeout(poll, 250);
  };
  poll();
})""" % json.dumps(SEARCH_TERM)


def main() -> int:
    site = Path(sys.argv[1] if len(sys.argv) > 1 else "site").resolve()
    pages = sorted(
        p.relative_to(site).as_posix()
        for p in site.rglob("index.html")
        if not p.relative_to(site).as_posix().startswith(("assets/", "search/"))
    )
    if not pages:
        sys.exit(f"docs_check: no pages in {site} (run scripts/docs.sh first)")
    server, base = serve(site)
    failures: list[str] = []
    with tempfile.TemporaryDirectory(prefix="vantor-chromium-") as profile:
        process, socket_url = start_chromium(Path(profile))
        try:
            page = Page(socket_url)
            for path in pages:
                url = base + path.removesuffix("index.html")
                try:
                    page.open(url)
                    shown = page.evaluate(RENDERED)
                except (RuntimeError, TimeoutError, websocket.WebSocketException) as error:
                    failures.append(f"{path}: {error}")
                    continue
                problems = page.errors()
                if not shown["title"] or shown["text"] < 40:
                    problems.append(f"nothing rendered (title {shown['title']!r}, {shown['text']} characters)")
                problems += [f"image not loaded: {src}" for src in shown["broken"]]
                failures += [f"{path}: {problem}" for problem in problems]
            page.open(base)
            found = page.evaluate(SEARCH)
            if "error" in found:
                failures.append(f"search for {SEARCH_TERM!r}: {found}")
            elif SEARCH_TERM not in found["text"]:
                failures.append(f"search for {SEARCH_TERM!r}: results do not name it")
            failures += [f"search: {problem}" for problem in page.errors()]
        finally:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            server.shutdown()
    for failure in failures:
        print(failure, file=sys.stderr)
    if failures:
        print(f"docs_check: {len(failures)} problems in {len(pages)} pages", file=sys.stderr)
        return 1
    print(f"docs_check: {len(pages)} pages render with no console error; the search finds {SEARCH_TERM!r} "
          f"({found['count']} results)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
