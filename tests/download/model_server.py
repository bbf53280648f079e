#!/usr/bin/python3
"""A file server on 127.0.0.1 for the download tests, with byte ranges and chosen faults.

    model_server.py ROOT LOG

Prints "PORT n" on its first line once it listens. Each request is appended to LOG as
"PATH RANGE" (RANGE is "-" when the request had none). The first path segment says how to
answer; the rest names a file in ROOT:

    /ok/NAME            the file, with Range support (206 and Content-Range)
    /norange/NAME       the whole file with 200, whatever Range says
    /404:TEXT/NAME      404 with the body "Entry not found" when NAME contains TEXT, else ok
    /500/NAME           500 with an empty body
    /short:TEXT/NAME    only the first third of the file (with a matching length) when NAME
                        contains TEXT, else ok
    /flip:TEXT/NAME     the file with its last byte changed (same length) when NAME contains
                        TEXT, else ok
    /reset:TEXT/NAME    the first request of a file whose NAME contains TEXT gets the headers
                        of the whole file, half the body, then a connection reset; later
                        requests are ok
    /stall:TEXT/NAME    like reset, but after half the body the server sends nothing more
                        until the client goes away (at most 60 s)
    /long/NAME          200 without a length and an endless body of zeros (ends after 256 MB
                        or when the client goes away)
    /silent/NAME        reads the request and never answers (at most 60 s)
    /redirect/REST      302 to /REST
"""
import os
import re
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT, LOG = sys.argv[1], sys.argv[2]
log_lock = threading.Lock()
seen_lock = threading.Lock()
seen = set()


def first_time(key):
    with seen_lock:
        if key in seen:
            return False
        seen.add(key)
        return True


def wait_for_close(connection, limit=60):
    connection.settimeout(0.2)
    end = time.monotonic() + limit
    while time.monotonic() < end:
        try:
            if connection.recv(4096) == b"":
                return
        except socket.timeout:
            continue
        except OSError:
            return


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with log_lock, open(LOG, "a") as log:
            log.write(f"{self.path} {self.headers.get('Range', '-')}\n")
        parts = self.path.lstrip("/").split("/", 1)
        mode, rest = parts[0], parts[1] if len(parts) > 1 else ""
        kind, _, text = mode.partition(":")
        name = os.path.basename(rest)
        matches = text in name
        if kind == "redirect":
            self.send_response(302)
            self.send_header("Location", "/" + rest)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif kind == "404" and matches:
            self.answer(404, b"Entry not found")
        elif kind == "500":
            self.answer(500, b"")
        elif kind == "silent":
            wait_for_close(self.connection)
            self.close_connection = True
        elif kind == "long":
            self.endless()
        else:
            path = os.path.join(ROOT, name)
            if not os.path.isfile(path):
                self.answer(404, b"Entry not found")
            elif kind == "short" and matches:
                with open(path, "rb") as f:
                    self.answer(200, f.read(os.path.getsize(path) // 3))
            elif kind == "flip" and matches:
                with open(path, "rb") as f:
                    body = bytearray(f.read())
                body[-1] ^= 0xFF
                self.answer(200, bytes(body))
            elif kind in ("reset", "stall") and matches and first_time((kind, text, name)):
                self.broken(path, kind)
            else:
                self.serve(path, use_range=kind != "norange")

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def serve(self, path, use_range):
        size = os.path.getsize(path)
        start = 0
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if use_range and match:
            start = int(match.group(1))
            if start >= size:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(size - start))
        self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        self.wfile.flush()
        with open(path, "rb") as f:
            offset, left = start, size - start
            while left > 0:
                sent = os.sendfile(self.connection.fileno(), f.fileno(), offset, left)
                if sent == 0:
                    break
                offset += sent
                left -= sent

    def broken(self, path, kind):
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        with open(path, "rb") as f:
            self.wfile.write(f.read(size // 2))
        self.wfile.flush()
        if kind == "stall":
            wait_for_close(self.connection)
        else:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True
        self.connection.close()

    def endless(self):
        self.send_response(200)
        self.send_header("Connection", "close")
        self.end_headers()
        block = bytes(1 << 16)
        try:
            for _ in range(4096):
                self.wfile.write(block)
        except OSError:
            pass
        self.close_connection = True


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # clients that go away mid-answer are what the faults are about


if __name__ == "__main__":
    server = Server(("127.0.0.1", 0), Handler)
    print(f"PORT {server.server_address[1]}", flush=True)
    server.serve_forever()
