#!/usr/bin/env python3
"""The measurements of bench/run: starts every server on core 0 on one prepared folder,
loads it from core 1 with wrk and curl, round after round with the servers in turn, and
prints one markdown table of medians with their min-max. Only 127.0.0.1 is used; every
step has a time limit."""

import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

SERVER_CORE = "0"
CLIENT_CORE = "1"
TICKS = os.sysconf("SC_CLK_TCK")
GIGABIT_MB_S = 118  # what gigabit Ethernet carries, in MB/s
BIG = 100 * 1024 * 1024
MEDIUM = 64 * 1024

QUENLOFT, WINDOW, NGINX, LIGHTTPD, PYTHON = "quenloft", "window", "nginx", "lighttpd", "python"
# Quenloft writes a log line per request; the others are measured with and without theirs.
NGINX_LOG, LIGHTTPD_LOG = "nginx-log", "lighttpd-log"
BASE, BASE_WINDOW = "base", "base-window"  # an earlier build, to compare with in the same run
SERVERS = [QUENLOFT, WINDOW, BASE, BASE_WINDOW, NGINX, NGINX_LOG, LIGHTTPD, LIGHTTPD_LOG, PYTHON]
TITLES = {
    QUENLOFT: "Quenloft (harness)",
    WINDOW: "Quenloft (toolkit loop)",
    BASE: "baseline (harness)",
    BASE_WINDOW: "baseline (toolkit loop)",
    NGINX: "nginx (1 worker, no log)",
    NGINX_LOG: "nginx (1 worker, access log)",
    LIGHTTPD: "lighttpd (no log)",
    LIGHTTPD_LOG: "lighttpd (access log)",
    PYTHON: "python http.server",
}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def pinned(core, command):
    return ["taskset", "-c", core] + command


def process_tree(pid):
    pids, todo = [], [pid]
    while todo:
        p = todo.pop()
        pids.append(p)
        try:
            for task in os.listdir(f"/proc/{p}/task"):
                with open(f"/proc/{p}/task/{task}/children") as f:
                    todo += [int(c) for c in f.read().split()]
        except OSError:
            pass
    return pids


