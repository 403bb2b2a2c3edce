#!/usr/bin/python3
"""An FTP server that misbehaves on purpose, for fault-injection tests.

It is tests/servers/ftpserver.py, with the same options and the same "PORT <n>" line once it accepts
connections, plus faults chosen per test:

    /usr/bin/python3 tests/servers/faultyftpserver.py --root DIR --user U --password P
        [any option of tests/servers/ftpserver.py] --fault 'COMMAND[#N]=ACTION' [--fault ...]

COMMAND is a verb ("STOR") or a verb with its argument ("CWD .."); #N picks its N-th occurrence on
the server, counted over every connection (without #N, every occurrence misbehaves).

Actions that answer instead of doing what the command asks:

    reply CODE TEXT         answer this line, e.g. "reply 451 Local error in processing."
    garbage                 answer bytes that are no FTP reply at all (no code, not UTF-8)
    overlong                answer a reply line of 100,000 characters
    stall                   never answer; the connection stays open
    preliminary-close       answer "150 ..." as if a transfer began, then close the connection
    dead-port               (PASV, EPSV) announce a data port that never accepts a connection,
                            as behind a firewall that drops it: the client's connect hangs
    closed-port             (PASV, EPSV) announce a data port where nothing listens
    endless                 (RETR) send a file that never ends, until the client gives up
    reply-closing-data CODE TEXT
                            (RETR, STOR) close the data connection with a reset, while the
                            client's TLS handshake on it is still under way, and answer this
                            line a moment later, as ProFTPD does for a file it does not have;
                            commands that arrive meanwhile are answered after it, in order

Actions that do what the command asks, but:

    delay MS                only after MS milliseconds
    split                   send each reply to it as a multi-line reply, a few bytes at a time
    stall-final SECONDS     (STOR, RETR) hold back the final reply of the transfer for SECONDS,
                            or for good with "stall-final forever"
    drop-after BYTES        (STOR, RETR) drop the data and the control connection, with a
                            reset, once BYTES bytes of the file have moved
    restart                 once its final reply is out, restart: every connection is dropped,
                            for a moment nothing listens, and the server comes back on the same
                            port (and process id) without this fault; other faults count afresh
    run SHELL               run the shell command SHELL first, for example to change a local
                            file that the client is about to send
    run-after BYTES SHELL   (STOR, RETR) run SHELL once BYTES bytes of the file have moved

The option --ignore-case of tests/servers/ftpserver.py is implemented here too: the server then
finds every name without regard to case, as one on a file system that does not tell case apart.

Needs pyftpdlib (Debian: python3-pyftpdlib); run it with /usr/bin/python3.
"""

import logging
import os
import socket
import struct
import subprocess
import sys

from pyftpdlib.handlers import logger
from pyftpdlib.ioloop import AsyncChat

# The plain server, which this one extends, lives next to it.
SERVERS_FOLDER = os.path.dirname(os.path.abspath(__file__))

# Actions that answer in place of the command, and those that let it run and act around it.
ANSWERING = {"reply", "garbage", "overlong", "stall", "preliminary-close", "dead-port",
             "closed-port", "endless", "reply-closing-data"}
ACCOMPANYING = {"delay", "split", "stall-final", "drop-after", "restart", "run", "run-after"}

OVERLONG_LENGTH = 100000
# A split reply goes out this many bytes at a time, with this pause in between: each piece is a
# packet of its own on the loopback interface.
SPLIT_PIECE = 5
SPLIT_PAUSE = 0.02
# How long reply-closing-data holds its answer back: long enough for the client to notice the
# closed data connection first.
CLOSING_DATA_PAUSE = 0.2


