"""The soak run by bench/soak: each step starts a fresh headless server, loads it with
quenloft-load (or ab), samples its resident memory and descriptors before, during and after,
stops it with SIGTERM and checks its counters and log lines exactly. Prints one markdown
table. Every step and every client has a time limit.

    soak.py --load QUENLOFT_LOAD --server NAME=QUENLOFT_SERVE [--server NAME=...]
"""

import argparse
import collections
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SCALE = float(os.environ.get("SOAK_SCALE", "1"))  # below 1 for a quick run


def scaled(n):
    return max(1, int(n * SCALE))


KIB = 1024
BIG = 100 * 1024 * 1024
LOG_LINE = re.compile(r"^[^\r\n]+: 127\.0\.0\.1@:\d+  (.*)$")


# --- the server under test -----------------------------------------------------------

def write_settings(path, root):
    def text(name, value):
        n, v = name.encode(), value.encode("latin-1")
        return struct.pack("<H", len(n)) + n + struct.pack("<HH", 8, len(v)) + v

    records = [text("IndexPath", root)]
    with open(path, "wb") as f:
        f.write(struct.pack("<i", len(records)) + b"".join(records))


def read_statistics(path):
    """The counters of a store file: name -> number."""
    data = open(path, "rb").read()
    count, = struct.unpack_from("<i", data, 0)
    at, values = 4, {}
    for _ in range(count):
        n, = struct.unpack_from("<H", data, at)
        name = data[at + 2:at + 2 + n].decode("latin-1")
        at += 2 + n
        tag, = struct.unpack_from("<H", data, at)
        at += 2
        if tag == 2:
            values[name], = struct.unpack_from("<h", data, at)
            at += 2
        elif tag == 3:
            values[name], = struct.unpack_from("<i", data, at)
            at += 4
        elif tag == 5:
            values[name], = struct.unpack_from("<d", data, at)
            at += 8
        else:
            raise ValueError(f"counter {name} has tag {tag}")
    return values


class Server:
    def __init__(self, binary, root, work, sanitized):
        self.sanitized = sanitized
        self.folder = tempfile.mkdtemp(prefix="server-", dir=work)
        write_settings(os.path.join(self.folder, "HTTP-Settings.dat"), root)
        self.errors = open(os.path.join(self.folder, "stderr.txt"), "w+")
        self.process = subprocess.Popen([binary, self.folder, "0"], stdout=subprocess.PIPE,
                                        stderr=self.errors, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"on port (\d+)", line)
        if not match:
            raise RuntimeError(f"server did not start: {line!r}")
        self.port = int(match.group(1))
        self.peak_rss = self.peak_fds = 0
        self.before = self.sample()
        self._sampling = True
        self._sampler = threading.Thread(target=self._sample_loop, daemon=True)
        self._sampler.start()

    def sample(self):
        pid = self.process.pid
        rss = 0
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
        fds = len(os.listdir(f"/proc/{pid}/fd"))
        self.peak_rss, self.peak_fds = max(self.peak_rss, rss), max(self.peak_fds, fds)
        return rss, fds

    def _sample_loop(self):
        while self._sampling and self.process.poll() is None:
            try:
                self.sample()
            except OSError:
                pass
            time.sleep(0.05)

    def settle(self, limit=30):
        """Waits until the connections are gone (descriptors back where they began)."""
        deadline = time.time() + limit
        while time.time() < deadline and self.sample()[1] > self.before[1] + 1:
            time.sleep(0.1)
        time.sleep(1)
        return self.sample()

    def stop(self, limit=120):
        self._sampling = False
        self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = "killed"
        self.errors.seek(0)
        report = self.errors.read()
        sanitizer = re.search(r"(AddressSanitizer|LeakSanitizer|runtime error)", report)
        return code, sanitizer.group(1) if sanitizer else None

    def statistics(self):
        path = os.path.join(self.folder, "HTTP-Statistic.dat")
        return read_statistics(path) if os.path.exists(path) else {}

    def log_requests(self):
        """The request line of every log line; None when a line is not whole."""
        path = os.path.join(self.folder, "Log.dat")
        if not os.path.exists(path):
            return collections.Counter()
        data = open(path, "rb").read().decode("latin-1")
        if data and not data.endswith("\r\n"):
            return None
        requests = collections.Counter()
        for line in data.split("\r\n")[:-1]:
            match = LOG_LINE.match(line)
            if not match:
                return None
            requests[match.group(1)] += 1
        return requests


