#!/usr/bin/env python3
"""A local HTTP, HTTPS and proxy server for the tests; driven through test_server.h.

Usage: test_server.py --workdir DIR [--root FOLDER]

It makes a CA and a certificate for localhost and 127.0.0.1 in DIR with the
openssl command, listens on 127.0.0.1 on three ephemeral ports (plain, a second
plain one, TLS) and prints "READY <http> <http2> <https>". Then it reads one
JSON command a line on stdin and answers on stdout:

  {"cmd": "route", "path": HEX, "answer": {...}}   -> "ok"
  {"cmd": "reset"}                                 -> "ok" (routes and log cleared)
  {"cmd": "requests"} / {"cmd": "take"}            -> "N", then N times
                                                      "<listener> <connection> <len>"
                                                      and the raw bytes
  {"cmd": "quit"}

Byte strings travel as hex. An answer holds: status, headers (HEX lines),
body (HEX), length ("auto", "none" or a number), delay_ms, chunk_size,
chunk_delay_ms, stall, raw (HEX or null). Every request is recorded with the
exact bytes received. A request in absolute form ("GET http://h/p") is answered
as for "/p", so any listener also acts as a proxy; CONNECT to 127.0.0.1 or
localhost opens a tunnel. Paths without a route are served from --root, and
anything else gets 404.
"""
import argparse
import http
import json
import mimetypes
import os
import select
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

LOCK = threading.Lock()
ROUTES = {}     # path bytes -> answer dict; guarded by LOCK
LOG = []        # (listener, connection number, raw bytes); guarded by LOCK
CONNECTIONS = [0]  # connections accepted so far; guarded by LOCK
ROOT = None