class Fault:
    """One --fault option: where it strikes and what it does there."""

    def __init__(self, text):
        self.text = text
        command, separator, action = text.partition("=")
        if not separator:
            raise SystemExit("--fault %r: COMMAND[#N]=ACTION expected" % text)
        command, _, occurrence = command.partition("#")
        verb, _, argument = command.strip().partition(" ")
        self.verb = verb.upper()
        self.argument = argument or None
        self.occurrence = int(occurrence) if occurrence else None
        name, _, parameter = action.strip().partition(" ")
        self.action = name
        self.parameter = parameter
        self.bytes = 0
        self.seconds = None
        if name not in ANSWERING | ACCOMPANYING:
            raise SystemExit("--fault %r: unknown action %r" % (text, name))
        if name in ("drop-after", "run-after"):
            count, _, self.parameter = parameter.partition(" ")
            self.bytes = int(count)
        elif name == "delay":
            self.seconds = int(parameter) / 1000.0
        elif name == "stall-final":
            self.seconds = None if parameter == "forever" else float(parameter)
        if name in ("reply", "reply-closing-data", "run", "run-after") and not self.parameter:
            raise SystemExit("--fault %r: %s needs its text" % (text, name))

    def matches(self, cmd, arg):
        return cmd == self.verb and (self.argument is None or arg == self.argument)

    def key(self):
        return (self.verb, self.argument)


def parse_faults(texts):
    return [Fault(text) for text in texts]


def run_shell(command):
    # Synchronous on purpose: the client waits for the answer meanwhile, so the change is done
    # before it can go on.
    subprocess.run(command, shell=True, check=False)


def drop_with_reset(channel):
    """Closes a connection the way a broken network or a killed peer does: with a reset."""
    try:
        channel.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except (OSError, AttributeError):
        pass
    channel.close()


def unusable_port(family, host, accepting_never):
    """A data port for a PASV or EPSV reply that leads nowhere, and the sockets that keep it so."""
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind((host, 0))
    port = listener.getsockname()[1]
    if not accepting_never:
        listener.close()  # nothing listens: the client's connect is refused at once
        return port, []
    # A backlog that is full: the kernel drops further connection attempts, and the client waits
    # as behind a firewall. With a backlog of 0 one connection fits; two fillers make sure.
    listener.listen(0)
    sockets = [listener]
    for _ in range(2):
        filler = socket.socket(family, socket.SOCK_STREAM)
        filler.setblocking(False)
        filler.connect_ex((host, port))
        sockets.append(filler)
    return port, sockets


def restart_arguments(faults_left):
    """This server's own command line, on the port it listens on now, minus the restart fault."""
    arguments = []
    given = sys.argv[1:]
    i = 0
    while i < len(given):
        argument = given[i]
        if argument in ("--fault", "--port") and i + 1 < len(given):
            if argument == "--fault" and given[i + 1] in faults_left:
                arguments += [argument, given[i + 1]]
            i += 2
            continue
        arguments.append(argument)
        i += 1
    return arguments


class EndlessFile:
    """A producer for the data connection whose file never ends."""

    PIECE = b"\\\r\nendless.html\r\n" * 4096

    def more(self):
        return self.PIECE


