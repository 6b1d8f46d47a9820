#!/usr/bin/env python3
"""HTTPS server on 127.0.0.1 for the transport's TLS test: it reads one
request at a time (head and Content-Length body) and answers 200 with the
exact bytes it received, so the test sees what arrived through TLS.

usage: tls_echo_server.py CERT KEY PORT_FILE
"""
import socket
import ssl
import sys


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
            length = int(value.strip() or 0)
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body


def main():
    cert, key, port_file = sys.argv[1:4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    import os
    os.replace(port_file + ".tmp", port_file)
    while True:
        raw, _ = listener.accept()
        raw.settimeout(30)
        try:
            conn = context.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            # A client that refuses our certificate hangs up here.
            raw.close()
            continue
        try:
            request = read_request(conn)
            answer = (b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      b"Content-Length: " + str(len(request)).encode() + b"\r\n\r\n" + request)
            conn.sendall(answer)
            try:
                conn.unwrap()
            except (ssl.SSLError, OSError):
                pass
        except (ssl.SSLError, OSError):
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()