def make_certificates(workdir):
    def run(*args):
        subprocess.run(["openssl", *args], cwd=workdir, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Pelmora Test CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost")
    with open(os.path.join(workdir, "server.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")


def reason(status):
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Status"


def file_for(path):
    if ROOT is None:
        return None
    plain = urllib.parse.unquote_to_bytes(path.split(b"?", 1)[0])
    parts = [p for p in plain.split(b"/") if p]
    if not parts or any(p in (b".", b"..") for p in parts):
        return None
    full = os.path.join(ROOT, *(os.fsdecode(p) for p in parts))
    if not os.path.isfile(full):
        return None
    with open(full, "rb") as f:
        data = f.read()
    kind = mimetypes.guess_type(full)[0] or "application/octet-stream"
    return {"status": 200, "headers": [("Content-Type: " + kind).encode()], "body": data}


def decode_answer(a):
    return {
        "status": a.get("status", 200),
        "headers": [bytes.fromhex(h) for h in a.get("headers", [])],
        "body": bytes.fromhex(a.get("body", "")),
        "length": a.get("length", "auto"),
        "delay_ms": a.get("delay_ms", 0),
        "chunk_size": a.get("chunk_size", 0),
        "chunk_delay_ms": a.get("chunk_delay_ms", 0),
        "stall": a.get("stall", False),
        "raw": bytes.fromhex(a["raw"]) if a.get("raw") else None,
    }


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        with LOCK:
            CONNECTIONS[0] += 1
            self.connection_number = CONNECTIONS[0]
        sock = self.request
        try:
            if self.server.tls is not None:
                sock = self.server.tls.wrap_socket(sock, server_side=True)
            self.serve(sock)
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            try:
                sock.close()
            except OSError:
                pass

    def serve(self, sock):
        buf = b""
        while True:
            while b"\r\n\r\n" not in buf:
                data = sock.recv(65536)
                if not data:
                    return
                buf += data
            head, buf = buf.split(b"\r\n\r\n", 1)
            lines = head.split(b"\r\n")
            parts = lines[0].split(b" ")
            method, target = parts[0], parts[1] if len(parts) > 1 else b"/"
            length = 0
            for line in lines[1:]:
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value.strip() or b"0")
            while len(buf) < length:
                data = sock.recv(65536)
                if not data:
                    return
                buf += data
            body, buf = buf[:length], buf[length:]
            with LOCK:
                LOG.append((self.server.name, self.connection_number,
                            head + b"\r\n\r\n" + body))
            if method == b"CONNECT":
                self.tunnel(sock, target, buf)
                return
            if not self.answer(sock, method, target):
                return

    def tunnel(self, sock, target, pending):
        host, _, port = target.rpartition(b":")
        if host not in (b"127.0.0.1", b"localhost"):
            sock.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
            return
        upstream = socket.create_connection(("127.0.0.1", int(port)))
        try:
            sock.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            if pending:
                upstream.sendall(pending)
            while True:
                ready, _, _ = select.select([sock, upstream], [], [])
                for side in ready:
                    data = side.recv(65536)
                    if not data:
                        return
                    (upstream if side is sock else sock).sendall(data)
        finally:
            upstream.close()

    def answer(self, sock, method, target):
        path = target
        if target.lower().startswith((b"http://", b"https://")):
            rest = target.split(b"://", 1)[1]
            path = b"/" + rest.split(b"/", 1)[1] if b"/" in rest else b"/"
        with LOCK:
            a = ROUTES.get(path) or ROUTES.get(path.split(b"?", 1)[0])
        if a is None:
            a = file_for(path) or {"status": 404, "headers": [], "body": b"not found"}
        if a.get("stall"):
            while sock.recv(65536):
                pass
            return False
        if a.get("delay_ms"):
            time.sleep(a["delay_ms"] / 1000)
        if a.get("raw") is not None:
            sock.sendall(a["raw"])
            return False
        status = a.get("status", 200)
        body = a.get("body", b"")
        length = a.get("length", "auto")
        out = [b"HTTP/1.1 %d %s" % (status, reason(status).encode())]
        out += a.get("headers", [])
        keep = True
        if length == "auto":
            out.append(b"Content-Length: %d" % len(body))
        elif length == "none":
            out.append(b"Connection: close")
            keep = False
        else:
            out.append(b"Content-Length: %d" % int(length))
            keep = int(length) == len(body)
        if method == b"HEAD" or status in (204, 304):
            body = b""
        head = b"\r\n".join(out) + b"\r\n\r\n"
        size = a.get("chunk_size") or 0
        if size <= 0:
            sock.sendall(head + body)
        else:
            sock.sendall(head)
            for i in range(0, len(body), size):
                sock.sendall(body[i:i + size])
                time.sleep(a.get("chunk_delay_ms", 0) / 1000)
        return keep


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 1024

    def __init__(self, name, tls):
        self.name = name
        self.tls = tls
        super().__init__(("127.0.0.1", 0), Handler)


def main():
    global ROOT
    parser = argparse.ArgumentParser()
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--root")
    args = parser.parse_args()
    ROOT = args.root
    make_certificates(args.workdir)
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(os.path.join(args.workdir, "server.pem"),
                        os.path.join(args.workdir, "server.key"))
    servers = [Server("http", None), Server("http2", None), Server("https", tls)]
    for s in servers:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    out = sys.stdout.buffer
    out.write(b"READY %d %d %d\n" % tuple(s.server_address[1] for s in servers))
    out.flush()
    for line in sys.stdin.buffer:
        command = json.loads(line)
        kind = command["cmd"]
        if kind == "quit":
            break
        if kind == "route":
            with LOCK:
                ROUTES[bytes.fromhex(command["path"])] = decode_answer(command["answer"])
            out.write(b"ok\n")
        elif kind == "reset":
            with LOCK:
                ROUTES.clear()
                LOG.clear()
            out.write(b"ok\n")
        elif kind in ("requests", "take"):
            with LOCK:
                entries = list(LOG)
                if kind == "take":
                    LOG.clear()
            out.write(b"%d\n" % len(entries))
            for name, number, raw in entries:
                out.write(b"%s %d %d\n" % (name.encode(), number, len(raw)))
                out.write(raw)
        out.flush()
    os._exit(0)


if __name__ == "__main__":
    main()
