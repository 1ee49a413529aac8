#!/usr/bin/env python3
"""Hostile and broken viewers against the studio's network side, on loopback.

Starts abuse_studio (viewer HTTP server, relay and questions store in one process), streams
1.14 Mbit/s of transport-stream packets into its ingest port, keeps one healthy viewer on
"/readvideo" and a probe fetching "/config.js" every second (both in a separate monitor process,
so that the attacks' own work does not show as their delays), then runs each attack and prints
what it cost: the studio's CPU and memory, the healthy viewer's longest gap and the probe's
latency beside the attack's own figures.

    python3 bench/abuse/abuse.py build/bin/abuse_studio [--only NAME,...]

With --cloud, the target is lumacast-cloud instead: one node, or with --nodes 3 three nodes over
a nats-server started here (the presenter on the last node, attacks and the healthy viewer on the
first, so the stream crosses NATS). The stream comes in through cloud_fanout_presenter, which
claims its room with a key of its own as a studio does. Both programs are taken from BIN_DIR.

    python3 bench/abuse/abuse.py --cloud build/bin [--nodes 3] [--tls] [--only NAME,...]

With --tls, the nodes serve https and wss (--tls-cert, --tls-key: a self-signed certificate made
here by openssl), and every viewer, probe and attacker speaks TLS to them. Its own rows:
tlsidle (connections that never send a ClientHello), tlsloris (a ClientHello a byte a second),
tlsflood (full handshakes from one address as fast as they go).

The cloud's own rows: squat, longname, questions, crowd, presenterpings, and two where the
presenter of a room attacks: bigvotes (4 MiB vote texts to 31 command viewers that never read,
from a second presenter in a room of its own; ownvotes, the same from the watched room's own
presenter) and
biggroup (a 15 MiB picture group, just under the join cache's bound, then 31 joiners that never
read), forgedproxy (PROXY headers from a client the nodes do not trust, each claiming another
address) and silentbalancer (connections from the trusted balancer address that never send
their header), and with Debian's haproxy installed balanced (viewers through haproxy with and
without PROXY headers).

The full-disk case mounts a small tmpfs in a private mount namespace (needs root).
"""

import asyncio
import base64
import json
import os
import random
import shutil
import ssl
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

PACKET = 188
CHUNKS_PER_SECOND = 24
PACKETS_PER_CHUNK = 31  # 31 * 188 * 8 * 24 = 1.12 Mbit/s, the studio's usual stream
# The fifth byte of every packet an attacker sends as a presenter; the healthy stream has 0 there.
FOREIGN = 0xEE
# lumacast-cloud's questions per address and node: a burst, then a rate.
CLOUD_QUESTION_BURST, CLOUD_QUESTIONS_PER_SECOND = 5, 0.5
# The cloud nodes believe PROXY headers from this address only (--balancer); every other row
# comes from elsewhere.
BALANCER = "127.0.0.250"
# lumacast-cloud's viewers per address in a room, and how long a balancer has for its header.
CLOUD_VIEWERS_PER_ADDRESS, CLOUD_HEADER_DEADLINE_S = 16, 2.0
# Set when the target serves TLS: what every client of the bench connects with.
TLS = None
HANDSHAKE = ("GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
             "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
             "Sec-WebSocket-Version: 13\r\n\r\n")


def client_frame(opcode, payload, masked=True):
    head = bytes([0x80 | opcode])
    size = len(payload)
    bit = 0x80 if masked else 0
    if size < 126:
        head += bytes([bit | size])
    elif size < 65536:
        head += bytes([bit | 126]) + struct.pack(">H", size)
    else:
        head += bytes([bit | 127]) + struct.pack(">Q", size)
    if not masked:
        return head + payload
    key = os.urandom(4)
    mask = (key * (size // 4 + 1))[:size]
    return head + key + (int.from_bytes(payload, "big") ^ int.from_bytes(mask, "big")).to_bytes(
        size, "big")


def server_frames(buffer):
    """Whole server frames at the start of buffer: (opcode, payload) list and bytes used."""
    frames, pos = [], 0
    while len(buffer) - pos >= 2:
        opcode, size = buffer[pos] & 0x0F, buffer[pos + 1] & 0x7F
        head = 2
        if size == 126:
            if len(buffer) - pos < 4:
                break
            size, head = struct.unpack(">H", buffer[pos + 2:pos + 4])[0], 4
        elif size == 127:
            if len(buffer) - pos < 10:
                break
            size, head = struct.unpack(">Q", buffer[pos + 2:pos + 10])[0], 10
        if len(buffer) - pos < head + size:
            break
        frames.append((opcode, buffer[pos + head:pos + head + size]))
        pos += head + size
    return frames, pos


async def open_ws(port, path, local="127.0.0.1", rcvbuf=None, prefix=b""):
    # A PROXY header comes before TLS, as a balancer sends it; the session starts after it.
    tls = {} if prefix and TLS else tls_options()
    sock = None
    if rcvbuf:
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        sock.bind((local, 0))
        sock.setblocking(False)
        await asyncio.get_running_loop().sock_connect(sock, ("127.0.0.1", port))
        reader, writer = await asyncio.open_connection(sock=sock, **tls)
    else:
        reader, writer = await asyncio.open_connection("127.0.0.1", port, local_addr=(local, 0),
                                                       **tls)
    try:
        if prefix and TLS:
            writer.write(prefix)
            await writer.start_tls(TLS, server_hostname="localhost")
            prefix = b""
        writer.write(prefix + HANDSHAKE.format(path=path).encode())
        response = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), 10)
        if not response.startswith(b"HTTP/1.1 101"):
            raise ConnectionError(response[:80])
    except BaseException:
        # As a browser does: a refused or unanswered attempt is not left holding its slot.
        writer.close()
        raise
    return reader, writer


async def http_get(port, path, local="127.0.0.1", timeout=10):
    reader, writer = await asyncio.wait_for(
        asyncio.open_connection("127.0.0.1", port, local_addr=(local, 0), **tls_options()),
        timeout)
    writer.write(b"GET " + path.encode() + b" HTTP/1.0\r\n\r\n")
    reply = await asyncio.wait_for(reader.read(), timeout)
    writer.close()
    return reply


def tls_options():
    return {"ssl": TLS, "server_hostname": "localhost"} if TLS else {}


def client_tls():
    """A client context that takes the bench's self-signed certificate."""
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


