#!/usr/bin/env python3
"""Quenloft as people meet it: headless Chromium (driven over the DevTools protocol on a
pipe), wget, curl, aria2c and mpv against the headless server on 127.0.0.1, on real files
with real names, and on media that ffmpeg makes for the test.

    browser_test.py --serve PATH/quenloft-serve [--screens FOLDER] [unittest options]

Python's standard library only. Every wait has a watchdog; nothing here measures time.
"""
import argparse
import base64
import fcntl
import hashlib
import http.client
import json
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
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


def read_store(path):
    """The records of a store as a dictionary of names and numbers or texts."""
    with open(path, "rb") as f:
        data = f.read()
    count, at, records = struct.unpack_from("<i", data)[0], 4, {}
    numbers = {2: "<h", 3: "<i", 4: "<f", 5: "<d", 7: "<d", 11: "<h", 17: "<B"}
    for _ in range(count):
        size = struct.unpack_from("<H", data, at)[0]
        name = data[at + 2:at + 2 + size].decode("latin-1")
        tag = struct.unpack_from("<H", data, at + 2 + size)[0]
        at += 4 + size
        if tag in numbers:
            records[name] = struct.unpack_from(numbers[tag], data, at)[0]
            at += struct.calcsize(numbers[tag])
        elif tag == 6:  # a currency: a 64-bit count of ten-thousandths
            records[name] = struct.unpack_from("<q", data, at)[0] / 10000
            at += 8
        elif tag == 8:
            size = struct.unpack_from("<H", data, at)[0]
            records[name] = data[at + 2:at + 2 + size].decode("latin-1")
            at += 2 + size
        else:
            raise ValueError("record %s of type %d" % (name, tag))
    return records


class Server:
    """quenloft-serve on a free port of 127.0.0.1, serving `root`; `env` adds to its
    environment."""

    def __init__(self, work, root, name="program", env=None):
        self.data = os.path.join(work, name)
        os.makedirs(self.data)
        write_settings(os.path.join(self.data, "HTTP-Settings.dat"), root)
        self.process = subprocess.Popen([SERVE, self.data, "0"], stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, env=dict(os.environ, **(env or {})))
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
        self.process.stdout.close()

    def statistics(self):
        """The statistics store, as the server saved it when it stopped."""
        self.stop()
        return read_store(os.path.join(self.data, "HTTP-Statistic.dat"))


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

    def screenshot(self, name):
        """Keeps the page as it looks, when the command line names a folder for it."""
        if SCREENS:
            shot = self.page("Page.captureScreenshot", format="png")["data"]
            os.makedirs(SCREENS, exist_ok=True)
            with open(os.path.join(SCREENS, name), "wb") as f:
                f.write(base64.b64decode(shot))

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


BROWSER = None  # one browser for every test: starting Chromium takes seconds
BROWSER_WORK = None


def setUpModule():
    global BROWSER, BROWSER_WORK
    BROWSER_WORK = tempfile.mkdtemp(prefix="quenloft-chromium-")
    BROWSER = Chromium(BROWSER_WORK)


def tearDownModule():
    BROWSER.close()
    shutil.rmtree(BROWSER_WORK, ignore_errors=True)


