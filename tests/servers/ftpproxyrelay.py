#!/usr/bin/python3
"""A small FTP proxy for tests: the client logs in to it, names the server, and the proxy relays.

It listens on a free port of 127.0.0.1 and prints "PORT <n>" once it accepts connections. Every
command a client sends is appended, exactly as received, to the --log file (one line each), so a
test can check the log-in dialogue. It runs until it is killed.

    /usr/bin/python3 tests/servers/ftpproxyrelay.py --kind user|site|open --log FILE
        [--proxy-user NAME --proxy-password PASSWORD]

The three kinds, as firewalls commonly take them:
    user   USER name@host[:port], then PASS goes on to the server
    site   SITE host[:port], then USER and PASS go on to the server
    open   OPEN host[:port], then USER and PASS go on to the server
With --proxy-user the client first logs in to the proxy itself with USER and PASS.

After that the proxy relays the control connection; EPSV and PASV replies are rewritten to a port
of the proxy, which relays that data connection. Only plain FTP, only 127.0.0.1.
"""

import argparse
import re
import socket
import sys
import threading


def parse_arguments():
    parser = argparse.ArgumentParser(description="FTP proxy for Parcelup's tests")
    parser.add_argument("--kind", choices=["user", "site", "open"], required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--proxy-user", default=None)
    parser.add_argument("--proxy-password", default=None)
    return parser.parse_args()


class Lines:
    """CR LF lines from a socket."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def line(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.rstrip(b"\r").decode("utf-8", "replace")

    def reply(self):
        """One complete reply, multi-line replies joined: (code, [lines])."""
        first = self.line()
        if first is None:
            return None, []
        lines = [first]
        if len(first) > 3 and first[3] == "-":
            code = first[:3]
            while True:
                more = self.line()
                if more is None:
                    break
                lines.append(more)
                if more.startswith(code + " "):
                    break
        return int(first[:3]), lines


def send(sock, *lines):
    sock.sendall("".join(line + "\r\n" for line in lines).encode("utf-8"))


def pipe(source, target):
    """Copies until the source ends, then passes the end on (half-close)."""
    try:
        while True:
            chunk = source.recv(65536)
            if not chunk:
                break
            target.sendall(chunk)
    except OSError:
        pass
    try:
        target.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def relay_data(listener, server_port):
    """Takes one client data connection and joins it with the server's data port."""
    try:
        listener.settimeout(60)
        client, _ = listener.accept()
    except OSError:
        return
    finally:
        listener.close()
    server = socket.create_connection(("127.0.0.1", server_port))
    upstream = threading.Thread(target=pipe, args=(client, server), daemon=True)
    upstream.start()
    pipe(server, client)
    upstream.join()
    client.close()
    server.close()


class Session:
    def __init__(self, client, options, log_lock):
        self.client = client
        self.client_lines = Lines(client)
        self.options = options
        self.log_lock = log_lock
        self.server = None
        self.pending_passive = None  # "EPSV" or "PASV" while its reply is awaited

    def log(self, line):
        with self.log_lock, open(self.options.log, "a", encoding="utf-8") as log:
            log.write(line + "\n")

    def command(self):
        line = self.client_lines.line()
        if line is not None:
            self.log(line)
        return line

    def connect_server(self, target):
        match = re.fullmatch(r"(?:\[([^\]]+)\]|([^:]+))(?::(\d+))?", target)
        if not match:
            return False
        host = match.group(1) or match.group(2)
        port = int(match.group(3) or 21)
        if host not in ("127.0.0.1", "localhost"):
            return False  # a test relay never leaves the machine
        self.server = socket.create_connection(("127.0.0.1", port))
        self.server_lines = Lines(self.server)
        code, _ = self.server_lines.reply()  # the server's greeting
        return code == 220

    def log_in_to_proxy(self):
        if not self.options.proxy_user:
            return True
        while True:
            line = self.command()
            if line is None:
                return False
            verb, _, argument = line.partition(" ")
            verb = verb.upper()
            if verb == "FEAT":
                send(self.client, "211-Features:", " UTF8", "211 End")
            elif verb == "USER" and argument == self.options.proxy_user:
                send(self.client, "331 Proxy password please.")
                password = self.command()
                if password == "PASS " + (self.options.proxy_password or ""):
                    send(self.client, "230 Logged in to the proxy.")
                    return True
                send(self.client, "530 Proxy log-in refused.")
            else:
                send(self.client, "530 Log in to the proxy first.")

    def choose_server(self):
        kind = self.options.kind
        while True:
            line = self.command()
            if line is None:
                return False
            verb, _, argument = line.partition(" ")
            verb = verb.upper()
            if verb == "FEAT":
                send(self.client, "211-Features:", " UTF8", "211 End")
            elif kind == "user" and verb == "USER" and "@" in argument:
                user, _, target = argument.rpartition("@")
                if not self.connect_server(target):
                    send(self.client, "530 Cannot reach " + target + ".")
                    continue
                send(self.server, "USER " + user)
                code, lines = self.server_lines.reply()
                send(self.client, *lines)
                return True
            elif kind in ("site", "open") and verb == kind.upper() and argument:
                if not self.connect_server(argument):
                    send(self.client, "530 Cannot reach " + argument + ".")
                    continue
                send(self.client, "220 Connected to " + argument + ".")
                return True
            else:
                send(self.client, "530 Name the server first.")

    def server_to_client(self):
        while True:
            code, lines = self.server_lines.reply()
            if code is None:
                break
            if self.pending_passive and code in (227, 229):
                lines = [self.rewrite_passive(code, lines[0])]
            if code >= 200:
                self.pending_passive = None
            send(self.client, *lines)
        self.client.close()

    def rewrite_passive(self, code, line):
        if code == 229:
            server_port = int(re.search(r"\(\|\|\|(\d+)\|\)", line).group(1))
        else:
            numbers = re.search(r"(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)", line).groups()
            server_port = int(numbers[4]) * 256 + int(numbers[5])
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        threading.Thread(target=relay_data, args=(listener, server_port), daemon=True).start()
        if code == 229:
            return "229 Entering Extended Passive Mode (|||%d|)" % port
        return "227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port // 256, port % 256)

    def run(self):
        try:
            send(self.client, "220 Parcelup test FTP proxy ready.")
            if not self.log_in_to_proxy() or not self.choose_server():
                return
            threading.Thread(target=self.server_to_client, daemon=True).start()
            while True:
                line = self.command()
                if line is None:
                    break
                verb = line.partition(" ")[0].upper()
                if verb in ("EPSV", "PASV"):
                    self.pending_passive = verb
                send(self.server, line)
        except OSError:
            pass
        finally:
            self.client.close()
            if self.server:
                self.server.close()


def main():
    options = parse_arguments()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    log_lock = threading.Lock()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=Session(client, options, log_lock).run, daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
