#!/usr/bin/env python3
"""Scriptable HTTP test server and proxy on 127.0.0.1 for the download tests.

Three ports: the origin server, a proxy in front of it, and a port that is
bound but never listens (connections to it are refused). With --tls-dir, three
more: HTTPS origins serving the same resources with the certificates
good.pem, wronghost.pem and untrusted.pem of that folder (certificate and key
in one file; tools/signing/make-tls-cert.sh), 0 when a certificate is missing.
They are written as "origin proxy closed tls tls-wronghost tls-untrusted" to
--port-file once the server is ready. The proxy also tunnels CONNECT: in
"origin" mode to the first HTTPS origin, in "forward" mode to 127.0.0.1 only.

The tests script it over HTTP on the origin port:
  POST /_ctl/resource  JSON describing one resource (see Resource)
  POST /_ctl/proxy     {"mode": "forward" | "origin" | "403" | "407" | "close"}
                       ("forward" reaches 127.0.0.1 only; "origin" sends every
                       host to the origin, as a stand-in for a real server;
                       "407" asks for Basic, NTLM and Negotiate credentials)
  GET  /_ctl/log       every request so far, one line each:
                       role TAB method TAB target TAB header: value TAB ...
  POST /_ctl/clear     forget the recorded requests
  POST /_ctl/quit      end the server
Bodies are generated from a seed, so that a test can compute the bytes it
expects without fetching them (see content_block).

The server ends by itself when its parent process goes, or after
--max-seconds, so that a test that crashes or hangs leaves nothing behind.
"""
import argparse
import http.client
import http.server
import json
import os
import select
import socket
import socketserver
import ssl
import threading
import time
import urllib.parse

PERIOD = 65521  # bodies repeat with this (prime) period
DEFAULT_LAST_MODIFIED = "Tue, 15 Nov 1994 08:12:31 GMT"
PROXIED_HEADER = "X-Kv-Test-Proxied"  # added by the proxy to what it forwards

_blocks = {}
_blocks_lock = threading.Lock()


def content_block(seed):
    """Two periods of the body for a seed: byte i of a body is block[i % PERIOD]."""
    with _blocks_lock:
        block = _blocks.get(seed)
        if block is None:
            x = (seed * 2654435761 + 1) & 0xFFFFFFFF
            data = bytearray(PERIOD)
            for k in range(PERIOD):
                x = (x * 1103515245 + 12345) & 0xFFFFFFFF
                data[k] = (x >> 16) & 0xFF
            block = bytes(data) * 2
            _blocks[seed] = block
        return block


def body_slices(seed, first, end):
    """The bytes [first, end) of a body, in pieces of at most one period."""
    block = content_block(seed)
    pos = first
    while pos < end:
        start = pos % PERIOD
        count = min(end - pos, PERIOD)
        yield block[start:start + count]
        pos += count


class Resource:
    """What the origin answers for one path. Fields (all optional but path):
    size, seed              the body: size bytes generated from seed
    file                    the body: the bytes of this file (size is its length)
    text                    the body: this text in UTF-8 (size is its length)
    proxied_only            requests that did not come through the proxy get 403
    last_modified           Last-Modified text; null sends none
    content_length          false: no Content-Length (body ends with the connection)
    content_length_text     sent as Content-Length instead of the real length
    status_text             reason phrase of successful answers
    range                   "honour" (206), "ignore" (200), "wrong" (206 from another
                            offset), "416" (always 416 to a range)
    check_unmodified        412 when If-Unmodified-Since differs from last_modified
    statuses                statuses answered to the next requests, one each, before
                            normal service; an item may be [status, reason]
    get_statuses            the same, for GET requests only
    close_without_answer    that many requests get the connection closed unanswered
    cut_after, cut_times    the body is cut (connection closed) after cut_after bytes,
                            for the next cut_times answers (default 1)
    partial_to_plain        a request without Range gets "206 bytes 0-(n-1)/size" and n bytes
    hang_after              the body stops after that many bytes and the connection stays
                            open, silent, until the client goes (at most 120 s)
    trickle_ms              the body is sent one byte at a time, this many ms apart
    delay_ms                wait before answering
    rate                    body bytes per second (throttled in 16 KiB pieces)
    redirect                every request gets "302 Found" with this Location
    """

    def __init__(self, description):
        self.path = description["path"]
        self.size = int(description.get("size", 0))
        self.seed = int(description.get("seed", 1))
        self.last_modified = description.get("last_modified", DEFAULT_LAST_MODIFIED)
        self.content_length = description.get("content_length", True)
        self.content_length_text = description.get("content_length_text")
        self.status_text = description.get("status_text")
        self.range = description.get("range", "honour")
        self.check_unmodified = description.get("check_unmodified", True)
        self.statuses = list(description.get("statuses", []))
        self.get_statuses = list(description.get("get_statuses", []))
        self.close_without_answer = int(description.get("close_without_answer", 0))
        self.cut_after = description.get("cut_after")
        self.cut_times = int(description.get("cut_times", 1))
        self.partial_to_plain = description.get("partial_to_plain")
        self.hang_after = description.get("hang_after")
        self.trickle_ms = description.get("trickle_ms")
        self.delay_ms = int(description.get("delay_ms", 0))
        self.rate = description.get("rate")
        self.redirect = description.get("redirect")
        self.proxied_only = description.get("proxied_only", False)
        self.data = None
        if description.get("text") is not None:
            self.data = description["text"].encode("utf-8")
            self.size = len(self.data)
        if description.get("file") is not None:
            with open(description["file"], "rb") as source:
                self.data = source.read()
            self.size = len(self.data)


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.resources = {}
        self.requests = []
        self.proxy_mode = "forward"
        self.origin_port = 0
        self.tls_port = 0

    def record(self, role, handler):
        headers = "\t".join("%s: %s" % (k, v) for k, v in handler.headers.items())
        line = "%s\t%s\t%s\t%s" % (role, handler.command, handler.path, headers)
        with self.lock:
            self.requests.append(line.replace("\r", " ").replace("\n", " "))


