#!/usr/bin/env python3
"""Loopback HTTPS server for the transport and dialogue tests.

Binds 127.0.0.1 on an ephemeral port and prints the port as the first line of
standard output. Replies come from a script; every request received is
appended to a record file. Standard library only.

Script (JSON): {"/path": [reply, ...], "*": [reply, ...]}. A request is matched
by its path without the query first, then by the whole target, then by "*".
Each request to a path takes the next reply of its list; the last one repeats.
An unscripted path gets 404. A reply holds any of:
  status            HTTP status (200; 302 when "redirect" is given)
  body              text, sent as UTF-8
  body_hex          bytes as hexadecimal (instead of "body")
  content_type      Content-Type ("text/plain; charset=utf-8")
  headers           {"Name": "value"} sent as well
  redirect          Location of a redirect
  drop_after_bytes  announce the whole body but send only this many bytes of it,
                    then drop the connection
  stall_seconds     wait this long before replying
  fill_bytes        a body of this many "x" bytes (instead of "body")
  pieces            the body as [[bytes as hexadecimal, times], ...], each piece
                    sent that many times (instead of "body")
  endless           send "x" bytes without end and without a length, until the
                    client goes
  trickle_seconds   send the body one byte at a time, this long apart
  chunked           send the body in chunks (Transfer-Encoding: chunked)
  read_bytes_per_second  take in the request body no faster than this

With --proxy the server is also an HTTPS proxy: a CONNECT request is recorded
like any other (its path is the host and port asked for) and then tunnelled
to that address.

Record (JSON Lines, one object per request, written before the reply is sent):
  method, path (the request target as sent), headers ([[name, value], ...] in
  order), body (the bytes as Latin-1 text), body_base64, client_cert_subject
  (RFC 2253 form, null when the client presented none).

Handshakes (JSON Lines, one object per TLS handshake, if --handshakes is given):
  completed (true or false), client_cert_subject (as above), error (text, when
  the handshake failed).
"""

import argparse
import base64
import http.server
import json
import select
import socket
import ssl
import sys
import threading
import time

SHORT_NAMES = {
    "commonName": "CN",
    "organizationName": "O",
    "organizationalUnitName": "OU",
    "countryName": "C",
    "localityName": "L",
    "stateOrProvinceName": "ST",
    "streetAddress": "STREET",
    "domainComponent": "DC",
    "userId": "UID",
}


def subject_text(cert):
    if not cert or "subject" not in cert:
        return None
    rdns = []
    for rdn in reversed(cert["subject"]):
        rdns.append("+".join(f"{SHORT_NAMES.get(k, k)}={v}" for k, v in rdn))
    return ",".join(rdns)


class Script:
    def __init__(self, replies):
        self._replies = replies
        self._taken = {}
        self._lock = threading.Lock()

    def next_reply(self, target):
        path = target.split("?", 1)[0]
        for key in (path, target, "*"):
            replies = self._replies.get(key)
            if replies:
                with self._lock:
                    index = self._taken.get(key, 0)
                    self._taken[key] = index + 1
                return replies[min(index, len(replies) - 1)]
        return {"status": 404, "body": "not found"}