def cpu_seconds(pid):
    total = 0
    for p in process_tree(pid):
        try:
            with open(f"/proc/{p}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total / TICKS


def rss_kib(pid):
    total = 0
    for p in process_tree(pid):
        try:
            with open(f"/proc/{p}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def status_of(port, target):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            s.sendall(f"GET {target} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
            line = s.recv(256).split(b"\r\n", 1)[0]
            return int(line.split()[1])
    except (OSError, IndexError, ValueError):
        return 0


def wait_port(port, limit=20):
    deadline = time.time() + limit
    while time.time() < deadline:
        if status_of(port, "/file1k.bin") == 200:
            return True
        time.sleep(0.1)
    return False


# --- the prepared folder -----------------------------------------------------------


def prepare(work):
    root = os.path.join(work, "www")
    os.makedirs(os.path.join(root, "list1k"))
    os.makedirs(os.path.join(root, "list10k"))
    with open(os.path.join(root, "file1k.bin"), "wb") as f:
        f.write(os.urandom(1024))
    with open(os.path.join(root, "file64k.bin"), "wb") as f:
        f.write(os.urandom(MEDIUM))
    with open(os.path.join(root, "big.bin"), "wb") as f:
        f.truncate(BIG)
        f.seek(0)
        block = os.urandom(1 << 20)
        for _ in range(BIG >> 20):
            f.write(block)
    for count, folder in ((1000, "list1k"), (10000, "list10k")):
        for i in range(1, count + 1):
            open(os.path.join(root, folder, f"entry-{i:05d}.txt"), "wb").close()
    return root


def quenloft_settings(path, root, listing=1, date=1, size=1, hidden=0, index_names=()):
    """The settings file: the served folder, listing on with date and size columns unless
    told otherwise, and the index file names, if any, in the order they are tried."""

    def text_value(value):
        v = value.encode("latin-1")
        return struct.pack("<HH", 8, len(v)) + v

    def text(name, value):
        n = name.encode()
        return struct.pack("<H", len(n)) + n + text_value(value)

    def integer(name, value):
        n = name.encode()
        return struct.pack("<H", len(n)) + n + struct.pack("<Hh", 2, value)

    def texts(name, values):  # an array of one dimension, counted from 0
        n = name.encode()
        return (struct.pack("<H", len(n)) + n + struct.pack("<HHii", 0x200C, 1, len(values), 0)
                + b"".join(text_value(v) for v in values))

    records = [text("IndexPath", root), integer("DLEnabled", listing), integer("DLShowDate", date),
               integer("DLShowSize", size), integer("DLShowHiddenFiles", hidden)]
    if index_names:
        records.append(texts("IndexNames", list(index_names)))
    with open(path, "wb") as f:
        f.write(struct.pack("<i", len(records)) + b"".join(records))


# --- the servers ---------------------------------------------------------------------


class Server:
    def __init__(self, name, port, process, extra=()):
        self.name, self.port, self.process, self.extra = name, port, process, list(extra)
        self.output = None

    def pid(self):
        return self.process.pid

    def stop(self):
        for p in [self.process] + self.extra:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in [self.process] + self.extra:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def start_quenloft(build, work, root, name=QUENLOFT):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    quenloft_settings(os.path.join(folder, "HTTP-Settings.dat"), root)
    port = free_port()
    serve = os.path.join(build, "bench/serve/quenloft-serve")
    p = subprocess.Popen(pinned(SERVER_CORE, [serve, folder, str(port)]),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return Server(name, port, p)


def start_display(work):
    """An Xvfb of our own on core 0 with the servers; None when there is none."""
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        return None, None
    read, write = os.pipe()
    p = subprocess.Popen(pinned(SERVER_CORE, [xvfb, "-displayfd", str(write), "-nolisten", "tcp",
                                              "-screen", "0", "800x600x24"]),
                         pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    deadline = time.time() + 20
    while not number.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    if not number.strip():
        p.kill()
        return None, None
    return p, ":" + number.decode().strip()


def start_window(build, work, root, name=WINDOW):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    quenloft_settings(os.path.join(folder, "HTTP-Settings.dat"), root)
    port = free_port()
    env = dict(os.environ)
    display_process, display = start_display(work)
    if display:
        env["DISPLAY"] = display
        env["QT_QPA_PLATFORM"] = "xcb"
    else:
        env["QT_QPA_PLATFORM"] = "offscreen"
    output = open(os.path.join(work, name + ".out"), "w+")
    serve = os.path.join(build, "bench/window/quenloft-window-serve")
    p = subprocess.Popen(pinned(SERVER_CORE, [serve, folder, str(port)]), env=env,
                         stdout=output, stderr=subprocess.DEVNULL)
    server = Server(name, port, p, [display_process] if display_process else [])
    server.output = output
    return server


def start_nginx(work, root, logged):
    name = NGINX_LOG if logged else NGINX
    folder = os.path.join(work, name)
    os.makedirs(folder)
    port = free_port()
    access = f"{folder}/access.log" if logged else "off"
    conf = os.path.join(folder, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off;
worker_processes 1;
worker_rlimit_nofile 8192;
pid {folder}/nginx.pid;
error_log {folder}/error.log;
events {{ worker_connections 4096; }}
http {{
    access_log {access};
    client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    include /etc/nginx/mime.types;
    sendfile on;
    keepalive_requests 1000000;
    server {{
        listen 127.0.0.1:{port};
        root {root};
        autoindex on;
    }}
}}
""")
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    p = subprocess.Popen(pinned(SERVER_CORE, [nginx, "-c", conf, "-e", f"{folder}/error.log"]),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return Server(name, port, p)


def start_lighttpd(work, root, logged):
    name = LIGHTTPD_LOG if logged else LIGHTTPD
    folder = os.path.join(work, name)
    os.makedirs(folder)
    port = free_port()
    modules = '"mod_dirlisting", "mod_accesslog"' if logged else '"mod_dirlisting"'
    access = f'accesslog.filename = "{folder}/access.log"\n' if logged else ""
    conf = os.path.join(folder, "lighttpd.conf")
    with open(conf, "w") as f:
        f.write(f"""server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {port}
server.modules = ({modules})
server.network-backend = "sendfile"
server.max-fds = 8192
server.max-connections = 4096
server.max-keep-alive-requests = 65535
server.max-keep-alive-idle = 300
server.errorlog = "{folder}/error.log"
{access}dir-listing.activate = "enable"
mimetype.assign = (".bin" => "application/octet-stream", ".txt" => "text/plain",
                   ".html" => "text/html")
""")
    lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
    p = subprocess.Popen(pinned(SERVER_CORE, [lighttpd, "-D", "-f", conf]),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return Server(name, port, p)


def start_python(root):
    port = free_port()
    p = subprocess.Popen(pinned(SERVER_CORE, [sys.executable, "-m", "http.server", "--protocol",
                                              "HTTP/1.1", "--bind", "127.0.0.1", str(port)]),
                         cwd=root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return Server(PYTHON, port, p)


# --- the loads -----------------------------------------------------------------------


def wrk(server, target, connections, seconds):
    """(requests/s, bytes read/s, requests) of one wrk run; None when answers failed."""
    out = subprocess.run(
        pinned(CLIENT_CORE, ["wrk", "-t1", f"-c{connections}", f"-d{seconds}s",
                             f"http://127.0.0.1:{server.port}{target}"]),
        capture_output=True, text=True, timeout=seconds + 60).stdout
    done = re.search(r"(\d+) requests in ([\d.]+)(m?s)", out)
    if not done or "Non-2xx" in out or "Socket errors" in out:
        return None
    requests = int(done.group(1))
    elapsed = float(done.group(2)) / (1000 if done.group(3) == "ms" else 1)
    return requests / elapsed, requests


def complete_listing(server, folder, last):
    """True when the listing page of `folder` names its last entry: a page cut short by a
    failure would otherwise be measured as a fast one."""
    out = subprocess.run(["curl", "-s", f"http://127.0.0.1:{server.port}/{folder}/"],
                         capture_output=True, timeout=60).stdout
    return last.encode() in out


def curl_seconds(server, target):
    out = subprocess.run(
        pinned(CLIENT_CORE, ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code} %{time_total}",
                             f"http://127.0.0.1:{server.port}{target}"]),
        capture_output=True, text=True, timeout=120).stdout.split()
    if len(out) != 2 or out[0] != "200":
        return None
    return float(out[1])


def small1(server, seconds, **_):
    r = wrk(server, "/file1k.bin", 1, seconds)
    return r and {"small1": r[0]}


def small32(server, seconds, **_):
    r = wrk(server, "/file1k.bin", 32, seconds)
    return r and {"small32": r[0]}


def list1k(server, seconds, **_):
    r = wrk(server, "/list1k/", 8, seconds)
    if not r or not complete_listing(server, "list1k", "entry-01000.txt"):
        return None
    return {"list1k": r[0]}


def list10k(server, seconds, root, **_):
    # The first listing after a change to the folder (nothing kept can be used), then the
    # listing asked for again and again.
    os.utime(os.path.join(root, "list10k", "entry-00001.txt"))
    time.sleep(0.2)
    first = curl_seconds(server, "/list10k/")
    r = wrk(server, "/list10k/", 1, seconds)
    if first is None or not r or not complete_listing(server, "list10k", "entry-10000.txt"):
        return None
    return {"list10k_first": first * 1000, "list10k": r[0], "list10k_ms": 1000 / r[0]}


def medium(server, seconds, **_):
    cpu = cpu_seconds(server.pid())
    r = wrk(server, "/file64k.bin", 8, seconds)
    if not r:
        return None
    used = cpu_seconds(server.pid()) - cpu
    moved = r[1] * MEDIUM
    return {"medium": r[0] * MEDIUM / 1e6, "medium_cpu": used / (moved / 1e9)}


def big(server, **_):
    cpu = cpu_seconds(server.pid())
    seconds = curl_seconds(server, "/big.bin")
    if seconds is None:
        return None
    used = cpu_seconds(server.pid()) - cpu
    return {"big": BIG / 1e6 / seconds, "big_cpu": used / (BIG / 1e9)}


def responsiveness(server, **_):
    """The toolkit loop's timer lateness while 8 clients download 100 MiB each at once."""
    if server.name not in (WINDOW, BASE_WINDOW):
        return {}
    server.output.seek(0, os.SEEK_END)
    mark = server.output.tell()
    server.process.send_signal(signal.SIGUSR1)
    time.sleep(0.2)
    clients = [subprocess.Popen(pinned(CLIENT_CORE, ["curl", "-s", "-o", "/dev/null",
                                                     f"http://127.0.0.1:{server.port}/big.bin"]))
               for _ in range(8)]
    for c in clients:
        c.wait(timeout=300)
    server.process.send_signal(signal.SIGUSR2)
    deadline = time.time() + 10
    while time.time() < deadline:
        server.output.seek(mark)
        found = re.search(r"lateness p50 ([\d.]+) p99 ([\d.]+) max ([\d.]+)", server.output.read())
        if found:
            p50, p99, most = (float(x) for x in found.groups())
            return {"late_p50": p50, "late_p99": p99, "late_max": most}
        time.sleep(0.1)
    return None


IDLE_CLIENT = r"""
import resource, socket, sys, time
resource.setrlimit(resource.RLIMIT_NOFILE, (8192, 8192))
port = int(sys.argv[1])
request = b"GET /file1k.bin HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n"
conns, failures = [], 0
for _ in range(1000):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=5)
        s.sendall(request)
        got = b""
        while b"\r\n\r\n" not in got or len(got) < got.index(b"\r\n\r\n") + 4 + 1024:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
        conns.append(s)
    except OSError:
        failures += 1
        if failures >= 3:
            break
print(len(conns), flush=True)
sys.stdin.read()
"""


def idle_memory(server):
    """Resident memory (KiB, the server's whole process tree) after the load, holding 1000
    idle keep-alive connections that have each been answered once."""
    client = subprocess.Popen(pinned(CLIENT_CORE, [sys.executable, "-c", IDLE_CLIENT,
                                                   str(server.port)]),
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        held = int(client.stdout.readline() or 0)
        time.sleep(1)
        kib = rss_kib(server.pid())
        served = status_of(server.port, "/file1k.bin") == 200
    finally:
        client.stdin.close()
        client.wait(timeout=60)
    return {"rss": kib, "rss_note": "" if held == 1000 and served else " (!)"}


# --- the table -----------------------------------------------------------------------

ROWS = [
    # key, title, "higher" or "lower" is better, target
    ("small1", "1 KiB keep-alive, 1 conn (req/s)", "higher", ">= 1.0 x lighttpd"),
    ("small32", "1 KiB keep-alive, 32 conns (req/s)", "higher", ">= 1.0 x nginx, >= 0.6 x lighttpd"),
    ("list1k", "listing of 1000 entries, 8 conns (req/s)", "higher", ""),
    ("list10k", "listing of 10,000 entries, 1 conn (req/s)", "higher", ""),
    ("list10k_ms", "listing of 10,000 entries, kept (ms per page)", "lower", "< 10 ms"),
    ("list10k_first", "listing of 10,000 entries, first (ms, curl)", "lower", "< 50 ms"),
    ("medium", "64 KiB, 8 conns (MB/s)", "higher", f">= python; gigabit: {GIGABIT_MB_S}"),
    ("medium_cpu", "64 KiB, 8 conns (CPU s per GB)", "lower", ""),
    ("big", "100 MiB, 1 conn (MB/s)", "higher", f"gigabit: {GIGABIT_MB_S}"),
    ("big_cpu", "100 MiB, 1 conn (CPU s per GB)", "lower", ""),
    ("late_p50", "timer lateness, 8 x 100 MiB (p50 ms)", "lower", ""),
    ("late_p99", "timer lateness, 8 x 100 MiB (p99 ms)", "lower", "< 16 ms"),
    ("late_max", "timer lateness, 8 x 100 MiB (max ms)", "lower", ""),
    ("rss", "RSS after load, 1000 idle conns (KiB)", "lower", "<= lighttpd"),
]


def figure(values):
    if not values:
        return None, ""
    middle = statistics.median(values)
    digits = 0 if middle >= 100 else 2

    def fmt(v):
        return f"{v:,.{digits}f}"

    text = fmt(middle)
    if len(values) > 1:
        text += f" ({fmt(min(values))}-{fmt(max(values))})"
    return middle, text


def table(results, notes, rounds):
    shown = [s for s in SERVERS if any(server == s for (_, server) in results)]
    ratios = [("Q / nginx", QUENLOFT, NGINX), ("Q / nginx+log", QUENLOFT, NGINX_LOG),
              ("Q / lighttpd", QUENLOFT, LIGHTTPD), ("Q / lighttpd+log", QUENLOFT, LIGHTTPD_LOG),
              ("toolkit / harness", WINDOW, QUENLOFT)]
    if BASE in shown:
        ratios += [("Q / baseline", QUENLOFT, BASE), ("toolkit / baseline", WINDOW, BASE_WINDOW)]
    head = ["Work"] + [TITLES[s] for s in shown] + [r[0] for r in ratios] + ["target"]
    lines = ["| " + " | ".join(head) + " |",
             "|---" + "|---:" * (len(shown) + len(ratios)) + "|---|"]
    for key, title, better, target in ROWS:
        medians, cells = {}, []
        for s in shown:
            medians[s], text = figure(results.get((key, s), []))
            cells.append(text + notes.get((key, s), ""))
        if not any(cells):
            continue

        def ratio(a, b):
            if medians.get(a) is None or not medians.get(b):
                return ""
            return f"{medians[a] / medians[b]:.2f}"

        cells += [ratio(a, b) for _, a, b in ratios]
        lines.append(f"| {title} | " + " | ".join(cells) + f" | {target} |")
    return "\n".join(lines) + (f"\n\nMedians of {rounds} rounds (min-max); servers on core "
                               f"{SERVER_CORE}, clients on core {CLIENT_CORE}; ratios of medians.")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--seconds", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--baseline", help="an earlier build to measure beside this one")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="quenloft-bench-")
    os.chmod(work, 0o755)  # nginx's worker runs as another user and reads the folder
    servers = []
    try:
        import resource
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        root = prepare(work)
        servers = [start_quenloft(args.build, work, root), start_window(args.build, work, root)]
        if args.baseline:
            servers += [start_quenloft(args.baseline, work, root, BASE),
                        start_window(args.baseline, work, root, BASE_WINDOW)]
        servers += [start_nginx(work, root, False), start_nginx(work, root, True),
                    start_lighttpd(work, root, False), start_lighttpd(work, root, True),
                    start_python(root)]
        live = []
        for s in servers:
            ok = wait_port(s.port) and all(
                status_of(s.port, t) == 200
                for t in ("/file1k.bin", "/file64k.bin", "/list1k/", "/list10k/", "/big.bin"))
            if ok:
                live.append(s)
            else:
                print(f"{TITLES[s.name]} does not answer every target with 200; left out",
                      file=sys.stderr)
        results, notes = {}, {}
        loads = [small1, small32, list1k, list10k, medium, big, responsiveness]
        for r in range(args.rounds):
            print(f"round {r + 1} of {args.rounds}", file=sys.stderr)
            for load in loads:
                turn = live[r % len(live):] + live[:r % len(live)]  # each round starts elsewhere
                for s in turn:
                    got = load(s, seconds=args.seconds, root=root)
                    if got is None:
                        notes[(load.__name__, s.name)] = " (errors)"
                        continue
                    for key, value in got.items():
                        results.setdefault((key, s.name), []).append(value)
        time.sleep(11)  # a kept listing is given back once nobody has asked for it for 10 s
        for s in live:
            got = idle_memory(s)
            results[("rss", s.name)] = [got["rss"]]
            notes[("rss", s.name)] = got["rss_note"]
        print(table(results, notes, args.rounds))
    finally:
        for s in servers:
            s.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