def question_path(name, msg):
    payload = json.dumps({"name": name, "msg": msg}, separators=(",", ":"))
    return "/feedback.php?raw=" + urllib.parse.quote(payload)


def percentile(values, share):
    if not values:
        return 0.0
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


# ---------------------------------------------------------------- the monitor process

async def monitor(http_port, ws_port, ingest_port, video_path, probe_path, probe_text):
    state = {"gaps": [], "last": None, "probes": [], "probe_failures": 0, "bad": 0,
             "foreign": 0, "messages": 0}

    async def send_stream():
        _, writer = await asyncio.open_connection("127.0.0.1", ingest_port)
        counter = 0
        start = time.monotonic()
        n = 0
        while True:
            chunk = bytearray()
            for _ in range(PACKETS_PER_CHUNK):
                chunk += bytes([0x47, 0x01, 0x00, 0x10 | (counter & 0x0F)]) + bytes(PACKET - 4)
                counter += 1
            writer.write(chunk)
            n += 1
            await asyncio.sleep(max(0, start + n / CHUNKS_PER_SECOND - time.monotonic()))

    async def watch():
        reader, _ = await open_ws(ws_port, video_path)
        buffer = b""
        while True:
            data = await reader.read(65536)
            if not data:
                state["bad"] += 1000000  # the healthy viewer was dropped
                return
            buffer += data
            frames, used = server_frames(buffer)
            buffer = buffer[used:]
            now = time.monotonic()
            for opcode, payload in frames:
                if opcode != 2:
                    continue
                if state["last"] is not None:
                    state["gaps"].append(now - state["last"])
                state["last"] = now
                state["messages"] += 1
                state["bad"] += sum(1 for i in range(0, len(payload), PACKET)
                                    if payload[i] != 0x47)
                state["foreign"] += sum(1 for i in range(4, len(payload), PACKET)
                                        if payload[i] == FOREIGN)

    async def probe():
        while True:
            started = time.monotonic()
            try:
                reply = await http_get(http_port, probe_path, timeout=5)
                if probe_text.encode() in reply:
                    state["probes"].append(time.monotonic() - started)
                else:
                    state["probe_failures"] += 1
            except Exception:
                state["probe_failures"] += 1
            await asyncio.sleep(max(0, 1 - (time.monotonic() - started)))

    async def commands():
        loop = asyncio.get_running_loop()
        reader = asyncio.StreamReader()
        await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
        while True:
            line = (await reader.readline()).decode().strip()
            if not line:
                os._exit(0)
            if line == "report":
                print(json.dumps({
                    "max_gap_ms": 1000 * max(state["gaps"], default=0),
                    "probe_p50_ms": 1000 * percentile(state["probes"], 0.5),
                    "probe_max_ms": 1000 * max(state["probes"], default=0),
                    "probe_failures": state["probe_failures"],
                    "bad_packets": state["bad"], "foreign_packets": state["foreign"],
                    "messages": state["messages"]}), flush=True)
            state.update(gaps=[], probes=[], probe_failures=0, bad=0, foreign=0, messages=0)

    tasks = [asyncio.create_task(t()) for t in (send_stream, watch, probe)]
    await asyncio.sleep(0.5)
    print("WATCHING", flush=True)
    await commands()
    for task in tasks:
        task.cancel()


# ---------------------------------------------------------------- the targets

class Target:
    """What every target offers the attacks: its process (`process`, whose CPU, memory and log
    are read) and where its viewers, pages and ingest are."""
    video_path, command_path = "/readvideo", "/cmdchannel"
    probe_path, probe_text = "/config.js", "maxAudioLag"
    stalled_viewers = 2000

    def status(self, field):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1]) * 1024
        return 0

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def log_bytes(self):
        self.log.flush()
        return os.path.getsize(self.log_path)


