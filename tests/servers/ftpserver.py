#!/usr/bin/python3
"""A small FTP server for tests and measurements.

Serves one user with full rights in one folder, on a free port of a loopback address, and prints
"PORT <n>" on one line of standard output as soon as it accepts connections. It runs until it is
killed.

    /usr/bin/python3 tests/servers/ftpserver.py --root DIR --user U --password P
        [--bind 127.0.0.1 | --bind ::1] [--port N]   (default: a free port)
        [--throttle BYTES_PER_SECOND]   limit the data connection in both directions
        [--delay SECONDS]               wait before every reply and before taking each data
                                        connection, like a server far away
        [--active refuse|ignore]        refuse PORT and EPRT, or accept them and never connect,
                                        like a server behind a firewall that blocks active mode
        [--refuse-epsv]                 refuse EPSV, like a server that only knows PASV
        [--pasv-address ADDRESS]        name this address in PASV replies, like a server behind
                                        NAT that announces an address the client cannot reach
        [--tls CERT KEY]                offer explicit FTP over TLS (AUTH TLS) with this
                                        certificate and key (PEM files); needs python3-openssl
        [--tls-required]                with --tls: refuse log-ins and data connections without TLS
        [--fault 'COMMAND[#N]=ACTION' ...]
                                        misbehave at a chosen command: COMMAND is a verb ("RETR")
                                        or a verb with its argument ("CWD .."), #N its N-th
                                        occurrence on the server (every one without #N); ACTION is
                                        for example "stall" (never answer, the connection stays
                                        open) or "reply CODE TEXT" (answer this instead of
                                        acting). Every action is described, and implemented, in
                                        tests/servers/faultyftpserver.py
        [--fake-auth refuse|hang-up]    list AUTH TLS in FEAT without having a certificate, and
                                        answer AUTH TLS with "500 This security scheme is not
                                        implemented" (like a server built with TLS but run
                                        without a certificate), or with 234 and then hang up
                                        instead of the handshake (a broken or attacked server)
        [--ignore-case]                 find names without regard to case, like a server whose
                                        file system does not tell case apart
        [--command-log FILE]            append every command received to FILE, one a line (the
                                        password as "PASS ******"), "# logged in, N at once" after
                                        a log-in and "# closed" when a session ends, so a test can
                                        see what crossed the wire
        [--transfer-log FILE]           append a line for every upload (STOR, APPE) to FILE when
                                        its data connection ends, with the bytes it received and
                                        whether it completed, in the wu-ftpd xferlog format that
                                        vsftpd writes too
        [--refuse-rename-onto-existing] answer RNTO "550 Cannot create a file when that file
                                        already exists." when its name is taken (as servers on
                                        Windows file systems do), rename otherwise
        [--refuse-store-restart]        accept REST, but answer a STOR after it "451 NAME:
                                        Append/Restart not permitted, try again" (ProFTPD's answer
                                        without AllowStoreRestart)
        [--refuse-append]               answer APPE onto an existing file the same way; with the
                                        option above this is ProFTPD's default
        [--refuse-paths]                answer a command that names a path instead of a name in
                                        the current folder ("STOR a/b.html", "CWD a/b") "553
                                        Requested action not taken. File name not allowed.", as
                                        servers do that take names only
        [--max-logins N]                refuse the log-in of one session more than N at once
                                        with "530 Sorry, the maximum number of clients (N) for
                                        this user are already connected.", as shared hosts do

Needs pyftpdlib (Debian: python3-pyftpdlib); run it with /usr/bin/python3.
"""

import argparse
import logging
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, DTPHandler, FTPHandler, PassiveDTP, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer, ThreadedFTPServer


