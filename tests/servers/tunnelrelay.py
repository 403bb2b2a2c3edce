#!/usr/bin/python3
"""A tunnelling proxy for tests that ends tunnels the way many relays do, and records how each ended.

It takes SOCKS5 CONNECT requests (no authentication) and HTTP CONNECT requests on a free port of
127.0.0.1, prints "PORT <n>" once it accepts connections, and connects only to 127.0.0.1. It runs
until it is killed.

    /usr/bin/python3 tests/servers/tunnelrelay.py --log FILE [--hold-ms N]

A tunnel is relayed in both directions until one side ends its stream (FIN). Then the proxy
passes on what it still holds for the other side and closes both connections, as tinyproxy does:
it does not wait for the other side to end too. Whatever that side sends afterwards meets a closed
socket, and the kernel resets that connection; a reset makes the receiver drop what it has not read
yet. A client that ends its stream before the server has ended its own therefore risks the end of
its upload.

--hold-ms N keeps every piece from the client for N ms before passing it on, as a slow way to the
server would. The server then reads the end of a TLS handshake late and sends its session tickets
late, after a quick client has sent the whole file.

Every tunnel appends one line to the --log file when it ends:
    <target port> <bytes client to server> <bytes server to client> <client|server>
the last word naming the side that ended its stream first.
"""

import argparse
import collections
import select
import socket
import struct
import sys
import threading
import time

LOCAL = "127.0.0.1"


def parse_arguments():
    parser = argparse.ArgumentParser(description="Tunnelling proxy for Parcelup's tests")
    parser.add_argument("--log", required=True)
    parser.add_argument("--hold-ms", type=int, default=0)
    return parser.parse_args()


def receive_exactly(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError("the client left during the proxy request")
        data += chunk
    return data


def socks5_target(client, first):
    """The SOCKS5 greeting and CONNECT request; returns (host, port) or None after a refusal."""
    methods = receive_exactly(client, receive_exactly(client, 1)[0])
    if 0 not in methods:
        client.sendall(b"\x05\xff")
        return None
    client.sendall(b"\x05\x00")
    version, command, _, address_type = receive_exactly(client, 4)
    if address_type == 1:
        host = socket.inet_ntop(socket.AF_INET, receive_exactly(client, 4))
    elif address_type == 3:
        host = receive_exactly(client, receive_exactly(client, 1)[0]).decode("ascii", "replace")
    elif address_type == 4:
        host = socket.inet_ntop(socket.AF_INET6, receive_exactly(client, 16))
    else:
        host = None
    (port,) = struct.unpack("!H", receive_exactly(client, 2))
    if version != 5 or command != 1 or host not in (LOCAL, "localhost"):
        client.sendall(b"\x05\x02\x00\x01\x00\x00\x00\x00\x00\x00")
        return None
    return (LOCAL, port)


def socks5_confirm(client, server):
    address, port = server.getsockname()[:2]
    client.sendall(b"\x05\x00\x00\x01" + socket.inet_aton(address) + struct.pack("!H", port))


def http_target(client, first):
    """The CONNECT request and its header lines; returns (host, port) or None after a refusal."""
    request = first
    while b"\r\n\r\n" not in request:
        chunk = client.recv(4096)
        if not chunk:
            return None
        request += chunk
    words = request.split(b"\r\n", 1)[0].decode("ascii", "replace").split()
    if len(words) != 3 or words[0] != "CONNECT":
        client.sendall(b"HTTP/1.1 405 Only CONNECT\r\n\r\n")
        return None
    host, _, port = words[1].rpartition(":")
    if host.strip("[]") not in (LOCAL, "localhost") or not port.isdigit():
        client.sendall(b"HTTP/1.1 403 Only 127.0.0.1\r\n\r\n")
        return None
    return (LOCAL, int(port))


def http_confirm(client, server):
    client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")


class Tunnel:
    def __init__(self, client, server, hold, log):
        self.client = client
        self.server = server
        self.hold = hold
        self.log = log
        self.held = collections.deque()  # (due, bytes) from the client for the server
        self.upstream = 0
        self.downstream = 0

    def pass_on_due(self, everything=False):
        now = time.monotonic()
        while self.held and (everything or self.held[0][0] <= now):
            self.server.sendall(self.held.popleft()[1])

    def run(self):
        ended_first = None
        try:
            while ended_first is None:
                timeout = None
                if self.held:
                    timeout = max(0.0, self.held[0][0] - time.monotonic())
                readable, _, _ = select.select([self.client, self.server], [], [], timeout)
                if self.server in readable:
                    data = self.server.recv(65536)
                    if not data:
                        ended_first = "server"
                        break
                    self.downstream += len(data)
                    self.client.sendall(data)
                if self.client in readable:
                    data = self.client.recv(65536)
                    if not data:
                        ended_first = "client"
                        break
                    self.upstream += len(data)
                    self.held.append((time.monotonic() + self.hold, data))
                self.pass_on_due()
            # What is held still goes on, then both connections close at once.
            self.pass_on_due(everything=True)
        except OSError:
            ended_first = ended_first or "reset"
        finally:
            for sock in (self.client, self.server):
                try:
                    sock.close()
                except OSError:
                    pass
        self.log(f"{self.server_port} {self.upstream} {self.downstream} {ended_first}")


def serve_one(client, hold, log):
    try:
        client.settimeout(30)
        first = receive_exactly(client, 1)
        socks = first == b"\x05"
        target = socks5_target(client, first) if socks else http_target(client, first)
        if target is None:
            client.close()
            return
        server = socket.create_connection(target, timeout=30)
        (socks5_confirm if socks else http_confirm)(client, server)
        client.settimeout(None)
        server.settimeout(None)
        tunnel = Tunnel(client, server, hold, log)
        tunnel.server_port = target[1]
        tunnel.run()
    except OSError:
        client.close()


def main():
    options = parse_arguments()
    lock = threading.Lock()

    def log(line):
        with lock, open(options.log, "a", encoding="utf-8") as file:
            file.write(line + "\n")

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((LOCAL, 0))
    listener.listen(16)
    print(f"PORT {listener.getsockname()[1]}", flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(
            target=serve_one, args=(client, options.hold_ms / 1000.0, log), daemon=True
        ).start()


if __name__ == "__main__":
    sys.exit(main())
