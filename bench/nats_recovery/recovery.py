#!/usr/bin/env python3
"""How long a lumacast-cloud node is off NATS after the server ends its connection for good.

Starts a nats-server and one lumacast-cloud node on free loopback ports, the node's NATS
connection passing through a forwarder of this script's. Each trial writes to the node what a
NATS server sends before it closes a connection whose control line was too long; the node's
client gives that connection up for good. Printed per trial: the time from the error to the
node's "closed for good" line and to its "NATS connected" line, then the largest of them.

    python3 bench/nats_recovery/recovery.py build/bin/lumacast-cloud [--trials N]

The trials are spaced past the node's 10 s "stable connection" mark, so each starts from the
shortest wait; on a shared machine the figures are noisy.
"""

import argparse
import asyncio
import os
import socket
import subprocess
import tempfile
import time

ERROR = b"-ERR 'Maximum Control Line Exceeded'\r\n"
CONNECTED = "NATS connected"
CLOSED = "closed this node's connection for good"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Forwarder:
    """Relays the node's NATS connections to the server; can write to the node's side."""

    def __init__(self, target):
        self.target = target
        self.clients = []

    async def start(self):
        self.server = await asyncio.start_server(self.accept, "127.0.0.1", 0)
        return self.server.sockets[0].getsockname()[1]

    async def accept(self, reader, writer):
        try:
            up_reader, up_writer = await asyncio.open_connection("127.0.0.1", self.target)
        except OSError:
            writer.close()  # the server is not up yet: the node tries again
            return
        self.clients.append(writer)

        async def pipe(source, sink):
            try:
                while data := await source.read(65536):
                    sink.write(data)
                    await sink.drain()
            except (ConnectionError, OSError):
                pass
            sink.close()

        try:
            await asyncio.gather(pipe(reader, up_writer), pipe(up_reader, writer))
        except asyncio.CancelledError:
            pass  # the benchmark ends
        self.clients.remove(writer)

    def send_to_clients(self, data):
        for writer in self.clients:
            writer.write(data)


async def wait_for_line(log_path, text, after, timeout=30):
    """Seconds from `after` (time.monotonic()) until the log has one more line with `text`."""
    with open(log_path, encoding="utf-8", errors="replace") as log:
        before = log.read().count(text)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(log_path, encoding="utf-8", errors="replace") as log:
            if log.read().count(text) > before:
                return time.monotonic() - after
        await asyncio.sleep(0.005)
    raise TimeoutError(text)


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cloud")
    parser.add_argument("--trials", type=int, default=3)
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="nats-recovery-")
    nats_port = free_port()
    nats = subprocess.Popen(["nats-server", "-a", "127.0.0.1", "-p", str(nats_port)],
                            stderr=open(os.path.join(workdir, "nats.log"), "w"))
    forwarder = Forwarder(nats_port)
    port = await forwarder.start()
    log_path = os.path.join(workdir, "node.log")
    node = subprocess.Popen([args.cloud, "--listen", "127.0.0.1", "--port", "0", "--nats",
                             f"nats://127.0.0.1:{port}"], stdout=subprocess.DEVNULL,
                            stderr=open(log_path, "w"))
    try:
        while not forwarder.clients or CONNECTED not in open(log_path).read():
            await asyncio.sleep(0.01)
        worst = 0.0
        for trial in range(args.trials):
            # Past the 10 s mark: the node's wait starts again from its shortest.
            await asyncio.sleep(10.5)
            sent = time.monotonic()
            closed_task = asyncio.create_task(wait_for_line(log_path, CLOSED, sent))
            back_task = asyncio.create_task(wait_for_line(log_path, CONNECTED, sent))
            await asyncio.sleep(0)
            forwarder.send_to_clients(ERROR)
            closed, back = await closed_task, await back_task
            worst = max(worst, back)
            print(f"trial {trial + 1}: closed for good after {closed * 1000:.0f} ms, "
                  f"connected again after {back * 1000:.0f} ms", flush=True)
        print(f"longest time off NATS: {worst * 1000:.0f} ms over {args.trials} trials")
    finally:
        forwarder.server.close()
        node.terminate()
        node.wait()
        nats.terminate()
        nats.wait()


asyncio.run(main())
