#!/usr/bin/env python3
"""Quenloft as people meet it: headless Chromium (driven over the DevTools protocol on a
pipe) and wget against the headless server on 127.0.0.1, on real files with real names.

    browser_test.py --serve PATH/quenloft-serve [--screens FOLDER] [unittest options]

Python's standard library only. Every wait has a watchdog; nothing here measures time.
"""
import argparse
import base64
import fcntl
import hashlib
import json
import os
import re
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

SERVE = None    # the headless server, from the command line
SCREENS = None  # where screenshots go, from the command line

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-default-apps", "--disable-extensions", "--mute-audio",
    "--window-size=1100,900", "--remote-debugging-pipe",
]

# File names as people have them: accents, a Japanese name of 16 characters and one too
# long for the column, and the characters that URLs give meaning to.
JAPANESE = "夏休みの写真と旅行の思い出集です"
LONG_JAPANESE = "東京" * 20  # 40 characters: cut to 34 and "..."
NAMES = [
    "Résumé.txt", "naïve café.html", JAPANESE + ".txt",
    LONG_JAPANESE + ".txt", "50% off.txt", "c++.txt", "a&b.txt", "#1 hit.txt",
    "Holiday Photos.txt", "a b.txt", "a+b.txt", "tab;semi=colon.txt", "quote's.txt",
]
SUBFOLDER = "sub földer"
# A folder for wget to mirror: a space and a plus side by side, and a stray byte.
MIRRORED = ["a b.txt", "a+b.txt", "c++.txt", "50% off.txt", "Résumé.txt", "#1.txt",
            "a&b.txt", JAPANESE + ".txt", "bad\udce9.txt", "sub dir/x y.txt", "sub dir/x+y.txt"]
# Links on a page of the user's own, and the file each must fetch: a "+" is a plus, and a
# link written by an earlier listing ("+" for a space) still finds its file.
PAGE_LINKS = {"c++.txt": "c++.txt", "a+b.txt": "a+b.txt", "a%20b.txt": "a b.txt",
              "Holiday+Photos.txt": "Holiday Photos.txt"}


def shown(name):
    """The listing's text for a name: at most 37 characters, else 34 and "..."."""
    return name if len(name) <= 37 else name[:34] + "..."


def png(red, green, blue):
    """A valid 8x8 PNG of one colour."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + bytes([red, green, blue]) * 8 for _ in range(8))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def write_settings(path, root):
    """The server's settings store: served folder, listing on with date and size."""
    def record(name, tag, value):
        n = name.encode()
        return struct.pack("<H", len(n)) + n + struct.pack("<H", tag) + value
    def text(name, value):
        v = value.encode()
        return record(name, 8, struct.pack("<H", len(v)) + v)
    def integer(name, value):
        return record(name, 2, struct.pack("<h", value))
    records = [text("IndexPath", root), integer("DLEnabled", 1), integer("DLShowDate", 1),
               integer("DLShowSize", 1), integer("DLShowHiddenFiles", 0)]
    with open(path, "wb") as f:
        f.write(struct.pack("<i", len(records)) + b"".join(records))