class Studio(Target):
    def __init__(self, exe, data_dir, web_dir, log_path, private_tmpfs=None):
        self.log_path = log_path
        env = dict(os.environ, XDG_DATA_HOME=data_dir, QT_QPA_PLATFORM="offscreen")
        command = [exe, str(random.randint(20000, 30000) * 2), web_dir]
        if private_tmpfs:
            command = ["unshare", "-m", "--propagation", "private", "sh", "-c",
                       f'mount -t tmpfs -o size={private_tmpfs} tmpfs "$0" && exec "$@"',
                       data_dir] + command
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.log, env=env)
        line = self.process.stdout.readline().decode().split()
        if not line or line[0] != "READY":
            raise RuntimeError(f"studio did not start: {line}")
        self.http, self.ws, self.ingest = (int(x) for x in line[1:4])

    def command(self, text):
        self.process.stdin.write(text.encode() + b"\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().decode().split()

    def kill9(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.log.close()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_log(path, text, process, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        with open(path, errors="replace") as log:
            if text in log.read():
                return
        time.sleep(0.05)
    raise RuntimeError(f"no '{text}' in {path}")


class Cloud(Target):
    """lumacast-cloud nodes with a presenter streaming into a room of its own key. The first node
    is the one attacked and measured; the presenter is on the last."""
    probe_path, probe_text = "/index.html", "<html>"
    stalled_viewers = 990  # a room's default limit is 1000 viewers

    def __init__(self, bin_dir, web_dir, work_dir, nodes, tls=False):
        self.children, self.work = [], work_dir
        cluster, self.tls_flags, self.certificate = [], [], None
        if tls:
            self.certificate = os.path.join(work_dir, "cert.pem")
            key = os.path.join(work_dir, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                            key, "-out", self.certificate, "-days", "1", "-subj", "/CN=localhost",
                            "-addext", "subjectAltName=DNS:localhost"], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.tls_flags = ["--tls-cert", self.certificate, "--tls-key", key]
        if nodes > 1:
            nats_port = free_port()
            nats_log = os.path.join(work_dir, "nats.log")
            nats = self.start(["nats-server", "-a", "127.0.0.1", "-p", str(nats_port)], nats_log)
            wait_for_log(nats_log, "Server is ready", nats)
            cluster = ["--nats", f"nats://127.0.0.1:{nats_port}"]
        self.ports, self.logs = [], []
        for i in range(nodes):
            self.logs.append(os.path.join(work_dir, f"cloud-{i}.log"))
            node = self.start([os.path.join(bin_dir, "lumacast-cloud"), "--listen", "127.0.0.1",
                               "--port", "0", "--web-dir", web_dir, "--balancer", BALANCER] +
                              cluster + self.tls_flags, self.logs[i],
                              stdout=subprocess.PIPE)
            words = node.stdout.readline().decode().split()
            if words[:2] != ["lumacast-cloud", "listening"]:
                raise RuntimeError(f"lumacast-cloud did not start, see {self.logs[i]}")
            self.ports.append(int(words[-1].rsplit(":", 1)[1]))
            if cluster:
                wait_for_log(self.logs[i], "NATS connected", node)
        self.process, self.log_path = self.children[-nodes], self.logs[0]
        self.log = open(self.log_path, "rb")  # flushed by the node itself; read for its size
        self.presenter_exe = os.path.join(bin_dir, "cloud_fanout_presenter")
        self.presenter, self.room, self.ingest = self.start_presenter(self.ports[-1],
                                                                      "presenter")
        self.http = self.ws = self.ports[0]
        self.video_path = f"/websocket/right/{self.room}/readvideo"
        self.command_path = f"/websocket/right/{self.room}/cmdchannel"

    def start_presenter(self, port, name):
        """A presenter of a key of its own on the node at `port`: process, room, ingest port."""
        server = f"https://localhost:{port}" if self.certificate else f"127.0.0.1:{port}"
        presenter = self.start([self.presenter_exe, server, "0"],
                               os.path.join(self.work, name + ".log"), stdout=subprocess.PIPE,
                               stdin=subprocess.PIPE,
                               env=dict(os.environ, LUMACAST_CLOUD_CA_FILE=self.certificate or ""))
        words = presenter.stdout.readline().decode().split()
        if not words or words[0] != "READY":
            raise RuntimeError(f"the presenter did not start: {words}")
        return presenter, words[1], int(words[2])

    def start(self, command, log_path, **pipes):
        with open(log_path, "wb") as log:
            child = subprocess.Popen(command, stderr=log, **pipes)
        self.children.append(child)
        return child

    def log_lines(self, text):
        with open(self.log_path, errors="replace") as log:
            return log.read().count(text)

    def stop(self):
        for child in reversed(self.children):  # the presenter first, nats-server last
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(10)
                except subprocess.TimeoutExpired:
                    child.kill()
        self.log.close()


class Monitor:
    def __init__(self, target):
        self.process = subprocess.Popen(
            [sys.executable, __file__, "--monitor", str(target.http), str(target.ws),
             str(target.ingest), target.video_path, target.probe_path, target.probe_text]
            + (["--tls"] if TLS else []), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        assert self.process.stdout.readline().strip() == b"WATCHING"

    def report(self):
        self.process.stdin.write(b"report\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def stop(self):
        self.process.stdin.close()
        self.process.wait()


def address(n):
    """The n-th loopback source address of the attackers, away from 127.0.0.1."""
    return f"127.{1 + n // 250}.{n % 250}.{1 + (n // 62500)}"


def crowd_address(i):
    # The studio caps connections per address; a crowd comes from many machines.
    return address(i // 16)


def line(name, figures, watched):
    print(f"{name:<22} {figures}")
    print(f"{'':<22} healthy viewer's longest gap {watched['max_gap_ms']:.0f} ms, "
          f"bad packets {watched['bad_packets']}, foreign {watched['foreign_packets']}; probe p50 {watched['probe_p50_ms']:.1f} ms, "
          f"max {watched['probe_max_ms']:.1f} ms, failed {watched['probe_failures']}",
          flush=True)


async def in_batches(job, count, size):
    """job(0) ... job(count - 1), `size` at a time."""
    for start in range(0, count, size):
        await asyncio.gather(*(job(i) for i in range(start, min(count, start + size))))


async def still_open(reader):
    try:
        return await asyncio.wait_for(reader.read(100), 0.05) != b""
    except asyncio.TimeoutError:
        return True
    except OSError:
        return False


def listen_overflows():
    """Connects the kernel dropped at a full listen queue, machine-wide (TcpExt ListenOverflows)."""
    with open("/proc/net/netstat") as netstat:
        names, values = [line.split() for line in netstat if line.startswith("TcpExt:")][:2]
    return int(values[names.index("ListenOverflows")])


async def lockout(studio, monitor):
    attackers = []
    overflows = listen_overflows()

    async def hold(port):
        try:
            attackers.append(await asyncio.open_connection("127.0.0.1", port,
                                                           local_addr=("127.0.0.2", 0)))
        except OSError:
            pass

    cpu = studio.cpu_seconds()
    started = time.monotonic()
    await asyncio.gather(*(hold(p) for p in [studio.http] * 1050 + [studio.ws] * 1050))
    served = []
    for _ in range(10):
        began = time.monotonic()
        try:
            reply = await http_get(studio.http, studio.probe_path, local="127.0.0.3", timeout=5)
            _, writer = await open_ws(studio.ws, studio.video_path, local="127.0.0.3")
            writer.close()
            served.append(time.monotonic() - began
                          if studio.probe_text.encode() in reply else 99)
        except Exception:
            served.append(99)
        for _, writer in attackers:
            if not writer.is_closing():
                writer.write(b"X-Slow: 1\r\n")
        await asyncio.sleep(1)
    cpu_share = (studio.cpu_seconds() - cpu) / (time.monotonic() - started)
    await asyncio.sleep(1)
    held = sum(await asyncio.gather(*(still_open(reader) for reader, _ in attackers)))
    for _, writer in attackers:
        writer.close()
    line("lockout (2x1050 conns)",
         f"another address served in {1000 * max(served):.0f} ms at worst; CPU "
         f"{100 * cpu_share:.1f} % during the attack; attacker sockets held {held}; connects "
         f"dropped at a full listen queue (whole machine) {listen_overflows() - overflows}",
         monitor.report())


async def stalled_viewers(studio, monitor):
    count = studio.stalled_viewers
    idle_rss = studio.status("VmRSS")
    viewers = []

    async def join(i):
        try:
            reader, writer = await open_ws(studio.ws, studio.video_path, local=crowd_address(i),
                                           rcvbuf=4096)
            writer.transport.pause_reading()
            viewers.append(writer)
        except Exception:
            pass

    await in_batches(join, count, 250)
    joined = len(viewers)
    peak = idle_rss
    for _ in range(100):
        peak = max(peak, studio.status("VmRSS"))
        await asyncio.sleep(0.1)
    after = studio.status("VmRSS")
    for writer in viewers:
        writer.close()
    line(f"stalled ({joined} viewers)",
         f"peak {(peak - idle_rss) / 2**20:.0f} MB above idle "
         f"({idle_rss / 2**20:.0f} MB); {(after - idle_rss) / 2**20:.0f} MB above it after the "
         f"drops", monitor.report())


async def post_questions(port, clients, per_client, acknowledged, failures, stop=None):
    async def client(c):
        for q in range(per_client):
            if stop and stop.is_set():
                return
            msg = f"c{c}-q{q}"
            try:
                reply = await http_get(port, question_path(f"viewer {c}", msg), timeout=10)
            except Exception:
                reply = b""
            if reply.endswith(b"\r\n\r\nOK"):
                acknowledged.append(msg)
            else:
                failures.append(reply.split(b"\r\n\r\n", 1)[-1].decode(errors="replace"))

    await asyncio.gather(*(client(c) for c in range(clients)))


async def kill_rounds(exe, web_dir, rounds=5):
    missing, total = [], 0
    for _ in range(rounds):
        with tempfile.TemporaryDirectory() as data:
            studio = Studio(exe, data, web_dir, os.path.join(data, "log"))
            acknowledged, failures = [], []
            stop = asyncio.Event()
            posting = asyncio.create_task(
                post_questions(studio.http, 20, 100000, acknowledged, failures, stop))
            await asyncio.sleep(random.uniform(1.0, 2.0))
            studio.kill9()
            stop.set()
            await posting
            db = sqlite3.connect(os.path.join(data, "Quillfen", "LumacastPRO", "database.db"))
            stored = {row[0] for row in db.execute("SELECT question FROM questions")}
            db.close()
            missing.append(sum(1 for m in acknowledged if m not in stored))
            total += len(acknowledged)
            studio.log.close()
    print(f"{'kill -9 (' + str(rounds) + ' rounds)':<22} {total} questions answered OK; "
          f"missing after the kill: {missing}", flush=True)


async def full_disk(exe, web_dir):
    with tempfile.TemporaryDirectory() as data:
        studio = Studio(exe, data, web_dir, os.path.join(tempfile.gettempdir(), "abuse-disk.log"),
                        private_tmpfs="256k")
        acknowledged, failures = [], []
        await post_questions(studio.http, 20, 100, acknowledged, failures)
        listed = json.loads((await http_get(studio.http, "/feedback_list.json")).split(
            b"\r\n\r\n", 1)[1])
        stored = {record["question"] for record in listed}
        lost = sum(1 for m in acknowledged if m not in stored)
        studio.stop()
    told = [f for f in failures if f]
    print(f"{'full disk (2000 posts)':<22} {len(acknowledged)} OK, {len(stored)} stored, "
          f"{lost} OK but not stored; {len(told)} told the failure"
          f" ({told[0] if told else '-'}), {len(failures) - len(told)} without a reply",
          flush=True)


# Pongs past what the kernel buffers on loopback (a few MB) and any cap of the target.
async def pinger(studio, monitor, pings=4000000, path=None, name="pings, never reads"):
    before = studio.status("VmRSS")
    peak = before
    reader, writer = await open_ws(studio.ws, path or studio.command_path, rcvbuf=4096)
    writer.transport.pause_reading()
    ping = client_frame(0x9, b"ping")
    sent = 0
    dropped = False
    while sent < pings and not dropped:
        writer.write(ping * 1000)
        sent += 1000
        try:
            await asyncio.wait_for(writer.drain(), 2)
        except (ConnectionError, asyncio.TimeoutError):
            dropped = True
        if sent % 20000 == 0:
            peak = max(peak, studio.status("VmRSS"))
    peak = max(peak, studio.status("VmRSS"))
    writer.transport.resume_reading()
    dropped = dropped or not await still_open(reader)
    writer.close()
    line(name,
         f"{'dropped' if dropped else 'still open'} after {sent} pings; memory "
         f"+{(peak - before) / 2**20:.1f} MB at peak", monitor.report())


async def presenter_pinger(cloud, monitor):
    # Before its claim: the socket needs no key to get its pings answered.
    await pinger(cloud, monitor, path="/websocket/left/" + cloud.room, name="presenter pings")


async def log_flood(studio, monitor):
    before = studio.log_bytes()
    _, writer = await open_ws(studio.ws, studio.command_path, local="127.0.0.4")
    message = client_frame(0x1, json.dumps({"command": "x", "pad": "x" * 4060}).encode())
    for _ in range(100):
        writer.write(message * 100)
        await writer.drain()
    await asyncio.sleep(1)
    writer.close()
    await asyncio.sleep(0.5)
    line("10k messages of 4 KB",
         f"{len(message) * 10000 / 2**20:.0f} MB sent, {(studio.log_bytes() - before) / 1024:.1f}"
         f" KB of log", monitor.report())


async def oversized(studio, monitor, mib=16):
    reader, writer = await open_ws(studio.ws, studio.command_path, local="127.0.0.6")
    writer.write(client_frame(0x1, b"x" * (mib << 20)))
    try:
        await asyncio.wait_for(writer.drain(), 10)
        closed = not await still_open(reader)
    except (ConnectionError, asyncio.TimeoutError):
        closed = True
    writer.close()
    line(f"one {mib} MiB message", "closed" if closed else "still open", monitor.report())


async def squat(cloud, monitor, addresses=20, tries=5):
    """Presenter sockets without the room's key, on the live room and on a room not yet opened:
    half send stream packets before their claim (with a key of their own), all send some after."""
    packet = bytes([0x47, 0x01, 0x00, 0x10, FOREIGN]) + bytes([FOREIGN]) * (PACKET - 5)
    fresh = os.urandom(8).hex() + "-" + os.urandom(16).hex()
    reasons, admitted = {}, 0

    async def claim(local, room, early):
        nonlocal admitted
        try:
            reader, writer = await open_ws(cloud.ws, "/websocket/left/" + room, local=local)
        except (OSError, ConnectionError, asyncio.TimeoutError):
            reasons["no handshake"] = reasons.get("no handshake", 0) + 1
            return
        if early:
            writer.write(client_frame(0x2, packet * 31))
        claim = json.dumps({"command": "presenter_claim",
                            "key": base64.b64encode(os.urandom(32)).decode(),
                            "signature": base64.b64encode(os.urandom(64)).decode()})
        writer.write(client_frame(0x1, claim.encode()) + client_frame(0x2, packet * 31))
        frames = await frames_until_closed(reader)
        writer.close()
        admitted += any(op == 1 and b"presenter_admitted" in p for op, p in frames)
        reason = close_reason(frames)
        reasons[reason] = reasons.get(reason, 0) + 1

    for _ in range(tries):
        await asyncio.gather(*(claim(address(4000 + a), (cloud.room, fresh)[a % 2], a % 4 < 2)
                               for a in range(addresses)))
    line(f"squat ({addresses * tries} claims)",
         f"admitted {admitted}; refused: {reasons}", monitor.report())


async def long_names(cloud, monitor, letters=5000):
    name = "a" * letters
    closures = cloud.log_lines("closed for good")
    question = await http_get(cloud.http, f"/feedback.php?room={name}&raw=" +
                              urllib.parse.quote('{"name":"n","msg":"m"}'), local="127.0.0.7")
    try:
        reader, writer = await open_ws(cloud.ws, f"/websocket/right/{name}/readvideo",
                                       local="127.0.0.7")
        viewer = "closed: " + close_reason(await frames_until_closed(reader))
        writer.close()
    except ConnectionError as refused:
        viewer = first_line(refused.args[0])
    line(f"room of {letters} letters",
         f"question: {first_line(question)}; viewer: {viewer}; NATS closed for good since: "
         f"{cloud.log_lines('closed for good') - closures}", monitor.report())


async def frames_until_closed(reader, timeout=10):
    data = b""
    try:
        while chunk := await asyncio.wait_for(reader.read(65536), timeout):
            data += chunk
    except (OSError, asyncio.TimeoutError):
        pass
    return server_frames(data)[0]


def close_reason(frames):
    for opcode, payload in frames:
        if opcode == 8:
            return payload[2:].decode(errors="replace") or f"code {payload[:2].hex()}"
    return "closed without a close frame"


async def newcomers(cloud, tag):
    """Seconds until a new presenter has its room (its process started and connected) and until
    a new viewer has its first picture."""
    began = time.monotonic()
    presenter, _, _ = cloud.start_presenter(cloud.ws, "newcomer-" + tag)
    room_seconds = time.monotonic() - began
    presenter.stdin.close()
    presenter.wait(10)
    began = time.monotonic()
    reader, writer = await open_ws(cloud.ws, cloud.video_path, local="127.0.0.9")
    while True:
        frames, _ = server_frames(await asyncio.wait_for(reader.read(65536), 10))
        if any(opcode == 2 for opcode, _ in frames):
            break
    writer.close()
    return room_seconds, time.monotonic() - began


async def hostile_crowd(cloud, monitor, addresses=32, per_address=32):
    """Every address holds what it can: half idle sockets that never send a request, half
    viewers that never read; meanwhile a new presenter and a new viewer come."""
    calm = await newcomers(cloud, "calm")
    held = []

    async def hold(i):
        local = address(5000 + i % addresses)
        try:
            if i % 2:
                _, writer = await asyncio.open_connection("127.0.0.1", cloud.ws,
                                                          local_addr=(local, 0))
                held.append(writer)
            else:
                _, writer = await open_ws(cloud.ws, cloud.video_path, local=local, rcvbuf=4096)
                writer.transport.pause_reading()
                held.append(writer)
        except (OSError, ConnectionError, asyncio.TimeoutError):
            pass

    await in_batches(hold, addresses * per_address, 256)
    attacked = await newcomers(cloud, "attacked")
    figures = (f"from {addresses} addresses; a new presenter had its room in "
               f"{1000 * attacked[0]:.0f} ms ({1000 * calm[0]:.0f} ms before), a new viewer its "
               f"first picture in {1000 * attacked[1]:.0f} ms ({1000 * calm[1]:.0f} ms before)")
    for writer in held:
        writer.close()
    line(f"crowd ({len(held)} held)", figures, monitor.report())


def proxy_header(client, client_port=40000):
    """A PROXY protocol v2 header (TCP over IPv4) naming `client` to 127.0.0.1:8089."""
    addresses = socket.inet_aton(client) + socket.inet_aton("127.0.0.1")
    block = addresses + struct.pack("!HH", client_port, 8089)
    return b"\r\n\r\n\x00\r\nQUIT\n\x21\x11" + struct.pack("!H", len(block)) + block


async def viewers_admitted(cloud, local, count, prefix=lambda i: b""):
    """Of `count` video viewers from `local` at once, each after `prefix(i)`, how many the room
    keeps; the kept ones are closed afterwards."""
    held = []

    async def join(i):
        try:
            reader, writer = await open_ws(cloud.ws, cloud.video_path, local=local,
                                           prefix=prefix(i))
            held.append((reader, writer))
        except (OSError, ConnectionError, asyncio.IncompleteReadError, asyncio.TimeoutError):
            pass

    await asyncio.gather(*(join(i) for i in range(count)))
    return await count_open(held)


async def forged_proxy(cloud, monitor, count=CLOUD_VIEWERS_PER_ADDRESS + 8):
    """A client that is not a trusted balancer sends PROXY headers claiming a new address on
    every connection: believed, each would be a new viewer address and the cap per address
    would never bite."""
    local = address(9000)
    forged = await viewers_admitted(
        cloud, local, count, lambda i: proxy_header(f"127.9.{i // 250}.{1 + i % 250}"))
    plain = await viewers_admitted(cloud, local, count)
    claimed = cloud.log_lines(" from 127.9.")
    figures = (f"from {local}: {forged} of {count} viewers with forged headers kept, "
               f"{plain} of {count} without (cap {CLOUD_VIEWERS_PER_ADDRESS}); "
               f"log lines naming a claimed address: {claimed}")
    line("forgedproxy", figures, monitor.report())


async def silent_balancer(cloud, monitor, count=300):
    """Connections from the trusted balancer's address that never send their header; then one
    that does, with a viewer behind it."""
    logged_before = cloud.log_lines("closing a connection from balancer")
    held = []

    async def hold(i):
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", cloud.ws,
                                                           local_addr=(BALANCER, 0))
            held.append((reader, writer, time.monotonic()))
        except OSError:
            pass

    await in_batches(hold, count, 100)

    async def closed_after(reader, opened):
        try:
            await asyncio.wait_for(reader.read(100), CLOUD_HEADER_DEADLINE_S + 10)
        except (OSError, asyncio.TimeoutError):
            pass
        return time.monotonic() - opened

    ends = sorted(await asyncio.gather(*(closed_after(r, t) for r, _, t in held)))
    for _, writer, _ in held:
        writer.close()
    at_once = sum(1 for e in ends if e < CLOUD_HEADER_DEADLINE_S / 2)
    late = [e for e in ends if e >= CLOUD_HEADER_DEADLINE_S / 2]
    honest = await viewers_admitted(cloud, BALANCER, 1,
                                    lambda i: proxy_header(address(9100)))
    logged = cloud.log_lines("closing a connection from balancer") - logged_before
    figures = (f"{len(held)} opened, {at_once} closed at once (over the waiting cap), "
               f"{len(late)} after {percentile(late, 0.5):.2f} s median, "
               f"{late[-1] if late else 0:.2f} s max; {logged} log lines; then a viewer "
               f"with its header kept: {honest} of 1")
    line("silentbalancer", figures, monitor.report())


async def through_haproxy(cloud, monitor, viewers=40):
    """Viewers, each from an address of its own, through Debian's haproxy in front of the node:
    once with PROXY headers from the trusted balancer address, once from a balancer the node does
    not trust and without headers, where all viewers have the balancer's address."""
    haproxy = shutil.which("haproxy") or "/usr/sbin/haproxy"
    if not os.path.exists(haproxy):
        print("balanced               skipped: haproxy is not installed", flush=True)
        return
    trusted, untrusted = free_port(), free_port()
    config = os.path.join(cloud.work, "haproxy.cfg")
    with open(config, "w") as out:
        out.write("defaults\n    mode tcp\n    timeout connect 3s\n    timeout client 1h\n"
                  "    timeout server 1h\n")
        for port, source, options in ((trusted, BALANCER, " send-proxy-v2"),
                                      (untrusted, "127.0.0.251", "")):
            out.write(f"listen l{port}\n    bind 127.0.0.1:{port}\n    source {source}\n"
                      f"    server node 127.0.0.1:{cloud.ws}{options}\n")
    balancer = subprocess.Popen([haproxy, "-db", "-f", config], stdout=subprocess.DEVNULL,
                                stderr=open(os.path.join(cloud.work, "haproxy.log"), "wb"))
    try:
        for port in (trusted, untrusted):
            while True:
                try:
                    socket.create_connection(("127.0.0.1", port), 1).close()
                    break
                except OSError:
                    await asyncio.sleep(0.05)
        kept = {}
        for port in (trusted, untrusted):
            held = []

            async def join(i):
                try:
                    held.append(await open_ws(port, cloud.video_path, local=address(9200 + i)))
                except (OSError, ConnectionError, asyncio.IncompleteReadError,
                        asyncio.TimeoutError):
                    pass

            await asyncio.gather(*(join(i) for i in range(viewers)))
            kept[port] = await count_open(held)
        figures = (f"{viewers} viewers from {viewers} addresses: {kept[trusted]} kept with "
                   f"send-proxy-v2 and --balancer, {kept[untrusted]} without (one address); "
                   f"refusals logged from {BALANCER} {cloud.log_lines(' from ' + BALANCER)}, "
                   f"from 127.0.0.251 {cloud.log_lines(' from 127.0.0.251')}")
    finally:
        balancer.terminate()
        balancer.wait(10)
    line("balanced", figures, monitor.report())


async def never_reading(target, path, count, first=7000):
    """`count` viewers on `path`, each from an address of its own, that never read."""
    held = []

    async def join(i):
        try:
            reader, writer = await open_ws(target.ws, path, local=address(first + i),
                                           rcvbuf=4096)
            writer.transport.pause_reading()
            held.append((reader, writer))
        except (OSError, ConnectionError, asyncio.TimeoutError):
            pass

    await in_batches(join, count, 64)
    return held


async def count_open(held):
    """How many of `held` the target has not closed (what the kernel buffered is read first);
    closes them all."""
    async def drained_open(reader):
        ends = time.monotonic() + 1
        try:
            while time.monotonic() < ends:
                if not await asyncio.wait_for(reader.read(65536), 1):
                    return False
        except asyncio.TimeoutError:
            pass
        except OSError:
            return False
        return True

    for _, writer in held:
        writer.transport.resume_reading()
    still = sum(await asyncio.gather(*(drained_open(reader) for reader, _ in held)))
    for _, writer in held:
        writer.close()
    return still


async def peak_for(target, seconds):
    peak = target.status("VmRSS")
    for _ in range(int(seconds * 10)):
        await asyncio.sleep(0.1)
        peak = max(peak, target.status("VmRSS"))
    return peak


async def big_votes(cloud, monitor, viewers=31, votes=10, own_room=False):
    """A presenter floods its command viewers that never read: vote texts of 4 MiB (all but the
    room for the message around them), then many at the presenter's text cap. By default the
    presenter of another room: the healthy viewer then shows the relay's own cost. With
    `own_room`, the healthy viewer's own presenter, whose uplink the 40 MiB hold up as well."""
    before = cloud.status("VmRSS")
    if own_room:
        attacker, room = cloud.presenter, cloud.room
    else:
        attacker, room, _ = cloud.start_presenter(cloud.ports[-1], "attacker")
    held = await never_reading(cloud, f"/websocket/right/{room}/cmdchannel", viewers)
    for command in (f"VOTE {(4 << 20) - 1024} {votes}\n", "VOTE 16000 400\n"):
        attacker.stdin.write(command.encode())
        attacker.stdin.flush()
        attacker.stdout.readline()  # one at a time: the presenter reads a line per turn
    peak = await peak_for(cloud, 5)
    still = await count_open(held)
    if not own_room:
        attacker.terminate()
        attacker.wait()
    whose = "the watched room's" if own_room else "another room's"
    line(f"4 MiB votes to {len(held)}",
         f"{votes} votes of 4 MiB and 400 of 16 KB from {whose} presenter to viewers "
         f"that never read; memory +{(peak - before) / 2**20:.1f} MB at peak; viewers still "
         f"open {still}", monitor.report())


async def big_group(cloud, monitor, mib=15, joiners=31):
    """One picture group of `mib` MiB into the presenter's ingest (a full picture, then the
    rest), then `joiners` video viewers that never read, each sent that group to start with."""
    before = cloud.status("VmRSS")
    _, writer = await asyncio.open_connection("127.0.0.1", cloud.ingest)
    # A video PES that opens an MPEG-1 sequence: the cloud's join cache restarts there.
    pes = bytes([0, 0, 1, 0xE0, 0, 0, 0x80, 0, 0, 0, 0, 1, 0xB3])
    opening = bytes([0x47, 0x41, 0x00, 0x10]) + pes + bytes(PACKET - 4 - len(pes))
    filler = bytes([0x47, 0x01, 0x00, 0x10]) + bytes(PACKET - 4)
    writer.write(opening)
    # At 3.7 MB/s, a pace the healthy viewer takes: the group, not a burst, is the attack.
    for _ in range((mib << 20) // PACKET // 1000):
        writer.write(filler * 1000)
        await writer.drain()
        await asyncio.sleep(0.05)
    await asyncio.sleep(1)
    held = await never_reading(cloud, cloud.video_path, joiners, first=7100)
    peak = await peak_for(cloud, 12)
    still = await count_open(held)
    writer.close()
    line(f"{mib} MiB group, {len(held)} join",
         f"memory +{(peak - before) / 2**20:.1f} MB at peak over 12 s; joiners still open "
         f"{still}", monitor.report())


async def question_flood(cloud, monitor, posts=200, parallel=20):
    answers = {}
    path = question_path("flood", "from one address").replace("?", f"?room={cloud.room}&")

    async def post(count):
        for _ in range(count):
            try:
                status = first_line(await http_get(cloud.http, path, local="127.0.0.8")).split()
                status = status[1] if len(status) > 1 else "no status"
            except (OSError, asyncio.TimeoutError):
                status = "no answer"
            answers[status] = answers.get(status, 0) + 1

    began = time.monotonic()
    await asyncio.gather(*(post(posts // parallel) for _ in range(parallel)))
    seconds = time.monotonic() - began
    # 200: the studio stored it; 503: passed on, the studio did not answer in time (the bench's
    # presenter stores nothing). 429 and connections closed before an answer never reach it.
    passed = answers.get("200", 0) + answers.get("503", 0)
    line(f"{posts} questions",
         f"from one address in {seconds:.1f} s: answers {answers}; passed to the studio (200 or "
         f"503) {passed}, the node's limit {CLOUD_QUESTION_BURST} + "
         f"{CLOUD_QUESTIONS_PER_SECOND}/s", monitor.report())


def client_hello():
    """The first flight of a TLS client: its ClientHello, made without a connection."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = client_tls().wrap_bio(incoming, outgoing, server_hostname="localhost")
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return outgoing.read()


async def open_plain(port, local):
    return await asyncio.open_connection("127.0.0.1", port, local_addr=(local, 0))


async def closed_after(reader, began, timeout=60):
    """Seconds from `began` until the target closes the connection; None if it never does."""
    try:
        while await asyncio.wait_for(reader.read(65536), timeout):
            pass
    except asyncio.TimeoutError:
        return None
    except OSError:
        pass
    return time.monotonic() - began


def spread(seconds):
    done = sorted(s for s in seconds if s is not None)
    if not done:
        return "none closed"
    return (f"{len(done)} closed, after {done[0]:.1f}-{done[-1]:.1f} s (median "
            f"{done[len(done) // 2]:.1f}); never closed {len(seconds) - len(done)}")


async def tls_idle(cloud, monitor, addresses=32, per_address=20):
    """TCP connections that never send a ClientHello, `per_address` from each address."""
    began = time.monotonic()
    opened = await asyncio.gather(*(open_plain(cloud.ws, address(4000 + i % addresses))
                                    for i in range(addresses * per_address)),
                                  return_exceptions=True)
    held = [o for o in opened if not isinstance(o, BaseException)]
    seconds = await asyncio.gather(*(closed_after(reader, began) for reader, _ in held))
    for _, writer in held:
        writer.close()
    line(f"tls idle ({len(held)})",
         f"{len(held)} connections from {addresses} addresses, no ClientHello: {spread(seconds)}",
         monitor.report())


async def tls_loris(cloud, monitor, connections=16):
    """Connections from one address that send their ClientHello a byte a second."""
    hello = client_hello()
    began = time.monotonic()
    held = [await open_plain(cloud.ws, "127.0.0.11") for _ in range(connections)]

    async def trickle(reader, writer):
        ends = asyncio.create_task(closed_after(reader, began))
        for byte in hello:
            if ends.done():
                break
            try:
                writer.write(bytes([byte]))
                await writer.drain()
            except OSError:
                break
            await asyncio.wait([ends], timeout=1)
        return await ends

    seconds = await asyncio.gather(*(trickle(r, w) for r, w in held))
    for _, writer in held:
        writer.close()
    line(f"tls loris ({connections})",
         f"{connections} ClientHellos of {len(hello)} bytes, a byte a second, from one address: "
         f"{spread(seconds)}", monitor.report())


async def tls_flood(cloud, monitor, seconds=10, parallel=32):
    """Full handshakes from one address, `parallel` at a time, for `seconds`."""
    counts = {"done": 0, "failed": 0}
    ends = time.monotonic() + seconds

    async def loop():
        while time.monotonic() < ends:
            try:
                _, writer = await asyncio.wait_for(asyncio.open_connection(
                    "127.0.0.1", cloud.ws, local_addr=("127.0.0.12", 0), ssl=TLS,
                    server_hostname="localhost"), 10)
                counts["done"] += 1
                writer.transport.abort()
            except (OSError, ssl.SSLError, asyncio.TimeoutError):
                counts["failed"] += 1

    cpu = cloud.cpu_seconds()
    await asyncio.gather(*(loop() for _ in range(parallel)))
    line(f"tls flood ({parallel})",
         f"{counts['done']} full handshakes in {seconds} s from one address "
         f"({counts['done'] / seconds:.0f}/s), {counts['failed']} refused or failed; the relay's "
         f"CPU {(cloud.cpu_seconds() - cpu) / seconds:.2f} s/s", monitor.report())


def first_line(reply):
    return reply.split(b"\r\n", 1)[0].decode(errors="replace")


async def mass_disconnect(studio, monitor, path, count=10000, server_closes=False):
    sockets = []

    async def join(i):
        try:
            reader, writer = await open_ws(studio.ws, path, local=crowd_address(i))
            sockets.append((reader, writer))
        except Exception:
            pass

    await in_batches(join, count, 500)
    monitor.report()  # the window starts with every socket open
    began = time.monotonic()
    if server_closes:
        await asyncio.gather(*(reader.read() for reader, _ in sockets))
    else:
        for _, writer in sockets:
            writer.transport.abort()
    await asyncio.sleep(3)
    what = "closed by the studio" if server_closes else "closed at once by the viewers"
    line(f"{len(sockets)} on {path}",
         f"{what}; done {time.monotonic() - began - (0 if server_closes else 3):.1f} s after",
         monitor.report())


async def never_handshake(studio, monitor, count=200):
    began = time.monotonic()
    idle = [await asyncio.open_connection("127.0.0.1", studio.ws,
                                          local_addr=(address(3000 + i), 0))
            for i in range(count)]
    await asyncio.wait_for(asyncio.gather(*(reader.read() for reader, _ in idle)), 60)
    line("no handshake", f"{count} idle connections closed {time.monotonic() - began:.1f} s "
         "after opening", monitor.report())


async def protocol_cases(studio, monitor):
    studio.command("vote")
    reader, writer = await open_ws(studio.ws, "/cmdchannel", local="127.0.0.5")
    await asyncio.sleep(0.2)
    writer.write(client_frame(0x1, b'{"command":"vote_result","result":"2"}', masked=False))
    data = b""
    while True:
        chunk = await asyncio.wait_for(reader.read(65536), 5)
        if not chunk:
            break
        data += chunk
    close = [p for op, p in server_frames(data)[0] if op == 8]
    code = struct.unpack(">H", close[0][:2])[0] if close else None
    tally = studio.command("tally")

    _, noise = await asyncio.open_connection("127.0.0.1", studio.ingest)
    noise.write(os.urandom(1 << 20))
    await noise.drain()
    await asyncio.sleep(1)
    noise.close()

    # json.dumps writes the lone surrogate as the escape \ud800, as a browser's JSON would.
    await http_get(studio.http, question_path("surrogate", "a\ud800b"))
    listed = json.loads((await http_get(studio.http, "/feedback_list.json")).split(
        b"\r\n\r\n", 1)[1])
    text = [r["question"] for r in listed if r["name"] == "surrogate"]
    line("protocol",
         f"unmasked frame: close code {code}, option 2 counted {tally[3]}; 1 MB random bytes to "
         f"ingest (bad packets below); question a\\ud800b stored as {ascii(text)}",
         monitor.report())


class Cost:
    """The target's CPU time, memory growth (peak, sampled every 0.1 s) and log growth over one
    case."""

    def __init__(self, target):
        self.target = target
        self.cpu, self.began = target.cpu_seconds(), time.monotonic()
        self.rss = self.peak = target.status("VmRSS")
        self.log = target.log_bytes()
        self.sampler = asyncio.create_task(self.sample())

    async def sample(self):
        while True:
            self.peak = max(self.peak, self.target.status("VmRSS"))
            await asyncio.sleep(0.1)

    def report(self, settled):
        """Prints the figures; `settled`, the seconds waited since the case ended."""
        self.sampler.cancel()
        seconds = time.monotonic() - self.began - settled
        cpu = self.target.cpu_seconds() - self.cpu
        print(f"{'':<22} cost: CPU {cpu:.1f} s in {seconds:.1f} s + {settled} s after, "
              f"memory +{(self.peak - self.rss) / 2**20:.0f} MB at peak, "
              f"+{(self.target.status('VmRSS') - self.rss) / 2**20:.0f} MB {settled} s after; log "
              f"+{(self.target.log_bytes() - self.log) / 1024:.1f} KB", flush=True)


async def run_cases(target, cases, only):
    watched = Monitor(target)
    await asyncio.sleep(2)
    line("baseline", "", watched.report())
    for name, case in cases.items():
        if not only or name in only:
            cost = Cost(target)
            await case(target, watched)
            await asyncio.sleep(2)
            cost.report(2)
            watched.report()
    watched.stop()


COMMON_CASES = {
    "lockout": lockout,
    "stalled": stalled_viewers,
    "pinger": pinger,
    "logflood": log_flood,
    "oversized": oversized,
    "handshake": never_handshake,
}


def web_folder():
    web_dir = tempfile.mkdtemp()
    open(os.path.join(web_dir, "index.html"), "w").write("<html></html>")
    return web_dir


async def main(exe, only):
    web_dir = web_folder()
    with tempfile.TemporaryDirectory() as data:
        studio = Studio(exe, data, web_dir, os.path.join(data, "studio.log"))
        await run_cases(studio, dict(COMMON_CASES, **{
            "unserved": lambda t, m: mass_disconnect(t, m, "/nothing", server_closes=True),
            "disconnect": lambda t, m: mass_disconnect(t, m, "/cmdchannel"),
            "protocol": protocol_cases,
        }), only)
        studio.stop()
    if not only or "kill" in only:
        await kill_rounds(exe, web_dir)
    if not only or "disk" in only:
        await full_disk(exe, web_dir)


async def main_cloud(bin_dir, nodes, tls, only):
    global TLS
    TLS = client_tls() if tls else None
    with tempfile.TemporaryDirectory() as work:
        cloud = Cloud(bin_dir, web_folder(), work, nodes, tls)
        print(f"lumacast-cloud, {nodes} node(s){', TLS' if tls else ''}; room {cloud.room}",
              flush=True)
        tls_cases = dict(tlsidle=tls_idle, tlsloris=tls_loris, tlsflood=tls_flood) if tls else {}
        try:
            await run_cases(cloud, dict(COMMON_CASES, **tls_cases, squat=squat,
                                        longname=long_names,
                                                  questions=question_flood,
                                                  crowd=hostile_crowd,
                                                  presenterpings=presenter_pinger,
                                                  bigvotes=big_votes,
                                                  ownvotes=lambda c, m: big_votes(
                                                      c, m, own_room=True),
                                                  biggroup=big_group,
                                                  forgedproxy=forged_proxy,
                                                  silentbalancer=silent_balancer,
                                                  balanced=through_haproxy), only)
        finally:
            cloud.stop()


if __name__ == "__main__":
    if len(sys.argv) in (8, 9) and sys.argv[1] == "--monitor":
        TLS = client_tls() if sys.argv[8:] == ["--tls"] else None
        asyncio.run(monitor(*(int(x) for x in sys.argv[2:5]), *sys.argv[5:8]))
    elif len(sys.argv) >= 2:
        def option(name, default):
            return sys.argv[sys.argv.index(name) + 1] if name in sys.argv else default
        selected = [n for n in option("--only", "").split(",") if n]
        if "--cloud" in sys.argv:
            asyncio.run(main_cloud(option("--cloud", ""), int(option("--nodes", "1")),
                                   "--tls" in sys.argv, selected))
        else:
            asyncio.run(main(sys.argv[1], selected))
    else:
        print(__doc__)
        sys.exit(2)
