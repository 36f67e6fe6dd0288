"""A real browser on the test's desktop: Debian's Chromium, headless, started as these tests
run as root (no sandbox, no GPU), with a new empty profile and nothing that reaches beyond
loopback (no background networking, component updates, sync or QUIC), and the permission
prompt for cameras and microphones answered yes. It loads a page from a server the test runs
on 127.0.0.1, which serves tests/integration/browser/ and takes what the page posts."""

import http.server
import json
import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "browser")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-quic", "--use-fake-ui-for-media-stream",
         "--autoplay-policy=no-user-gesture-required"]


class PageServer:
    """Serves the pages on 127.0.0.1; what a page POSTs to /NAME arrives as (NAME, JSON)."""

    def __init__(self):
        self.posts = queue.Queue()
        posts = self.posts

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=PAGES, **kwargs)

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                posts.put((self.path.lstrip("/"), json.loads(body)))
                self.send_response(204)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, page):
        return f"http://127.0.0.1:{self.server.server_address[1]}/{page}"

    def next_post(self, name, timeout):
        """The JSON the page posts to /`name` next; fails after `timeout` seconds."""
        try:
            got, body = self.posts.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f"the page posted nothing to /{name} in {timeout} s")
        if got != name:
            raise AssertionError(f"the page posted to /{got}, not /{name}: {body}")
        return body

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class Chromium:
    def __init__(self, session, url, features=()):
        if shutil.which("chromium") is None:
            raise AssertionError("needs Debian's chromium: run scripts/install-deps.sh")
        self.profile = tempfile.mkdtemp(prefix="korvex-chromium-")
        self.log = open(os.path.join(self.profile, "chromium.log"), "w+b")
        flags = FLAGS + [f"--user-data-dir={os.path.join(self.profile, 'profile')}"]
        if features:
            flags.append("--enable-features=" + ",".join(features))
        self.proc = subprocess.Popen(["chromium"] + flags + [url], env=session.client_env,
                                     stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                                     start_new_session=True)

    def output(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def stop(self):
        """Ends the browser and every process it started."""
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)
