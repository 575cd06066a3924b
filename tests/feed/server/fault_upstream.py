#!/usr/bin/env python3
"""The faults nginx cannot make, behind its /cut/, /shortlength/ and
/wrongbytes/ prefixes (nginx passes the prefix on: it is the mode).

GET /<mode>/<rest> serves <root>/<rest>. A file whose path holds /chunks/
or /packs/ is spoiled by the mode; every other file is served whole and correct, so a
client can still read the index and manifests through the same prefix:
  cut          the true Content-Length, half the body, then the connection
               is closed
  shortlength  a Content-Length of half the body, and that many bytes
  wrongbytes   the true length, the middle byte of the body flipped
  stallbody    the true length, half the body, then nothing for a minute
  drip         the true length, a byte every half second
  stallheaders nothing for a minute, not even the headers
  stallall     the same for every file, the index too
"Range: bytes=N-" (and N-M) is honoured: 206 with Content-Range, spoiled
the same way. A missing file or a directory is a 404.

Standard library only: the test machines have a plain python3.
"""
import argparse
import http.server
import os
import socket
import socketserver
import sys
import time
import urllib.parse

MODES = ("cut", "shortlength", "wrongbytes", "stallbody", "drip", "stallheaders", "stallall")
STALL_SECONDS = 60


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "feed-fault"
    sys_version = ""

    def do_GET(self):
        self.serve(with_body=True)

    def do_HEAD(self):
        self.serve(with_body=False)

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.log_date_time_string(), fmt % args))

    def plain(self, status, extra=()):
        body = ("%d\n" % status).encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def target(self):
        """(mode, file path) of the request, or None."""
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        parts = path.split("/", 2)
        if len(parts) < 3 or parts[0] != "" or parts[1] not in MODES:
            return None
        rest = parts[2]
        # nginx normalises the URI before it matches, but the upstream gets
        # it as sent: never leave the root.
        full = os.path.normpath(os.path.join(self.server.root, rest))
        if not full.startswith(self.server.root + os.sep) or not os.path.isfile(full):
            return None
        spoil = "/chunks/" in "/" + rest or "/packs/" in "/" + rest or parts[1] == "stallall"
        return parts[1], full, spoil

    def serve(self, with_body):
        found = self.target()
        if found is None:
            return self.plain(404)
        mode, full, spoil = found
        if spoil and mode in ("stallheaders", "stallall"):
            time.sleep(STALL_SECONDS)
            self.close_connection = True
            return
        with open(full, "rb") as f:
            data = f.read()
        size = len(data)

        status, first, last = 200, 0, size - 1
        ranged = parse_range(self.headers.get("Range"), size)
        if ranged == "unsatisfiable":
            return self.plain(416, [("Content-Range", "bytes */%d" % size)])
        if ranged is not None:
            status, (first, last) = 206, ranged
        body = data[first:last + 1]

        length = len(body)
        send = body
        cut = False
        if spoil and mode == "cut":
            send, cut = body[:len(body) // 2], True
        elif spoil and mode == "shortlength":
            length = len(body) // 2
            send = body[:length]
        elif spoil and mode == "wrongbytes" and body:
            middle = len(body) // 2
            send = body[:middle] + bytes([body[middle] ^ 0xFF]) + body[middle + 1:]

        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        self.send_header("Accept-Ranges", "bytes")
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        if cut:
            self.send_header("Connection", "close")
        self.end_headers()
        if not with_body:
            return
        if spoil and mode == "stallbody":
            self.wfile.write(send[:len(send) // 2])
            self.wfile.flush()
            time.sleep(STALL_SECONDS)
            self.close_connection = True
            return
        if spoil and mode == "drip":
            for i in range(len(send)):
                self.wfile.write(send[i:i + 1])
                self.wfile.flush()
                time.sleep(0.5)
            return
        self.wfile.write(send)
        if cut:
            # Half a body and the end of the stream: the proxy sees the
            # upstream close before Content-Length, and passes that on.
            self.wfile.flush()
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def parse_range(header, size):
    """(first, last) of a single "bytes=N-" or "bytes=N-M" range, None to
    ignore the header, or "unsatisfiable"."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    first, sep, last = header[len("bytes="):].strip().partition("-")
    if not sep or not first.isdigit() or (last and not last.isdigit()):
        return None
    first = int(first)
    last = min(int(last), size - 1) if last else size - 1
    if first >= size or first > last:
        return "unsatisfiable"
    return first, last


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def server_bind(self):
        # HTTPServer's own looks its name up (getfqdn), which can hang on a
        # machine without DNS; the loopback address needs no name.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root", help="the web root")
    parser.add_argument("--port-file", required=True,
                        help="written with the port once it listens")
    parser.add_argument("--pid-file", required=True)
    args = parser.parse_args()

    # Port 0: the kernel picks a free one, so there is no race to lose.
    server = Server(("127.0.0.1", 0), Handler)
    server.root = os.path.abspath(args.root)
    write_atomically(args.pid_file, "%d\n" % os.getpid())
    write_atomically(args.port_file, "%d\n" % server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