def parse_arguments():
    parser = argparse.ArgumentParser(description="FTP server for Parcelup's tests")
    parser.add_argument("--root", required=True, help="folder the user sees as /")
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--bind", default="127.0.0.1", help="loopback address to listen on")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--throttle", type=int, default=0, metavar="BYTES_PER_SECOND")
    parser.add_argument("--delay", type=float, default=0.0, metavar="SECONDS")
    parser.add_argument("--active", choices=["allow", "refuse", "ignore"], default="allow")
    parser.add_argument("--refuse-epsv", action="store_true")
    parser.add_argument("--pasv-address", default=None, metavar="ADDRESS")
    parser.add_argument("--tls", nargs=2, default=None, metavar=("CERT", "KEY"))
    parser.add_argument("--tls-required", action="store_true")
    parser.add_argument("--fault", action="append", default=[], metavar="COMMAND[#N]=ACTION")
    parser.add_argument("--fake-auth", choices=["refuse", "hang-up"], default=None)
    parser.add_argument("--ignore-case", action="store_true")
    parser.add_argument("--command-log", default=None, metavar="FILE")
    parser.add_argument("--transfer-log", default=None, metavar="FILE")
    parser.add_argument("--refuse-rename-onto-existing", action="store_true")
    parser.add_argument("--refuse-store-restart", action="store_true")
    parser.add_argument("--refuse-append", action="store_true")
    parser.add_argument("--refuse-paths", action="store_true")
    parser.add_argument("--max-logins", type=int, default=0, metavar="N")
    options = parser.parse_args()
    if options.fake_auth and options.tls:
        parser.error("--fake-auth stands for a server without a certificate: not with --tls")
    return options


def fault_layer():
    """tests/servers/faultyftpserver.py, which owns every --fault action and --ignore-case."""
    # Its neighbour in this folder; the folder is on the path when this file runs as a script,
    # but not when the fault layer itself started and imported this one.
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import faultyftpserver

    return faultyftpserver


def misbehaving_class(options):
    return lambda handler: fault_layer().misbehaving(handler, options)


def data_handler_class(options):
    """The handler of the data connection: throttled when asked to."""
    if options.tls:
        from pyftpdlib.handlers import TLS_DTPHandler

        if options.throttle > 0:
            raise SystemExit("--throttle and --tls cannot be combined")
        if options.delay <= 0:
            return TLS_DTPHandler

        class WaitsForItsCommand(TLS_DTPHandler):
            # pyftpdlib takes a data connection that has something to read before its transfer
            # command was processed for one the client closed, and closes it. A client starts the
            # TLS handshake as soon as the connection is up, and --delay holds the STOR back by
            # the delay while the handshake arrives at once: the connection waits for its command
            # instead, as it would on a server that is only far away.
            def readable(self):
                if self._ssl_accepting:
                    return True
                if not self.receive and not self._initialized:
                    return False
                return super().readable()

        return WaitsForItsCommand
    if options.throttle <= 0:
        return DTPHandler

    class Throttled(ThrottledDTPHandler):
        read_limit = options.throttle
        write_limit = options.throttle

    return Throttled


def passive_class(options):
    if options.delay <= 0:
        return PassiveDTP

    class DelayedPassive(PassiveDTP):
        def handle_accepted(self, sock, addr):
            time.sleep(options.delay)
            super().handle_accepted(sock, addr)

    return DelayedPassive


class HandsOverItsSocket(ActiveDTP):
    """An active-mode connector that lets go of its socket once the data channel has it.

    pyftpdlib keeps the connector after handing its socket over and closes it again at the
    session's next PORT or EPRT. By then the transfer has closed that socket and the descriptor
    number may belong to another session's connection: the stale close takes that one out of the
    event loop, and its transfer waits for ever (seen with two sessions in active mode at once).
    """

    def handle_connect(self):
        super().handle_connect()
        if self.cmd_channel._dtp_connector is self:
            self.cmd_channel._dtp_connector = None


def active_class(options):
    if options.delay <= 0:
        return HandsOverItsSocket

    class DelayedActive(HandsOverItsSocket):
        def handle_connect(self):
            time.sleep(options.delay)
            super().handle_connect()

    return DelayedActive