class Recorder:
    def __init__(self, path):
        self._file = open(path, "a", encoding="ascii") if path else None
        self._lock = threading.Lock()

    def write(self, entry):
        if not self._file:
            return
        with self._lock:
            self._file.write(json.dumps(entry, ensure_ascii=True) + "\n")
            self._file.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrxTestServer/1"

    def setup(self):
        self.request.settimeout(30)
        try:
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            self.server.handshakes.write({"completed": False, "client_cert_subject": None,
                                          "error": str(error)})
            raise
        self.server.handshakes.write({
            "completed": True,
            "client_cert_subject": subject_text(self.request.getpeercert())})
        super().setup()

    def log_message(self, format, *args):
        if self.server.verbose:
            sys.stderr.write("%s\n" % (format % args))

    def _read_body(self, per_second):
        if per_second:
            length = int(self.headers.get("Content-Length", "0") or "0")
            body = b""
            while len(body) < length:
                piece = self.rfile.read(min(length - len(body), max(1, per_second // 10)))
                if not piece:
                    break
                body += piece
                time.sleep(0.1)
            return body
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def _serve(self):
        reply = self.server.script.next_reply(self.path)
        body = self._read_body(int(reply.get("read_bytes_per_second", 0)))
        self.server.recorder.write({
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("latin-1"),
            "body_base64": base64.b64encode(body).decode("ascii"),
            "client_cert_subject": subject_text(self.connection.getpeercert()),
        })
        if reply.get("stall_seconds"):
            time.sleep(float(reply["stall_seconds"]))
        if reply.get("endless"):
            self.send_response(int(reply.get("status", 200)))
            self.send_header("Content-Type", reply.get("content_type", "text/plain"))
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            block = b"x" * 65536
            try:
                while True:
                    self.wfile.write(block)
            except OSError:
                return
        if "fill_bytes" in reply:
            content = b"x" * int(reply["fill_bytes"])
        elif "pieces" in reply:
            content = b"".join(bytes.fromhex(piece) * int(times) for piece, times in reply["pieces"])
        elif "body_hex" in reply:
            content = bytes.fromhex(reply["body_hex"])
        else:
            content = reply.get("body", "").encode("utf-8")
        status = int(reply.get("status", 302 if "redirect" in reply else 200))
        self.send_response(status)
        self.send_header("Content-Type", reply.get("content_type", "text/plain; charset=utf-8"))
        chunked = bool(reply.get("chunked"))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(len(content)))
        if "redirect" in reply:
            self.send_header("Location", reply["redirect"])
        for name, value in reply.get("headers", {}).items():
            self.send_header(name, value)
        self.end_headers()
        drop = reply.get("drop_after_bytes")
        if drop is not None:
            self.wfile.write(content[: int(drop)])
            self.wfile.flush()
            self.close_connection = True
            # Shut the TCP connection without a TLS close: a broken transfer.
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if reply.get("trickle_seconds"):
            try:
                for i in range(len(content)):
                    self.wfile.write(content[i:i + 1])
                    self.wfile.flush()
                    time.sleep(float(reply["trickle_seconds"]))
            except OSError:
                pass
            return
        if chunked:
            for at in range(0, len(content), 4096):
                piece = content[at:at + 4096]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.wfile.write(content)
        self.wfile.flush()

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = _serve

    def do_CONNECT(self):
        self.server.recorder.write({
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": "",
            "body_base64": "",
            "client_cert_subject": subject_text(self.connection.getpeercert()),
        })
        if not self.server.proxy:
            self.send_error(405)
            return
        host, _, port = self.path.rpartition(":")
        try:
            target = socket.create_connection((host.strip("[]"), int(port)), timeout=30)
        except (OSError, ValueError):
            self.send_error(502)
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self.close_connection = True
        client = self.connection
        try:
            while True:
                # Bytes the TLS layer has already read are not seen by select.
                if client.pending():
                    ready = [client]
                else:
                    ready, _, _ = select.select([client, target], [], [], 30)
                if not ready:
                    return
                if client in ready:
                    data = client.recv(65536)
                    if not data:
                        return
                    target.sendall(data)
                if target in ready:
                    data = target.recv(65536)
                    if not data:
                        return
                    client.sendall(data)
        except OSError:
            return
        finally:
            target.close()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def handle_error(self, request, client_address):
        if self.verbose:
            super().handle_error(request, client_address)


def make_context(args):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    if args.tls == "1.2":
        context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_2
    elif args.tls == "1.3":
        context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_3
    if args.client_cert != "none":
        if not args.client_ca:
            sys.exit("--client-ca is needed to ask for client certificates")
        context.load_verify_locations(args.client_ca)
        context.verify_mode = (ssl.CERT_REQUIRED if args.client_cert == "required"
                               else ssl.CERT_OPTIONAL)
    return context


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", required=True, help="server certificate (PEM)")
    parser.add_argument("--key", required=True, help="server private key (PEM)")
    parser.add_argument("--client-ca", help="CA that client certificates must chain to")
    parser.add_argument("--client-cert", choices=["none", "optional", "required"],
                        default="none")
    parser.add_argument("--tls", choices=["1.2", "1.3"], help="the only TLS version offered")
    parser.add_argument("--script", help="scripted replies (JSON)")
    parser.add_argument("--record", help="file to append the requests to (JSON Lines)")
    parser.add_argument("--handshakes", help="file to append the TLS handshakes to (JSON Lines)")
    parser.add_argument("--verbose", action="store_true", help="log to standard error")
    parser.add_argument("--proxy", action="store_true", help="tunnel CONNECT requests")
    args = parser.parse_args()

    replies = {}
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            replies = json.load(f)

    server = Server(("127.0.0.1", 0), Handler)
    server.tls = make_context(args)
    server.script = Script(replies)
    server.recorder = Recorder(args.record)
    server.handshakes = Recorder(args.handshakes)
    server.verbose = args.verbose
    server.proxy = args.proxy
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