def misbehaving(handler_class, options):
    """handler_class with the faults of options.fault."""
    faults = parse_faults(options.fault)
    # Occurrences are counted over the whole server, whichever connection sends the command.
    seen = {}
    data_class = handler_class.dtp_handler

    class MisbehavingData(data_class):
        """The data connection, watched for faults that strike part-way through a transfer."""

        def _fault(self):
            return getattr(self.cmd_channel, "fault", None)

        def _after_moving(self):
            fault = self._fault()
            if fault is None or self._closed:
                return
            moved = self.get_transmitted_bytes()
            if fault.action == "run-after" and moved >= fault.bytes and \
                    not self.cmd_channel.fault_done:
                self.cmd_channel.fault_done = True
                run_shell(fault.parameter)
            elif fault.action == "drop-after" and moved >= fault.bytes:
                self.cmd_channel.drop_everything()

        def handle_read(self):
            fault = self._fault()
            if fault is not None and fault.action == "drop-after":
                # Only up to the cut: the server keeps exactly that much of the file.
                wanted = max(fault.bytes - self.tot_bytes_received, 1)
                if wanted < self.ac_in_buffer_size:
                    saved, self.ac_in_buffer_size = self.ac_in_buffer_size, wanted
                    try:
                        super().handle_read()
                    finally:
                        self.ac_in_buffer_size = saved
                    self._after_moving()
                    return
            super().handle_read()
            self._after_moving()

        # The base class binds this to its own handle_read, which would bypass the one above.
        handle_read_event = handle_read

        def send(self, data):
            fault = self._fault()
            if fault is not None and fault.action == "drop-after":
                data = data[:max(fault.bytes - self.tot_bytes_sent, 0)]
                if not data:
                    self.ioloop.call_later(0, self._after_moving)
                    return 0
            sent = super().send(data)
            # Not from within the send: the caller still works on this connection's buffers.
            self.ioloop.call_later(0, self._after_moving)
            return sent

    class Misbehaves(handler_class):
        dtp_handler = MisbehavingData
        # RETR through send(), where drop-after and run-after count the bytes.
        use_sendfile = False

        def __init__(self, conn, server, ioloop=None):
            # Before the base class: it may already answer (the greeting) from its constructor.
            self.fault = None
            self.fault_done = False
            self.restarting = False
            self._pieces = b""
            self._held_sockets = []
            self._held = None
            super().__init__(conn, server, ioloop)

        def answer_held(self, answer):
            held, self._held = self._held, None
            self.fault = None
            self.respond(answer)
            # Past the command log, which took them when they came.
            for line, cmd, arg in held:
                Misbehaves.pre_process_command(self, line, cmd, arg)

        def _strikes(self, cmd, arg):
            # A command counts once for each key it matches, however many faults share the key:
            # "PWD#2" and "PWD#3" strike two PWDs in a row.
            counted = set()
            struck = None
            for fault in faults:
                if not fault.matches(cmd, arg):
                    continue
                if fault.key() not in counted:
                    counted.add(fault.key())
                    seen[fault.key()] = seen.get(fault.key(), 0) + 1
                if struck is None and (fault.occurrence is None or
                                       seen[fault.key()] == fault.occurrence):
                    struck = fault
            return struck

        def pre_process_command(self, line, cmd, arg):
            if self.restarting:
                return
            if self._held is not None:
                self._held.append((line, cmd, arg))
                return
            fault = self._strikes(cmd, arg)
            self.fault = fault
            self.fault_done = False
            if fault is None:
                super().pre_process_command(line, cmd, arg)
                return
            action = fault.action
            if action == "stall":
                return
            if action == "reply":
                self.respond(fault.parameter)
                return
            if action == "garbage":
                self.push_bytes(b"\x16\x03\x01\x02\x00\xff\xfe no reply at all \x80\x81\r\n")
                return
            if action == "overlong":
                self.respond("250 " + "x" * OVERLONG_LENGTH)
                return
            if action == "preliminary-close":
                self.respond("150 File status okay. About to open data connection.")
                self.ioloop.call_later(0.05, self.drop_everything, False)
                return
            if action == "endless":
                self.push_dtp_data(EndlessFile(), isproducer=True, file=None, cmd="RETR")
                return
            if action in ("dead-port", "closed-port"):
                self.announce_unusable_port(cmd, action == "dead-port")
                return
            if action == "reply-closing-data":
                if self.data_channel is not None:
                    drop_with_reset(self.data_channel)
                self._shutdown_connecting_dtp()
                self._held = []
                self.ioloop.call_later(CLOSING_DATA_PAUSE, self.answer_held, fault.parameter)
                return
            if action == "run":
                run_shell(fault.parameter)
            if action == "delay":
                self.ioloop.call_later(fault.seconds, super().pre_process_command, line, cmd, arg)
                return
            super().pre_process_command(line, cmd, arg)

        # --- replies

        def respond(self, resp, logfun=logger.debug):
            fault = self.fault
            final = resp[:1] in ("2", "3", "4", "5")
            if fault is not None and fault.action == "split":
                code, text = resp[:3], resp[4:]
                resp = "%s-%s\r\n%s-This reply arrives in pieces.\r\n%s %s" % (code, text, code,
                                                                                 code, text)
            if fault is not None and fault.action == "stall-final" and final:
                if fault.seconds is not None:
                    self.ioloop.call_later(fault.seconds, super().respond, resp, logfun)
                return
            super().respond(resp, logfun)
            if fault is not None and fault.action == "restart" and final:
                # Nothing more is answered on this connection: the server is going away.
                self.restarting = True
                self.ioloop.call_later(0.01, self.restart_when_sent, fault, 100)

        def push(self, s):
            if self._pieces or (self.fault is not None and self.fault.action == "split"):
                pending = bool(self._pieces)
                self._pieces += s.encode("utf8")
                if not pending:
                    self._send_piece()
                return
            super().push(s)

        def push_bytes(self, data):
            AsyncChat.push(self, data)

        def _send_piece(self):
            if self._closed or not self._pieces:
                self._pieces = b""
                return
            piece, self._pieces = self._pieces[:SPLIT_PIECE], self._pieces[SPLIT_PIECE:]
            self.push_bytes(piece)
            if self._pieces:
                self.ioloop.call_later(SPLIT_PAUSE, self._send_piece)

        # --- connections

        def announce_unusable_port(self, cmd, accepting_never):
            family = self.socket.family
            host = self.socket.getsockname()[0]
            port, sockets = unusable_port(family, host, accepting_never)
            self._held_sockets += sockets
            if cmd == "EPSV":
                self.respond("229 Entering extended passive mode (|||%d|)." % port)
            else:
                address = host.replace(".", ",")
                self.respond("227 Entering passive mode (%s,%d,%d)." % (address, port // 256,
                                                                       port % 256))

        def drop_everything(self, reset=True):
            for channel in (self.data_channel, self):
                if channel is None or channel._closed:
                    continue
                if reset:
                    drop_with_reset(channel)
                else:
                    channel.close()

        def close(self):
            for held in self._held_sockets:
                held.close()
            self._held_sockets = []
            super().close()

        def restart_when_sent(self, fault, tries_left):
            # The final reply goes out first, as from a server that is stopped between two files.
            if not self._closed and tries_left > 0 and self.producer_fifo:
                self.ioloop.call_later(0.01, self.restart_when_sent, fault, tries_left - 1)
                return
            left = [other.text for other in faults if other is not fault]
            port = self.server.socket.getsockname()[1] if self.server else options.port
            arguments = restart_arguments(left) + ["--port", str(port)]
            logging.warning("restarting on port %d, as --fault %r asked", port, fault.text)
            sys.stdout.flush()
            sys.stderr.flush()
            # Every socket is close-on-exec: the connections drop as when a server is killed,
            # and the process id stays, so whoever started the server can still stop it.
            os.execv(sys.executable, [sys.executable, os.path.abspath(sys.argv[0])] + arguments)

    return Misbehaves


def case_blind(fs_class):
    """fs_class, finding every name without regard to case: a name that does not exist is the
    entry whose name differs from it only in case, as on a server whose file system does not tell
    case apart."""

    class CaseBlind(fs_class):
        def ftp2fs(self, ftppath):
            path = super().ftp2fs(ftppath)
            relative = os.path.relpath(path, self.root)
            if relative == os.curdir:
                return path
            found = self.root
            for name in relative.split(os.sep):
                candidate = os.path.join(found, name)
                if not os.path.lexists(candidate) and os.path.isdir(found):
                    for entry in sorted(os.listdir(found)):
                        if entry.lower() == name.lower():
                            candidate = os.path.join(found, entry)
                            break
                found = candidate
            return found

    return CaseBlind


def main():
    sys.path.insert(0, SERVERS_FOLDER)
    import ftpserver

    ftpserver.main()


if __name__ == "__main__":
    main()