# --- clients ---------------------------------------------------------------------------

def fields(line):
    return {k: v for k, v in (part.split("=", 1) for part in line.split() if "=" in part)}


def run_load(load, args, limit):
    out = subprocess.run([load] + [str(a) for a in args], capture_output=True, text=True,
                         timeout=limit, env=dict(os.environ, QUENLOFT_LOAD_LIMIT=str(limit)))
    return fields(out.stdout)


class HeldLoad:
    """A quenloft-load mode that holds its connections until told."""

    def __init__(self, load, args, limit):
        self.process = subprocess.Popen([load] + [str(a) for a in args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True,
                                        env=dict(os.environ, QUENLOFT_LOAD_LIMIT=str(limit)))
        self.limit = limit
        self.open = self._line()

    def _line(self):
        result = []
        reader = threading.Thread(target=lambda: result.append(self.process.stdout.readline()))
        reader.start()
        reader.join(self.limit)
        if not result:
            self.process.kill()
            raise TimeoutError("load client did not answer")
        return fields(result[0])

    def release(self):
        self.process.stdin.write("\n")
        self.process.stdin.flush()
        closed = self._line()
        self.process.wait(timeout=self.limit)
        return closed


def probe(port, target="/1k.bin", version="HTTP/1.1", headers="Connection: close\r\n"):
    """One request on a new connection, read to the server's close (or a time limit)."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(f"GET {target} {version}\r\nHost: soak\r\n{headers}\r\n".encode())
        got = b""
        try:
            while chunk := s.recv(65536):
                got += chunk
        except socket.timeout:
            return got, False
    return got, True


# --- the steps -------------------------------------------------------------------------

class Step:
    def __init__(self, name, run, limit):
        self.name, self.run, self.limit = name, run, limit


def step_keepalive(server, load, limit):
    n = scaled(1_000_000)
    r = run_load(load, ["keepalive", server.port, 32, n, "/1k.bin"], limit)
    summary = (f"{r.get('ok')} of {n} answered 200, {r.get('errors')} errors, "
               f"{float(r.get('rate', 0)):,.0f}/s, p99 {r.get('p99_ms')} ms")
    answered = int(r.get("ok", 0))
    return summary, {"RequestsOK": answered, "BytesSend": answered * KIB}, \
        [{"GET /1k.bin HTTP/1.1": answered}], answered == n and r.get("errors") == "0"


def step_resets(server, load, limit):
    n = scaled(100_000)
    r = run_load(load, ["resets", server.port, n, 32, "/big.bin"], limit)
    answered = int(r.get("answered", 0))
    summary = (f"{answered} of {n} reset after {int(r.get('bytes_read', 0)) // max(answered, 1)}"
               f" bytes read, {r.get('errors')} errors, {r.get('seconds')} s")
    # Each answer sent at least its first piece with its head; what else went out before the
    # reset is the server's to count.
    return summary, {"RequestsOK": answered, "BytesSend": (answered * KIB, answered * BIG)}, \
        [{"GET /big.bin HTTP/1.1": answered}], answered == n and r.get("errors") == "0"


def step_heads(server, load, limit):
    n = scaled(2000)
    held = HeldLoad(load, ["heads", server.port, n, 65536, "/1k.bin"], limit)
    time.sleep(1)
    rss_open, _ = server.sample()
    closed = held.release()
    rss_after, _ = server.settle()
    ok = int(held.open.get("ok", 0))
    summary = (f"{ok} of {n} answered 200 and held; RSS while held {rss_open} KiB, after "
               f"{rss_after - server.before[0]:+} KiB; {closed.get('closed_by_server')} closed "
               f"by the server")
    # The targets: under 40 MiB while held, within 8 MiB of the start once closed. A
    # sanitizer's quarantine and shadow memory make them meaningless there.
    grown = rss_after - server.before[0]
    memory = server.sanitized or (rss_open < 40 * 1024 and grown < 8 * 1024)
    good = ok == n and closed.get("closed_by_server") == "0" and memory
    return summary, {"RequestsOK": ok, "BytesSend": ok * KIB}, \
        [{"GET /1k.bin HTTP/1.1": ok}], good


def step_unfinished(server, load, limit):
    n = scaled(4200)
    held = HeldLoad(load, ["unfinished", server.port, n, 65000], limit)
    time.sleep(1)
    rss_open, _ = server.sample()
    answer, ended = probe(server.port)
    closed = held.release()
    refused = int(closed.get("refused431", 0))
    summary = (f"{n} heads: {refused} refused 431, {closed.get('closed_by_server')} closed in "
               f"all; RSS while held {rss_open} KiB; a new client "
               f"{'served' if answer.startswith(b'HTTP/1.1 200') else 'NOT served'}")
    served = int(answer.startswith(b"HTTP/1.1 200") and ended)
    # Refused heads are logged too once refusals get their log line.
    logs = [{"GET /1k.bin HTTP/1.1": served},
            {"GET /1k.bin HTTP/1.1": served, "GET / HTTP/1.1": refused}]
    return summary, {"RequestsOK": served, "BytesSend": served * KIB}, logs, served == 1


def step_idle(server, load, limit):
    n = scaled(10_000)
    held = HeldLoad(load, ["idle", server.port, n], limit)
    # Wait until the server has taken what it will take (a connection the listen queue had
    # no room for comes again after the kernel's retries, a few seconds apart).
    last, stable_since, begun = -1, time.time(), time.time()
    while time.time() - stable_since < 5 and time.time() - begun < limit / 2:
        fds = server.sample()[1]
        if fds != last:
            last, stable_since = fds, time.time()
        time.sleep(0.2)
    answer, ended = probe(server.port)
    served = int(answer.startswith(b"HTTP/1.1 200") and ended)
    closed = held.release()
    summary = (f"{held.open.get('connected')} of {n} connected, server held "
               f"{last - server.before[1]}; {closed.get('closed_by_server')} made room; "
               f"a new client {'served' if served else 'NOT served'}")
    return summary, {"RequestsOK": served, "BytesSend": served * KIB}, \
        [{"GET /1k.bin HTTP/1.1": served}], served == 1


def step_slow(server, load, limit):
    seconds = max(5, int(30 * SCALE))
    r = run_load(load, ["slow", server.port, "/big.bin", "/1k.bin", seconds, 256 * KIB], limit)
    timed, slow = int(r.get("ok", 0)), int(r.get("slow_bytes", 0))
    summary = (f"slow reader took {slow // KIB} KiB in {seconds} s; beside it {timed} requests, "
               f"p50 {r.get('p50_ms')} ms, p99 {r.get('p99_ms')} ms, max {r.get('max_ms')} ms")
    good = r.get("errors") == "0" and r.get("slow_failed") == "0"
    return summary, {"RequestsOK": timed + 1,
                     "BytesSend": (slow - KIB + timed * KIB, BIG + timed * KIB)}, \
        [{"GET /1k.bin HTTP/1.1": timed, "GET /big.bin HTTP/1.1": 1}], good


def step_http10(server, load, limit):
    n = scaled(2000)
    answer, ended = probe(server.port, version="HTTP/1.0", headers="")
    nc_ok = ended and b"\r\nConnection: Close\r\n" in answer
    out = subprocess.run(["ab", "-n", str(n), "-c", "32", "-s", "10",
                          f"http://127.0.0.1:{server.port}/1k.bin"],
                         capture_output=True, text=True, timeout=limit).stdout
    complete = int((re.search(r"Complete requests:\s+(\d+)", out) or [0, 0])[1])
    failed = int((re.search(r"Failed requests:\s+(\d+)", out) or [0, -1])[1])
    non2xx = re.search(r"Non-2xx responses:\s+(\d+)", out)
    summary = (f"one HTTP/1.0 request {'ended' if nc_ok else 'DID NOT END'}; ab: {complete} of "
               f"{n} complete, {failed} failed")
    total = complete + int(nc_ok)
    good = nc_ok and complete == n and failed == 0 and not non2xx
    return summary, {"RequestsOK": total, "BytesSend": total * KIB}, \
        [{"GET /1k.bin HTTP/1.0": total}], good


STEPS = [
    Step("1M keep-alive 1 KiB requests, 32 connections", step_keepalive, 900),
    Step("100k connections reset after a partial read", step_resets, 900),
    Step("2,000 keep-alive connections x 65,536-byte request", step_heads, 300),
    Step("4,200 unfinished 65,000-byte heads", step_unfinished, 300),
    Step("10,000 idle connections", step_idle, 300),
    Step("slow reader of 100 MiB beside a timed client", step_slow, 300),
    Step("HTTP/1.0 without keep-alive (ab -n 2000 -c 32)", step_http10, 300),
]


# --- checks and the table ----------------------------------------------------------------

def check_counters(found, expected):
    wrong = []
    for key, want in expected.items():
        got = found.get(key, 0)
        ok = want[0] <= got <= want[1] if isinstance(want, tuple) else got == want
        if not ok:
            wrong.append(f"{key} {got} (want {want})")
    others = {k: v for k, v in found.items() if k not in expected and v}
    wrong += [f"{k} {v} (want 0)" for k, v in others.items()]
    return "exact" if not wrong else "WRONG: " + ", ".join(wrong)


def check_log(found, alternatives):
    if found is None:
        return "WRONG: a line is not whole"
    for expected in alternatives:
        if found == collections.Counter({k: v for k, v in expected.items() if v}):
            return f"exact ({sum(found.values())} lines)"
    return f"WRONG: {dict(found)}"


def run_step(step, build, binary, load, root, work, sanitized):
    server = Server(binary, root, work, sanitized)
    before = server.before
    started = time.time()
    try:
        summary, counters, logs, good = step.run(server, load, step.limit)
    except (subprocess.TimeoutExpired, TimeoutError, OSError) as e:
        summary, counters, logs, good = f"FAILED: {e!r}", {}, [{}], False
    after = server.settle()
    code, sanitizer = server.stop()
    return {
        "build": build, "step": step.name, "summary": summary, "good": good,
        "rss": f"{before[0]:,} / {server.peak_rss:,} / {after[0]:,}",
        "fds": f"{before[1]} / {server.peak_fds} / {after[1]}",
        "counters": check_counters(server.statistics(), counters),
        "log": check_log(server.log_requests(), logs),
        "exit": f"{code}" + (f", {sanitizer} report" if sanitizer else ""),
        "seconds": time.time() - started,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--load", required=True)
    parser.add_argument("--server", action="append", required=True, help="NAME=PATH")
    parser.add_argument("--only", help="run the steps whose name holds this text")
    parser.add_argument("--sanitized", action="append", default=[],
                        help="NAME of a sanitizer build: no memory targets")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="quenloft-soak-")
    root = os.path.join(work, "www")
    os.makedirs(root)
    with open(os.path.join(root, "1k.bin"), "wb") as f:
        f.write(os.urandom(KIB))
    with open(os.path.join(root, "big.bin"), "wb") as f:
        f.truncate(BIG)

    rows = []
    for given in args.server:
        build, binary = given.split("=", 1)
        for step in STEPS:
            if args.only and args.only not in step.name:
                continue
            row = run_step(step, build, binary, args.load, root, work,
                           build in args.sanitized)
            rows.append(row)
            print(f"{build:8} {row['step']}: {row['summary']} ({row['seconds']:.0f} s)",
                  file=sys.stderr, flush=True)

    print("| Build | Step | Result | RSS KiB before / peak / after | Descriptors before / "
          "peak / after | Counters | Log lines | Exit |")
    print("|---|---|---|---|---|---|---|---|")
    for r in rows:
        mark = "" if r["good"] else " **(not met)**"
        print(f"| {r['build']} | {r['step']} | {r['summary']}{mark} | {r['rss']} | {r['fds']} | "
              f"{r['counters']} | {r['log']} | {r['exit']} |")
    subprocess.run(["rm", "-rf", work])
    failed = [r for r in rows if not r["good"] or not r["counters"].startswith("exact")
              or not r["log"].startswith("exact") or r["exit"] != "0"]
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
