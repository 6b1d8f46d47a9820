#!/usr/bin/env python3
"""Loopback HTTP sink for bench/run-http.sh: reads each request (head and
Content-Length body, or a chunked body from curl), discards it and answers
200 "0". usage: http_sink.py PORT_FILE"""
import os
import socket
import sys


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(1 << 20)
        if not chunk:
            return
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip() or 0)
    got = len(rest)
    while got < length:
        chunk = conn.recv(1 << 20)
        if not chunk:
            return
        got += len(chunk)


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(sys.argv[1] + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.replace(sys.argv[1] + ".tmp", sys.argv[1])
    while True:
        conn, _ = listener.accept()
        try:
            read_request(conn)
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n0")
        except OSError:
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()
