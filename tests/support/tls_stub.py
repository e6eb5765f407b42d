#!/usr/bin/python3
# tls_stub.py CERT KEY CLIENT_CA DIR
# A scripted HTTPS server on 127.0.0.1:443 for the certificate API client's tests (run it in a
# private network namespace). It requires a client certificate that CLIENT_CA signed; for each
# connection it records the raw request in DIR/request (headers, then Content-Length bytes of
# body), answers with the bytes of DIR/response as they stand (an empty file: nothing) and closes
# with a TLS close_notify (unwrap); while DIR/abrupt exists it ends the TCP stream without one,
# and while DIR/hold exists it keeps the connection open instead, until the client goes. A refused
# handshake is reported on standard error. "ready" on standard output once it listens.
import os
import socket
import ssl
import sys

cert, key, client_ca, work = sys.argv[1:5]


def put(name, data):
    tmp = os.path.join(work, name + ".tmp")
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, os.path.join(work, name))


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
context.verify_mode = ssl.CERT_REQUIRED
context.load_verify_locations(client_ca)

server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 443))
server.listen(8)
print("ready", flush=True)

while True:
    raw, _ = server.accept()
    raw.settimeout(20)
    try:
        conn = context.wrap_socket(raw, server_side=True)
    except (ssl.SSLError, OSError) as e:
        print("tls_stub.py: handshake refused:", e, file=sys.stderr, flush=True)
        raw.close()
        continue
    try:
        put("request", read_request(conn))
        with open(os.path.join(work, "response"), "rb") as f:
            conn.sendall(f.read())
        if os.path.exists(os.path.join(work, "hold")):
            # A server that keeps the connection open: nothing more until the client goes.
            while conn.recv(65536):
                pass
        elif os.path.exists(os.path.join(work, "abrupt")):
            # The connection ends without a close_notify: the TCP stream simply stops.
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()
        else:
            conn.unwrap()
    except (ssl.SSLError, OSError):
        pass  # a client that goes without its close_notify
    finally:
        raw.close()