class Server:
    """quenloft-serve on a free port of 127.0.0.1, serving `root`."""

    def __init__(self, work, root):
        self.data = os.path.join(work, "program")
        os.makedirs(self.data)
        write_settings(os.path.join(self.data, "HTTP-Settings.dat"), root)
        self.process = subprocess.Popen([SERVE, self.data, "0"], stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        ready, _, _ = select.select([self.process.stdout], [], [], 30)
        line = self.process.stdout.readline().decode() if ready else ""
        found = re.search(r"on port (\d+)", line)
        if not found:
            self.stop()
            raise RuntimeError("the server did not start: " + line)
        self.url = "http://127.0.0.1:%s" % found.group(1)

    def log(self):
        """The request part of every log line, with the client's port."""
        try:
            with open(os.path.join(self.data, "Log.dat"), "rb") as f:
                text = f.read().decode("latin-1")
        except FileNotFoundError:
            return []
        return [(int(m.group(1)), m.group(2))
                for m in re.finditer(r"127\.0\.0\.1@:(\d+)  (.*)\r\n", text)]

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class Chromium:
    """Headless Chromium with one page, driven over the DevTools protocol: JSON messages
    ended by a NUL byte on a pipe pair that the browser finds as descriptors 3 and 4."""

    def __init__(self, work):
        commands_read, self._commands = os.pipe()
        self._replies, replies_write = os.pipe()

        def give_pipes():  # in the child: its descriptors 3 (commands) and 4 (replies)
            high_in = fcntl.fcntl(commands_read, fcntl.F_DUPFD, 10)
            high_out = fcntl.fcntl(replies_write, fcntl.F_DUPFD, 10)
            os.dup2(high_in, 3)
            os.dup2(high_out, 4)

        profile = os.path.join(work, "profile")
        self.process = subprocess.Popen(
            ["chromium"] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, "about:blank"],
            preexec_fn=give_pipes, pass_fds=(3, 4), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(commands_read)
        os.close(replies_write)
        self._next_id = 0
        self._pending = b""
        self._events = []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target,
                                 flatten=True)["sessionId"]
        for domain in ("Page", "Network", "Runtime"):
            self.page(domain + ".enable")

    def close(self):
        try:
            self.call("Browser.close", watchdog=10)
        except Exception:
            pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._commands)
        os.close(self._replies)

    def call(self, method, session=None, watchdog=30, **params):
        """Sends one command and returns its result; events meanwhile are kept."""
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        while data:
            data = data[os.write(self._commands, data):]
        reply = self._receive(lambda m: m.get("id") == self._next_id, watchdog)
        if "error" in reply:
            raise RuntimeError("%s: %s" % (method, reply["error"]))
        return reply.get("result", {})

    def page(self, method, watchdog=30, **params):
        return self.call(method, session=self.session, watchdog=watchdog, **params)

    def wait_event(self, method, watchdog=30, where=lambda params: True):
        """The first event of that name (kept or still to come) whose parameters fit."""
        for i, event in enumerate(self._events):
            if event["method"] == method and where(event["params"]):
                return self._events.pop(i)["params"]
        return self._receive(lambda m: m.get("method") == method and where(m["params"]),
                             watchdog, keep=False)["params"]

    def forget_events(self):
        self._events.clear()

    def _receive(self, wanted, watchdog, keep=True):
        deadline = time.monotonic() + watchdog
        while True:
            while b"\0" in self._pending:
                raw, self._pending = self._pending.split(b"\0", 1)
                message = json.loads(raw)
                if wanted(message):
                    return message
                if "method" in message:
                    self._events.append(message)
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer from the browser within %s s" % watchdog)
            ready, _, _ = select.select([self._replies], [], [], left)
            if ready:
                chunk = os.read(self._replies, 1 << 20)
                if not chunk:
                    raise RuntimeError("the browser ended")
                self._pending += chunk

    # --- what a user does ------------------------------------------------------------

    def open(self, url, watchdog=20):
        """Opens a page and waits until it has loaded completely."""
        self.forget_events()
        self.page("Page.navigate", url=url)
        self.wait_event("Page.loadEventFired", watchdog)

    def evaluate(self, expression):
        result = self.page("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(result["exceptionDetails"])
        return result["result"].get("value")

    def click_and_read(self, index, watchdog=20):
        """Clicks link number `index` of the page and returns the address and the bytes of
        the document it leads to. A text document comes back decoded in the character set
        the browser guessed, so the files read this way hold ASCII, which every set keeps."""
        self.forget_events()
        self.evaluate("document.links[%d].click()" % index)
        response = self.wait_event("Network.responseReceived", watchdog,
                                   lambda p: p.get("type") == "Document")
        self.wait_event("Page.loadEventFired", watchdog)
        body = self.page("Network.getResponseBody", requestId=response["requestId"])
        data = (base64.b64decode(body["body"]) if body["base64Encoded"]
                else body["body"].encode("latin-1"))
        return response["response"]["url"], data


class RealClients(unittest.TestCase):
    """One server and one browser for all tests: starting Chromium takes seconds."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quenloft-browser-")
        cls.root = os.path.join(cls.work, "www")
        cls.files = {}  # the path below the root -> its bytes
        for i, name in enumerate(NAMES):
            cls.put("names/" + name, ("file %d of the listing\n" % i).encode())
        cls.put("names/%s/inner.txt" % SUBFOLDER, b"inside the subfolder\n")
        cls.put("names/.hidden.txt", b"never served\n")
        images = "".join('<img src="img/%02d.png" width="32" height="32">' % i
                         for i in range(40))
        cls.put("gallery/index.html", ("<html><body>%s</body></html>" % images).encode())
        for i in range(40):
            cls.put("gallery/img/%02d.png" % i, png(i * 6, 255 - i * 6, 128))
        # A page of the user's own, linking as people write links.
        for name in ("c++.txt", "Holiday Photos.txt", "a b.txt", "a+b.txt"):
            cls.put("page/" + name, ("page's %s\n" % name).encode())
        links = "".join('<p><a href="%s">%s</a>' % (link, link) for link in PAGE_LINKS)
        cls.put("page/links.html", links.encode())
        for name in MIRRORED:
            cls.put("mirror/" + name, ("mirrored %s\n" % name).encode("utf-8", "surrogateescape"))
        cls.big = os.urandom(100 * 1024 * 1024)
        cls.put("download/big file.bin", cls.big)
        cls.server = Server(cls.work, cls.root)
        cls.browser = Chromium(cls.work)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.server.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def put(cls, path, data):
        full = os.path.join(cls.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        cls.files[path] = data

    def test_listing_shows_the_exact_names(self):
        self.browser.open(self.server.url + "/names/")
        links = self.browser.evaluate("Array.from(document.links).map(a => a.textContent)")
        expected = [shown(n) for n in NAMES + [SUBFOLDER]]
        self.assertEqual(sorted(links[1:]), sorted(expected))
        self.assertEqual(links[0], "Parent Directory")
        # The date column starts at the same character on every row.
        rows = self.browser.evaluate("document.querySelector('pre').innerText").split("\n")
        parent = next(i for i, r in enumerate(rows) if r.startswith("[DIR] Parent Directory"))
        entry_rows = [r for r in rows[parent + 1:] if r.startswith("      ")]
        self.assertEqual(len(entry_rows), len(expected))
        for row in entry_rows:
            self.assertEqual(row[44], " ", row)
            self.assertNotEqual(row[45], " ", row)
        self.assertEqual(self.browser.evaluate("document.title"), "Index of /names/")
        if SCREENS:
            shot = self.browser.page("Page.captureScreenshot", format="png")["data"]
            os.makedirs(SCREENS, exist_ok=True)
            with open(os.path.join(SCREENS, "listing.png"), "wb") as f:
                f.write(base64.b64decode(shot))

    def test_every_link_of_a_listing_fetches_its_file(self):
        listing = self.server.url + "/names/"
        self.browser.open(listing)
        texts = self.browser.evaluate("Array.from(document.links).map(a => a.textContent)")
        hrefs = self.browser.evaluate(
            "Array.from(document.links).map(a => a.getAttribute('href'))")
        self.assertIn("a%20b.txt", hrefs)  # a space is %20 in a path, "+" would be a plus
        self.assertIn("a%2Bb.txt", hrefs)
        by_text = {shown(n): n for n in NAMES}
        for index, text in enumerate(texts):
            self.browser.open(listing)
            url, data = self.browser.click_and_read(index)
            if text == "Parent Directory":
                self.assertIn(b"<title>Index of /</title>", data)
            elif text == SUBFOLDER:
                self.assertIn(b"inner.txt", data, url)
            else:
                self.assertEqual(data, self.files["names/" + by_text[text]], url)

    def test_links_on_a_page_of_ones_own(self):
        page = self.server.url + "/page/links.html"
        self.browser.open(page)
        hrefs = self.browser.evaluate(
            "Array.from(document.links).map(a => a.getAttribute('href'))")
        self.assertEqual(sorted(hrefs), sorted(PAGE_LINKS))
        for index, href in enumerate(hrefs):
            self.browser.open(page)
            url, data = self.browser.click_and_read(index)
            self.assertEqual(data, self.files["page/" + PAGE_LINKS[href]], url)

    def test_the_404_page_finishes_loading(self):
        self.browser.open(self.server.url + "/names/.hidden.txt", watchdog=10)
        self.assertEqual(self.browser.evaluate("document.body.innerText"),
                         "404 - File not found")
        self.browser.open(self.server.url + "/no/such/file.txt", watchdog=10)

    def test_forty_images_load_over_parallel_connections(self):
        before = len(self.server.log())
        self.browser.open(self.server.url + "/gallery/index.html")
        loaded = self.browser.evaluate(
            "Array.from(document.images).filter(i => i.complete && i.naturalWidth == 8).length")
        self.assertEqual(loaded, 40)
        lines = self.server.log()[before:]
        requests = sorted(line for _, line in lines if "favicon" not in line)
        self.assertEqual(requests, sorted(["GET /gallery/index.html HTTP/1.1"] +
                                          ["GET /gallery/img/%02d.png HTTP/1.1" % i
                                           for i in range(40)]))
        self.assertGreater(len({port for port, _ in lines}), 1, "one connection only")

    def test_a_100_mib_download_arrives_whole(self):
        folder = os.path.join(self.work, "downloads")
        os.makedirs(folder)
        self.browser.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=folder,
                          eventsEnabled=True)
        self.browser.open(self.server.url + "/download/")
        self.browser.forget_events()
        self.browser.evaluate("document.links[1].click()")
        begun = self.browser.wait_event("Browser.downloadWillBegin")
        self.assertEqual(begun["suggestedFilename"], "big file.bin")
        done = self.browser.wait_event(
            "Browser.downloadProgress", 120,
            lambda p: p["guid"] == begun["guid"] and p["state"] != "inProgress")
        self.assertEqual(done["state"], "completed")
        with open(os.path.join(folder, begun["suggestedFilename"]), "rb") as f:
            got = f.read()
        self.assertEqual(len(got), len(self.big))
        self.assertEqual(hashlib.sha256(got).digest(), hashlib.sha256(self.big).digest())


    def test_wget_mirrors_a_folder_exactly(self):
        into = os.path.join(self.work, "wget")
        wget = subprocess.run(
            ["wget", "-r", "-np", "-nH", "-q", "-e", "robots=off", "-T", "20", "-t", "1",
             "--restrict-file-names=nocontrol", "-P", into, self.server.url + "/mirror/"],
            timeout=120)
        self.assertEqual(wget.returncode, 0)
        got = {}
        for folder, _, names in os.walk(into):
            for name in names:
                with open(os.path.join(folder, name), "rb") as f:
                    got[os.path.relpath(os.path.join(folder, name), into)] = f.read()
        pages = [path for path in got if os.path.basename(path) == "index.html"]
        self.assertEqual(sorted(pages), ["mirror/index.html", "mirror/sub dir/index.html"])
        for page in pages:  # the listings wget kept beside the files
            del got[page]
        self.assertEqual(got, {path: data for path, data in self.files.items()
                               if path.startswith("mirror/")})


def main():
    global SERVE, SCREENS
    parser = argparse.ArgumentParser()
    parser.add_argument("--serve", required=True)
    parser.add_argument("--screens")
    options, rest = parser.parse_known_args()
    SERVE, SCREENS = options.serve, options.screens
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
