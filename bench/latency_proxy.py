#!/usr/bin/env python3
"""A loopback TCP proxy that delays every byte by a fixed time in each direction.

    bench/latency_proxy.py --to PORT [--delay-ms 0.5] [--port 0] [--timeout 3600]

Listens on 127.0.0.1 (a free port unless --port), prints the port on the first
line of stdout and forwards each connection to 127.0.0.1:PORT. Data read in
either direction is written on after --delay-ms, keeping its order and without
holding back what follows it, so a round trip costs twice the delay and
pipelined requests stay pipelined. Exits after --timeout seconds, or when
stdin closes (so it ends with the process that started it).
Python 3 standard library only.
"""

import argparse
import collections
import os
import select
import socket
import sys
import threading
import time


def pipe(source, sink, delay):
    """Copies source to sink, each piece written delay seconds after it was read. A reader thread stamps the
    pieces, this thread writes them when due (time.sleep is finer than an event loop's millisecond timers)."""
    pieces = collections.deque()
    ready = threading.Condition()

    def read():
        while True:
            try:
                data = source.recv(65536)
            except OSError:
                data = b""
            with ready:
                pieces.append((time.monotonic() + delay, data))
                ready.notify()
            if not data:
                return

    threading.Thread(target=read, daemon=True).start()
    while True:
        with ready:
            while not pieces:
                ready.wait()
            due, data = pieces.popleft()
        wait = due - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        if not data:
            break
        try:
            sink.sendall(data)
        except OSError:
            break
    try:
        sink.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def forward(client, port, delay):
    try:
        server = socket.create_connection(("127.0.0.1", port))
    except OSError:
        client.close()
        return
    for s in (client, server):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    back = threading.Thread(target=pipe, args=(server, client, delay), daemon=True)
    back.start()
    pipe(client, server, delay)
    back.join()
    client.close()
    server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--to", type=int, required=True, help="port on 127.0.0.1 to forward to")
    parser.add_argument("--delay-ms", type=float, default=0.5, help="delay in each direction (default 0.5)")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (default: a free one)")
    parser.add_argument("--timeout", type=float, default=3600, help="seconds before the proxy ends")
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    ends = time.monotonic() + args.timeout
    while time.monotonic() < ends:
        readable, _, _ = select.select([listener, sys.stdin], [], [], min(1.0, max(0.0, ends - time.monotonic())))
        if sys.stdin in readable and not os.read(sys.stdin.fileno(), 4096):
            break
        if listener in readable:
            client, _ = listener.accept()
            threading.Thread(target=forward, args=(client, args.to, args.delay_ms / 1000.0), daemon=True).start()
    return 0


if __name__ == "__main__":
    sys.exit(main())
