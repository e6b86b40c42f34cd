#!/usr/bin/python3
# A loopback FTP server for tests and benchmarks (pyftpdlib).
#
# Prints "PORT <n>" on stdout once it listens (after "PROXY <n>" with --proxy), then serves until
# killed. One user with full rights over --root; after login the user is in --home (a folder below
# the root, so the login directory is not "/").
import argparse
import ctypes
import logging
import os
import shutil
import socket
import subprocess
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import (BufferedIteratorProducer, DTPHandler, FTPHandler, TLS_DTPHandler,
                                TLS_FTPHandler)
from pyftpdlib.servers import FTPServer


def start_tinyproxy(folder):
    # tinyproxy on a free loopback port, ended with this process; its port.
    # It takes CONNECT to any port: the passive data ports are chosen at random.
    program = shutil.which("tinyproxy") or sys.exit("tinyproxy is not installed")
    conf = os.path.join(folder, "tinyproxy.conf")
    for _ in range(5):  # another process may take the free port before tinyproxy does
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with open(conf, "w") as f:
            f.write('Port %d\nListen 127.0.0.1\nAllow 127.0.0.1\nLogLevel Warning\n'
                    'LogFile "%s/log"\nPidFile "%s/pid"\n' % (port, folder, folder))
        proxy = subprocess.Popen([program, "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                 preexec_fn=lambda: ctypes.CDLL(None).prctl(1, 9))  # PDEATHSIG
        deadline = time.monotonic() + 10
        while proxy.poll() is None and time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), 0.5).close()
                return port
            except OSError:
                time.sleep(0.05)
        proxy.kill()
        proxy.wait()
    sys.exit("tinyproxy did not start")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--user", default="velmaric")
    p.add_argument("--password", default="secret")
    p.add_argument("--root", required=True)
    p.add_argument("--home", default="/")  # the login directory, below the root
    p.add_argument("--proxy", metavar="FOLDER")  # start tinyproxy too, its files in FOLDER
    p.add_argument("--no-mlsd", action="store_true")  # offer LIST only
    p.add_argument("--stall-after", type=int, default=-1)  # data stops after so many bytes
    p.add_argument("--hang", default="")  # commands (e.g. MLSD,LIST) that never get a reply
    # refuse listings and transfers until OPTS UTF8 ON on this connection
    p.add_argument("--require-utf8-opts", action="store_true")
    # end the control connection after each completed transfer
    p.add_argument("--close-after-transfer", action="store_true")
    # create this many empty files in a folder "many" of the login directory
    p.add_argument("--make-files", type=int, default=0)
    # misbehaviours: every listing is this many made-up entries (-1: without end)
    p.add_argument("--listing-lines", type=int, default=0)
    p.add_argument("--size-reply", default="")  # SIZE answered with this reply ("_" for blanks)
    p.add_argument("--login-reply", default="")  # USER answered with this reply, then hang up
    # TLS with this certificate and key (PEM): "explicit" (AUTH TLS, required for login and
    # data) or "implicit" (TLS from the first byte)
    p.add_argument("--tls", choices=["explicit", "implicit"])
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--log")  # every command's name, a line each, as received
    # the bytes of the plain data connections: received ones appended to WIRE/in, sent to WIRE/out
    p.add_argument("--wire")
    a = p.parse_args()

    root = os.path.realpath(a.root)
    home = "/" + a.home.strip("/")
    many = os.path.join(root + home, "many")
    os.makedirs(many if a.make_files else root + home, exist_ok=True)
    for i in range(a.make_files):
        open(os.path.join(many, "file%06d.txt" % i), "wb").close()

    authorizer = DummyAuthorizer()
    authorizer.add_user(a.user, a.password, root, perm="elradfmwMT")
    hang = {c.strip().upper() for c in a.hang.split(",") if c.strip()}

    def on_wire(direction, data):
        if a.wire:
            with open(os.path.join(a.wire, direction), "ab") as wire:
                wire.write(data)

    class Dtp(DTPHandler):
        def recv(self, size):
            data = super().recv(size)
            on_wire("in", data)
            return data

        def send(self, data):
            if a.stall_after >= 0:
                room = a.stall_after - self.tot_bytes_sent
                if room <= 0:
                    self.del_channel()  # keep the socket open, send nothing more
                    return 0
                data = data[:room]
            sent = super().send(data)
            on_wire("out", data[:sent or 0])
            return sent

    class TlsDtp(TLS_DTPHandler):
        # Clients start the data connection's handshake before the transfer command; the
        # stock handler closes a data connection that is readable that early.
        def readable(self):
            return self._ssl_accepting or super().readable()

    base = TLS_FTPHandler if a.tls else FTPHandler

    class Handler(base):
        if a.tls:
            certfile, keyfile = a.cert, a.key
            tls_control_required = tls_data_required = True
            dtp_handler = TlsDtp

            @classmethod
            def get_ssl_context(cls):
                # Data connections resume the control connection's session, as clients do
                # for servers that require it; that needs a session id context.
                context = super().get_ssl_context()
                context.set_session_id(b"velmaric-test")
                return context
        else:
            dtp_handler = Dtp
        banner = "velmaric test server ready."
        auth_failed_timeout = 0  # a wrong password is told at once, not after 3 s
        use_sendfile = a.stall_after < 0 and not a.wire

        def on_login(self, username):
            self.fs.cwd = home

        def handle(self):
            if a.tls == "implicit":
                self.secure_connection(self.ssl_context)
                self._pbsz = self._prot = True
            super().handle()

        def pre_process_command(self, line, cmd, arg):
            if a.log:
                with open(a.log, "a") as log:
                    log.write(cmd + (" " + arg if cmd == "TYPE" else "") + "\n")
            if cmd in hang:
                return
            if (a.require_utf8_opts and cmd in ("MLSD", "LIST", "RETR", "STOR", "CWD")
                    and not getattr(self, "utf8_on", False)):
                self.respond("550 Send OPTS UTF8 ON first.")
                return
            super().pre_process_command(line, cmd, arg)

        def ftp_USER(self, line):
            if a.login_reply:
                self.respond(a.login_reply.replace("_", " "))
                self.close_when_done()
                return
            return super().ftp_USER(line)

        def ftp_SIZE(self, path):
            if a.size_reply:
                return self.respond(a.size_reply.replace("_", " "))
            return super().ftp_SIZE(path)

        def made_up_listing(self, cmd, line):
            def chunks():
                i = 0
                while a.listing_lines < 0 or i < a.listing_lines:
                    end = i + 1000 if a.listing_lines < 0 else min(i + 1000, a.listing_lines)
                    yield "".join(line % n for n in range(i, end)).encode()
                    i = end
            self.push_dtp_data(BufferedIteratorProducer(chunks()), isproducer=True, cmd=cmd)

        def ftp_MLSD(self, path):
            if not a.listing_lines:
                return super().ftp_MLSD(path)
            self.made_up_listing("MLSD", "type=file;size=1; f%09d\r\n")
            return path

        def ftp_LIST(self, path):
            if not a.listing_lines:
                return super().ftp_LIST(path)
            self.made_up_listing("LIST", "-rw-r--r-- 1 a b 1 Jan 1 2020 f%09d\r\n")
            return path

        def ftp_OPTS(self, line):
            if line.upper().replace(" ", "") == "UTF8ON":
                self.utf8_on = True
            return super().ftp_OPTS(line)

        def respond(self, resp, logfun=logging.debug):
            super().respond(resp, logfun)
            if a.close_after_transfer and resp.startswith("226"):
                self.close_when_done()

    Handler.authorizer = authorizer
    if a.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}

    logging.basicConfig(level=logging.WARNING)
    if a.proxy:
        print("PROXY %d" % start_tinyproxy(a.proxy), flush=True)
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