def control_handler_class(options):
    """The handler of the control connection, with the behaviour the options ask for.

    Further variants (TLS, other refusals) are added here as subclasses of the class built so far.
    """

    if options.tls:
        from pyftpdlib.handlers import TLS_FTPHandler

        class Handler(TLS_FTPHandler):
            certfile = options.tls[0]
            keyfile = options.tls[1]
            tls_control_required = options.tls_required
            tls_data_required = options.tls_required

    else:

        class Handler(FTPHandler):
            pass

    Handler.dtp_handler = data_handler_class(options)
    Handler.passive_dtp = passive_class(options)
    Handler.active_dtp = active_class(options)
    Handler.banner = "Parcelup test server ready."

    if options.delay > 0:

        class Delayed(Handler):
            def handle(self):
                time.sleep(options.delay)
                super().handle()

            # Each command is taken up after the delay, in the order received, so every reply
            # comes that much later and pipelined commands stay in order. Every session has a
            # thread of its own (see main), so the delay holds back only its own replies, as each
            # connection to a far server waits on its own.
            def pre_process_command(self, line, cmd, arg):
                time.sleep(options.delay)
                super().pre_process_command(line, cmd, arg)

        Handler = Delayed

    if options.refuse_epsv:

        class RefusesEpsv(Handler):
            def ftp_EPSV(self, line):
                self.respond("502 EPSV not implemented.")

        Handler = RefusesEpsv

    if options.fake_auth:
        fake_auth = options.fake_auth

        class FakeAuth(Handler):
            # Known to the command table, so that AUTH reaches ftp_AUTH instead of the generic
            # "500 Command not understood".
            proto_cmds = dict(Handler.proto_cmds)
            proto_cmds["AUTH"] = dict(perm=None, auth=False, arg=True,
                                      help="Syntax: AUTH <SP> TLS (set up secure control channel).")

            def __init__(self, conn, server, ioloop=None):
                super().__init__(conn, server, ioloop)
                self._extra_feats = list(self._extra_feats) + ["AUTH TLS", "PBSZ", "PROT"]

            def ftp_AUTH(self, line):
                if fake_auth == "refuse":
                    self.respond("500 This security scheme is not implemented")
                    return
                self.respond("234 AUTH TLS successful.")
                self.close_when_done()

        Handler = FakeAuth

    if options.refuse_rename_onto_existing:

        class KeepsExistingNames(Handler):
            def ftp_RNTO(self, path):
                if self._rnfr and self.fs.lexists(path):
                    self._rnfr = None
                    self.respond("550 Cannot create a file when that file already exists.")
                    return
                return super().ftp_RNTO(path)

        Handler = KeepsExistingNames

    if options.refuse_paths:
        named = {"CWD", "MKD", "RMD", "STOR", "APPE", "RETR", "SIZE", "DELE", "RNFR", "RNTO"}

        class NamesOnly(Handler):
            def pre_process_command(self, line, cmd, arg):
                if cmd in named and arg and "/" in arg:
                    self.respond("553 Requested action not taken. File name not allowed.")
                    return
                super().pre_process_command(line, cmd, arg)

        Handler = NamesOnly

    if options.refuse_store_restart or options.refuse_append:
        refuse_restart = options.refuse_store_restart
        refuse_append = options.refuse_append

        class RefusesToContinue(Handler):
            def _refuse_continuing(self, path):
                self._restart_position = 0
                self.respond("451 %s: Append/Restart not permitted, try again"
                             % self.fs.fs2ftp(path))

            def ftp_STOR(self, file, mode="w"):
                continuing = ("a" in mode and refuse_append) or \
                    (self._restart_position and refuse_restart)
                if continuing and self.fs.lexists(file):
                    self._refuse_continuing(file)
                    return
                return super().ftp_STOR(file, mode)

        Handler = RefusesToContinue

    if options.max_logins > 0:
        most = options.max_logins

        class LimitsLogins(Handler):
            logged_in = 0
            lock = threading.Lock()  # sessions may run in threads (--delay)

            def ftp_PASS(self, line):
                with LimitsLogins.lock:
                    full = not self.authenticated and LimitsLogins.logged_in >= most
                if full:
                    self.respond("530 Sorry, the maximum number of clients (%d) for this user are "
                                 "already connected." % most)
                    return
                return super().ftp_PASS(line)

            def on_login(self, username):
                with LimitsLogins.lock:
                    LimitsLogins.logged_in += 1
                self._counted = True
                super().on_login(username)

            def on_disconnect(self):
                if getattr(self, "_counted", False):
                    self._counted = False
                    with LimitsLogins.lock:
                        LimitsLogins.logged_in -= 1
                super().on_disconnect()

        Handler = LimitsLogins

    if options.active == "refuse":

        class RefusesActive(Handler):
            def ftp_PORT(self, line):
                self.respond("502 Active mode is not available here.")

            def ftp_EPRT(self, line):
                self.respond("502 Active mode is not available here.")

        Handler = RefusesActive
    elif options.active == "ignore":

        class IgnoresActive(Handler):
            # Agrees, but the connection never comes, as behind a firewall that drops it.
            def ftp_PORT(self, line):
                self.respond("200 PORT command successful.")

            def ftp_EPRT(self, line):
                self.respond("200 EPRT command successful.")

            # A RETR or STOR then waits for a connection that never comes. ABOR ends it the way
            # RFC 959 describes (426 for the transfer, 226 for ABOR); the base class would keep
            # the stale transfer queued for the next data connection.
            def ftp_ABOR(self, line):
                if self._out_dtp_queue is not None or self._in_dtp_queue is not None:
                    self._out_dtp_queue = None
                    self._in_dtp_queue = None
                    self.respond("426 Transfer aborted.")
                    self.respond("226 ABOR command successful.")
                    return
                super().ftp_ABOR(line)

        Handler = IgnoresActive

    if options.ignore_case:
        Handler.abstracted_fs = fault_layer().case_blind(Handler.abstracted_fs)

    if options.fault:
        Handler = misbehaving_class(options)(Handler)

    if options.command_log:
        command_log = open(options.command_log, "a", buffering=1, encoding="utf-8")

        class LogsCommands(Handler):
            # Outermost, so that a command is written when it arrives, before any delay.
            def pre_process_command(self, line, cmd, arg):
                shown = "PASS ******" if cmd == "PASS" else line
                with LogsCommands.lock:
                    command_log.write(shown + "\n")
                super().pre_process_command(line, cmd, arg)

            # How many sessions are logged in at once, so that a test can see from the server's
            # side that a client worked over several connections side by side.
            logged_in = 0
            lock = threading.Lock()  # sessions may run in threads (--delay)

            def on_login(self, username):
                with LogsCommands.lock:
                    LogsCommands.logged_in += 1
                    command_log.write("# logged in, %d at once\n" % LogsCommands.logged_in)
                self._logged_in = True
                super().on_login(username)

            def on_disconnect(self):
                with LogsCommands.lock:
                    if getattr(self, "_logged_in", False):
                        self._logged_in = False
                        LogsCommands.logged_in -= 1
                    command_log.write("# closed\n")
                super().on_disconnect()

        Handler = LogsCommands

    if options.transfer_log:
        transfer_log = open(options.transfer_log, "a", buffering=1, encoding="utf-8")

        class LogsTransfers(Handler):
            # "Wed Dec  9 20:18:58 2026 1 127.0.0.1 5000 /a_b.bin b _ i r user ftp 0 * i": time,
            # seconds, client, bytes moved, the name with blanks as "_", binary, no action,
            # incoming, real user, user, service, no authentication, completed "c" or not "i".
            def log_transfer(self, cmd, filename, receive, completed, elapsed, bytes):
                if receive:
                    name = self.fs.fs2ftp(filename).replace(" ", "_")
                    transfer_log.write("%s %d %s %d %s b _ i r %s ftp 0 * %s\n" % (
                        time.asctime(), max(1, round(elapsed)), self.remote_ip, bytes, name,
                        self.username, "c" if completed else "i"))
                super().log_transfer(cmd, filename, receive, completed, elapsed, bytes)

        Handler = LogsTransfers

    return Handler


def main():
    options = parse_arguments()
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    authorizer.add_user(options.user, options.password, options.root, perm="elradfmwMT")

    handler = control_handler_class(options)
    handler.authorizer = authorizer
    # The data port is a free port of the same loopback address.
    handler.passive_ports = None
    handler.masquerade_address = options.pasv_address
    handler.permit_foreign_addresses = False
    # Refused log-ins are answered at once; the tests try wrong passwords on purpose.
    handler.auth_failed_timeout = 0.1

    # With --delay every session runs in a thread of its own and sleeps before each reply. The
    # single-threaded server, delaying with timers on its one event loop, stopped answering every
    # session at times when one of them closed while replies of others were due (seen with a
    # refused log-in and QUIT beside two working sessions).
    server = (ThreadedFTPServer if options.delay > 0 else FTPServer)((options.bind, options.port),
                                                                      handler)
    port = server.socket.getsockname()[1]
    print("PORT %d" % port, flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