STATE = State()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KvTestServer/1.0"

    def log_message(self, fmt, *args):
        pass

    # -- plumbing -----------------------------------------------------------------
    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def answer(self, status, body=b"", content_type="text/plain", reason=None):
        self.send_response(status, reason)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def drop(self):
        """Close the connection without another byte."""
        self.close_connection = True
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    # -- origin ---------------------------------------------------------------------
    def do_GET(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_CONNECT(self):
        mode = self.proxy_mode_or_refusal()
        if mode is None:
            return
        host, _, port = self.path.rpartition(":")
        if mode == "origin":
            host, port = "127.0.0.1", STATE.tls_port
        elif host not in ("127.0.0.1", "localhost"):
            return self.answer(502, b"this proxy only reaches 127.0.0.1")
        try:
            upstream = socket.create_connection((host, int(port)), timeout=30)
        except (OSError, ValueError):
            return self.answer(502, b"cannot reach the origin")
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self.tunnel(upstream)

    def tunnel(self, upstream):
        """Copies bytes both ways until either side closes."""
        self.close_connection = True
        sockets = [self.connection, upstream]
        try:
            while True:
                readable, _, _ = select.select(sockets, [], [], 120)
                if not readable:
                    break
                for source in readable:
                    data = source.recv(65536)
                    if not data:
                        return
                    (upstream if source is self.connection else self.connection).sendall(data)
        except OSError:
            pass
        finally:
            upstream.close()

    def dispatch(self):
        if self.path.startswith("/_ctl/"):
            return self.control()
        if "://" in self.path:
            return self.proxy()
        STATE.record("origin", self)
        return self.serve()

    def control(self):
        body = self.read_body()
        if self.path == "/_ctl/resource":
            resource = Resource(json.loads(body.decode("utf-8")))
            with STATE.lock:
                STATE.resources[resource.path] = resource
            return self.answer(200, b"ok")
        if self.path == "/_ctl/proxy":
            with STATE.lock:
                STATE.proxy_mode = json.loads(body.decode("utf-8"))["mode"]
            return self.answer(200, b"ok")
        if self.path == "/_ctl/log":
            with STATE.lock:
                text = "".join(line + "\n" for line in STATE.requests)
            return self.answer(200, text.encode("utf-8"))
        if self.path == "/_ctl/quit":
            self.answer(200, b"bye")
            self.wfile.flush()
            os._exit(0)
        if self.path == "/_ctl/clear":
            with STATE.lock:
                STATE.requests.clear()
            return self.answer(200, b"ok")
        return self.answer(404, b"no such control")

    def next_scripted(self, resource):
        """A scripted status for this request, or None; consumed under the lock."""
        with STATE.lock:
            if resource.close_without_answer > 0:
                resource.close_without_answer -= 1
                return "close"
            if resource.statuses:
                return resource.statuses.pop(0)
            if self.command == "GET" and resource.get_statuses:
                return resource.get_statuses.pop(0)
        return None

    def serve(self):
        with STATE.lock:
            resource = STATE.resources.get(urllib.parse.urlsplit(self.path).path)
        if resource is None:
            return self.answer(404, b"not found")
        if resource.proxied_only and self.headers.get(PROXIED_HEADER) is None:
            return self.answer(403, b"only through the proxy")
        if resource.delay_ms:
            time.sleep(resource.delay_ms / 1000.0)
        if resource.redirect is not None:
            self.send_response(302)
            self.send_header("Location", resource.redirect)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        scripted = self.next_scripted(resource)
        if scripted == "close":
            return self.drop()
        if scripted is not None:
            status, reason = (scripted if isinstance(scripted, list) else [scripted, None])
            return self.answer(int(status), b"scripted", reason=reason)

        unmodified = self.headers.get("If-Unmodified-Since")
        if (unmodified is not None and resource.check_unmodified
                and unmodified != resource.last_modified):
            return self.answer(412, b"precondition failed")

        first, status, content_range = 0, 200, None
        asked = self.requested_offset()
        if asked is None and resource.partial_to_plain is not None:
            count = int(resource.partial_to_plain)
            content_range = "bytes 0-%d/%d" % (count - 1, resource.size)
            return self.send_body(resource, 206, 0, content_range, end=count)
        if asked is not None and resource.range != "ignore":
            if resource.range == "416" or asked >= resource.size:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % resource.size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            first = asked
            if resource.range == "wrong":
                first = max(0, asked - 100)
            status = 206
            content_range = "bytes %d-%d/%d" % (first, resource.size - 1, resource.size)
        self.send_body(resource, status, first, content_range)

    def requested_offset(self):
        value = self.headers.get("Range")
        if not value or not value.startswith("bytes=") or not value.endswith("-"):
            return None
        try:
            return int(value[len("bytes="):-1])
        except ValueError:
            return None

    def send_body(self, resource, status, first, content_range, end=None):
        end = resource.size if end is None else end
        self.send_response(status, resource.status_text)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        if resource.last_modified is not None:
            self.send_header("Last-Modified", resource.last_modified)
        if content_range:
            self.send_header("Content-Range", content_range)
        if resource.content_length_text is not None:
            self.send_header("Content-Length", resource.content_length_text)
            # A length the client cannot trust leaves the connection's end
            # unknown: it is not offered for another request.
            self.send_header("Connection", "close")
            self.close_connection = True
        elif resource.content_length:
            self.send_header("Content-Length", str(end - first))
        else:
            self.close_connection = True
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        cut = None
        with STATE.lock:
            if resource.cut_after is not None and resource.cut_times > 0:
                resource.cut_times -= 1
                cut = int(resource.cut_after)
        end = end if cut is None else min(end, first + cut)
        pieces = (body_slices(resource.seed, first, end) if resource.data is None
                  else (resource.data[pos:min(end, pos + PERIOD)] for pos in range(first, end, PERIOD)))
        if resource.hang_after is not None:
            end = min(end, first + int(resource.hang_after))
            pieces = body_slices(resource.seed, first, end) if resource.data is None else [resource.data[first:end]]
        if resource.trickle_ms is not None:
            return self.write_trickle(b"".join(pieces), int(resource.trickle_ms))
        self.write_throttled(pieces, resource.rate)
        if resource.hang_after is not None:
            return self.hang()
        if cut is not None:
            self.drop()
        elif not resource.content_length:
            self.drop()

    def client_gone(self, seconds):
        """Waits up to seconds; True once the client has closed its end."""
        readable, _, _ = select.select([self.connection], [], [], seconds)
        if not readable:
            return False
        try:
            # Nothing more is expected from the client during an answer, so
            # reading here loses nothing (and works on TLS sockets too).
            return self.connection.recv(1) == b""
        except (OSError, ValueError):
            return True

    def hang(self):
        self.wfile.flush()
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and not self.client_gone(0.2):
            pass
        self.close_connection = True

    def write_trickle(self, data, interval_ms):
        try:
            for pos in range(len(data)):
                self.wfile.write(data[pos:pos + 1])
                self.wfile.flush()
                if self.client_gone(interval_ms / 1000.0):
                    break
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True

    def write_throttled(self, pieces, rate):
        try:
            for piece in pieces:
                if not rate:
                    self.wfile.write(piece)
                    continue
                for pos in range(0, len(piece), 16384):
                    self.wfile.write(piece[pos:pos + 16384])
                    self.wfile.flush()
                    time.sleep(16384.0 / float(rate))
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    # -- proxy ----------------------------------------------------------------------
    def proxy_mode_or_refusal(self):
        """Records a request to the proxy; answers it and gives None when the
        proxy refuses, else gives the proxy's mode."""
        STATE.record("proxy", self)
        with STATE.lock:
            mode = STATE.proxy_mode
        if mode == "403":
            self.answer(403, b"proxy refuses")
            return None
        if mode == "407":
            self.send_response(407, "Proxy Authentication Required")
            for scheme in ("Basic realm=\"kv-test\"", "NTLM", "Negotiate"):
                self.send_header("Proxy-Authenticate", scheme)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        if mode == "close":
            self.drop()
            return None
        return mode

    def proxy(self):
        mode = self.proxy_mode_or_refusal()
        if mode is None:
            return
        target = urllib.parse.urlsplit(self.path)
        host, port = target.hostname, target.port or 80
        if mode == "origin":
            host, port = "127.0.0.1", STATE.origin_port
        elif host not in ("127.0.0.1", "localhost"):
            return self.answer(502, b"this proxy only reaches 127.0.0.1")
        upstream = http.client.HTTPConnection(host, port, timeout=30)
        headers = {k: v for k, v in self.headers.items()
                   if k.lower() not in ("proxy-connection", "connection", "keep-alive")}
        headers[PROXIED_HEADER] = "1"
        path = target.path + ("?" + target.query if target.query else "")
        try:
            upstream.request(self.command, path, body=self.read_body() or None, headers=headers)
            response = upstream.getresponse()
            self.send_response(response.status, response.reason)
            for key, value in response.getheaders():
                if key.lower() not in ("connection", "keep-alive", "transfer-encoding", "server", "date"):
                    self.send_header(key, value)
            if response.getheader("Content-Length") is None:
                self.close_connection = True
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD":
                announced = response.getheader("Content-Length")
                forwarded = 0
                while True:
                    piece = response.read(65536)
                    if not piece:
                        break
                    self.wfile.write(piece)
                    forwarded += len(piece)
                if announced is not None and forwarded < int(announced):
                    self.drop()
        except (OSError, http.client.HTTPException):
            # The origin went away mid-answer: so does the proxy.
            self.drop()
        finally:
            upstream.close()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class TlsServer(Server):
    """An origin over TLS. The handshake runs in the request's own thread, so
    that a client that stalls or refuses the certificate holds up nobody."""

    def __init__(self, address, handler, context):
        self.context = context
        Server.__init__(self, address, handler)

    def finish_request(self, request, client_address):
        try:
            request.settimeout(30)
            secure = self.context.wrap_socket(request, server_side=True)
            secure.settimeout(None)
        except (OSError, ssl.SSLError):
            return  # the client refused the certificate, or went away
        try:
            Server.finish_request(self, secure, client_address)
        finally:
            secure.close()


def tls_server(folder, name):
    """A TLS origin with folder/name, or None when there is none to load."""
    path = os.path.join(folder, name) if folder else ""
    if not path or not os.path.isfile(path):
        return None
    try:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(path)
    except (OSError, ssl.SSLError) as error:
        print("no TLS origin for %s: %s" % (path, error), flush=True)
        return None
    return TlsServer(("127.0.0.1", 0), Handler, context)


def watch(parent_pid, max_seconds):
    deadline = time.monotonic() + max_seconds
    while time.monotonic() < deadline:
        time.sleep(0.5)
        if parent_pid:
            try:
                os.kill(parent_pid, 0)
            except OSError:
                break
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--parent-pid", type=int, default=0)
    parser.add_argument("--max-seconds", type=float, default=1800)
    parser.add_argument("--proxy-mode", default="forward", help="the proxy's mode at start")
    parser.add_argument("--tls-dir", default="", help="folder of good.pem, wronghost.pem, untrusted.pem")
    parser.add_argument("--resource", action="append", default=[],
                        help="JSON of a resource served from the start (repeatable)")
    args = parser.parse_args()
    STATE.proxy_mode = args.proxy_mode
    for description in args.resource:
        resource = Resource(json.loads(description))
        STATE.resources[resource.path] = resource

    origin = Server(("127.0.0.1", 0), Handler)
    proxy = Server(("127.0.0.1", 0), Handler)
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    closed.bind(("127.0.0.1", 0))  # bound, never listening: connections are refused
    STATE.origin_port = origin.server_address[1]

    secure = [tls_server(args.tls_dir, name) for name in ("good.pem", "wronghost.pem", "untrusted.pem")]
    STATE.tls_port = secure[0].server_address[1] if secure[0] else 0

    for server in [origin, proxy] + [s for s in secure if s]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as out:
        out.write("%d %d %d %s\n" % (origin.server_address[1], proxy.server_address[1],
                                     closed.getsockname()[1],
                                     " ".join(str(s.server_address[1] if s else 0) for s in secure)))
    os.replace(temporary, args.port_file)
    watch(args.parent_pid, args.max_seconds)


if __name__ == "__main__":
    main()