class ServedFolder(unittest.TestCase):
    """A temporary folder that `fill` fills, served by one server for the whole class."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quenloft-browser-")
        cls.root = os.path.join(cls.work, "www")
        cls.files = {}  # the path below the root -> its bytes
        cls.fill()
        cls.server = Server(cls.work, cls.root)
        cls.browser = BROWSER

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def put(cls, path, data):
        full = os.path.join(cls.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        cls.files[path] = data


class RealClients(ServedFolder):
    """Names, pages and downloads."""

    @classmethod
    def fill(cls):
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
        self.browser.screenshot("listing.png")

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
        self.addCleanup(self.browser.call, "Browser.setDownloadBehavior", behavior="default")
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


def make_media(folder):
    """A few seconds of video and sound in the forms people share, made by ffmpeg: an MP4
    with its index in front and one with it at the end (as phones write them), an MP3 and
    a WebM. Returns their names."""
    os.makedirs(folder, exist_ok=True)
    video = ["-f", "lavfi", "-i", "testsrc=duration=6:size=160x120:rate=10"]
    sound = ["-f", "lavfi", "-i", "sine=frequency=440:duration=6"]
    made = {
        "index-last.mp4": video + sound + ["-c:v", "libx264", "-pix_fmt", "yuv420p",
                                           "-c:a", "aac", "-shortest"],
        "song.mp3": sound + ["-c:a", "libmp3lame"],
        "clip.webm": video + sound + ["-c:v", "libvpx", "-c:a", "libopus", "-shortest"],
    }
    for name, arguments in made.items():
        subprocess.run(["ffmpeg", "-v", "error", "-y"] + arguments + [os.path.join(folder, name)],
                       check=True, timeout=120)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", os.path.join(folder, "index-last.mp4"),
                    "-c", "copy", "-movflags", "+faststart", os.path.join(folder, "clip.mp4")],
                   check=True, timeout=120)
    return ["clip.mp4", "song.mp3", "clip.webm", "index-last.mp4"]


def japanese_locale(folder):
    """A ja_JP.UTF-8 locale compiled into `folder`, for LOCPATH."""
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(folder, "ja_JP.UTF-8")],
                   check=True, timeout=120, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return folder


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class SeekingResumingAndHeads(ServedFolder):
    """What players and download tools need of a file server: byte ranges, HEAD, pages
    with their length, text in its character set."""

    SEEK_TO = 3

    @classmethod
    def fill(cls):
        cls.media = make_media(os.path.join(cls.root, "media"))
        cls.text = "Réunion du comité: 中文, ça va?\n" * 40
        cls.put("text/notes.txt", cls.text.encode())
        cls.big = os.urandom(24 * 1024 * 1024)
        cls.put("download/big.bin", cls.big)

    def fresh_server(self, name, env=None):
        server = Server(self.work, self.root, name, env)
        self.addCleanup(server.stop)
        return server

    def test_chromium_seeks_in_video_and_sound(self):
        self.browser.open(self.server.url + "/media/")
        for name in self.media:
            kind = "audio" if name.endswith(".mp3") else "video"
            state = self.browser.evaluate("""new Promise(done => {
                const m = document.createElement('%s');
                m.preload = 'auto';
                m.onerror = () => done({error: m.error ? m.error.code : -1});
                m.onloadedmetadata = () => {
                    m.onseeked = () => done({time: m.currentTime, duration: m.duration,
                        seekable: m.seekable.length ? [m.seekable.start(0), m.seekable.end(0)]
                                                    : []});
                    m.currentTime = %d;
                };
                m.src = '%s';
                document.body.appendChild(m);
            })""" % (kind, self.SEEK_TO, "/media/" + name))
            self.assertNotIn("error", state, name)
            self.assertAlmostEqual(state["time"], self.SEEK_TO, delta=0.05, msg=name)
            self.assertAlmostEqual(state["duration"], 6, delta=0.2, msg=name)
            self.assertEqual(state["seekable"][0], 0, name)
            self.assertAlmostEqual(state["seekable"][1], state["duration"], delta=0.05, msg=name)

    def test_mpv_starts_an_mp4_with_its_index_at_the_end_where_asked(self):
        mpv = subprocess.run(
            ["mpv", "--no-config", "--vo=null", "--ao=null", "--start=%d" % self.SEEK_TO,
             "--frames=1", "--msg-level=all=info,cplayer=v",
             self.server.url + "/media/index-last.mp4"],
            capture_output=True, text=True, timeout=120)
        self.assertEqual(mpv.returncode, 0, mpv.stdout + mpv.stderr)
        started = re.search(r"playback restart complete @ ([0-9.]+)", mpv.stdout + mpv.stderr)
        self.assertIsNotNone(started, mpv.stdout + mpv.stderr)
        self.assertAlmostEqual(float(started.group(1)), self.SEEK_TO, delta=0.2)

    def cut_download(self, folder, name):
        """A download of big.bin that stopped in the middle: its first part in `folder`."""
        os.makedirs(folder)
        half = len(self.big) // 2 + 12345
        with open(os.path.join(folder, name), "wb") as f:
            f.write(self.big[:half])
        return half

    def test_curl_wget_and_aria2c_resume_and_fetch_only_the_rest(self):
        url = "/download/big.bin"
        tools = {
            "curl": lambda folder, base: ["curl", "-sS", "-f", "-C", "-", "-o",
                                          os.path.join(folder, "big.bin"), base + url],
            "wget": lambda folder, base: ["wget", "-q", "-c", "-t", "1", "-T", "30", "-P", folder,
                                          base + url],
            "aria2c": lambda folder, base: ["aria2c", "-q", "-c", "--max-tries=1", "-x", "1",
                                            "--file-allocation=none", "-d", folder, "-o",
                                            "big.bin", base + url],
        }
        for tool, command in tools.items():
            folder = os.path.join(self.work, "resumed-" + tool)
            had = self.cut_download(folder, "big.bin")
            server = self.fresh_server("program-" + tool)
            run = subprocess.run(command(folder, server.url), capture_output=True, timeout=120)
            self.assertEqual(run.returncode, 0, (tool, run.stderr))
            self.assertEqual(sha256_of(os.path.join(folder, "big.bin")),
                             hashlib.sha256(self.big).hexdigest(), tool)
            sent = server.statistics()
            if tool == "aria2c":
                # It asks for the whole file first to learn its length, drops that
                # connection, and asks again from a block boundary before where it stopped.
                self.assertEqual(sent.get("RequestsOK"), 2, tool)
                self.assertLess(sent.get("BytesSend"), len(self.big), tool)
            else:
                self.assertEqual(sent.get("BytesSend"), len(self.big) - had, tool)
                self.assertEqual(sent.get("RequestsOK"), 1, tool)

    def test_heads_spiders_and_pages_with_their_length(self):
        base = self.server.url
        for target, code in (("/text/notes.txt", 0), ("/media/", 0), ("/no/such.txt", 8)):
            spider = subprocess.run(["wget", "--spider", "-q", "-t", "1", base + target],
                                    timeout=60)
            self.assertEqual(spider.returncode, code, target)

        head = subprocess.run(["curl", "-sS", "-I", base + "/media/song.mp3"],
                              capture_output=True, timeout=60)
        head.stdout = head.stdout.decode("latin-1")
        size = os.path.getsize(os.path.join(self.root, "media", "song.mp3"))
        self.assertIn("HTTP/1.1 200 OK\r\n", head.stdout)
        self.assertIn("Content-Length: %d\r\n" % size, head.stdout)
        self.assertIn("Accept-Ranges: bytes\r\n", head.stdout)
        self.assertTrue(head.stdout.endswith("\r\n\r\n"), "a body after the head")

        # A HEAD and then a GET on one connection, as link checkers and http.client do.
        connection = http.client.HTTPConnection("127.0.0.1", int(base.rsplit(":", 1)[1]),
                                                timeout=30)
        connection.request("HEAD", "/text/notes.txt")
        answer = connection.getresponse()
        self.assertEqual((answer.status, answer.read()), (200, b""))
        self.assertEqual(int(answer.getheader("Content-Length")), len(self.text.encode()))
        connection.request("GET", "/text/notes.txt")
        self.assertEqual(connection.getresponse().read(), self.text.encode())
        connection.request("POST", "/text/notes.txt")
        refused = connection.getresponse()
        self.assertEqual((refused.status, refused.getheader("Allow")), (405, "GET, HEAD"))
        refused.read()
        connection.close()

        # Three requests pipelined behind a 404 are all answered, in order.
        with socket.create_connection(("127.0.0.1", int(base.rsplit(":", 1)[1])), 30) as raw:
            raw.sendall(b"GET /none HTTP/1.1\r\nHost: x\r\n\r\n"
                        b"HEAD /text/notes.txt HTTP/1.1\r\nHost: x\r\n\r\n"
                        b"GET /none2 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            answers = b""
            while chunk := raw.recv(65536):
                answers += chunk
        statuses = re.findall(rb"HTTP/1\.1 (\d+)", answers)
        self.assertEqual(statuses, [b"404", b"200", b"404"])

    def test_utf8_text_reads_right_in_chromium(self):
        self.browser.open(self.server.url + "/text/notes.txt")
        self.assertEqual(self.browser.evaluate("document.body.innerText"), self.text)
        self.assertEqual(self.browser.evaluate("document.characterSet"), "UTF-8")

    def test_a_japanese_desktop_lists_dates_that_read_right(self):
        locales = japanese_locale(os.path.join(self.work, "locales"))
        server = self.fresh_server("program-ja", {"LOCPATH": locales, "LANG": "ja_JP.UTF-8",
                                                  "LC_ALL": ""})
        with urllib.request.urlopen(server.url + "/media/", timeout=30) as answer:
            page = answer.read()
        self.assertTrue(all(byte < 128 for byte in page), "a byte outside ASCII")
        self.browser.open(server.url + "/media/")
        rows = self.browser.evaluate("document.querySelector('pre').innerText")
        self.assertRegex(rows, r"\d{4}年\d{2}月\d{2}日")
        self.browser.screenshot("listing-ja.png")


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
