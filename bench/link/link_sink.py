#!/usr/bin/env python3
"""HTTP sink for bench/link/run-link.sh: reads each request (head and
Content-Length body), answers 200 "0" and appends "<body bytes> <seconds from
the head to the last byte>" to PORT_FILE.log. With SAVE, the body and head of
each request are also written to SAVE and SAVE.head (to capture the exact
bytes the program sends). usage: link_sink.py PORT_FILE [SAVE]"""
import os
import socket
import sys
import time


def serve(conn, log, save):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(1 << 20)
        if not chunk:
            return
        data += chunk
    start = time.monotonic()
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip() or 0)
    out = None
    if save:
        with open(save + ".head", "wb") as f:
            f.write(head + b"\r\n\r\n")
        out = open(save, "wb")
        out.write(rest)
    got = len(rest)
    while got < length:
        chunk = conn.recv(1 << 20)
        if not chunk:
            break
        got += len(chunk)
        if out:
            out.write(chunk)
    if out:
        out.close()
    log.write("%d %.6f\n" % (got, time.monotonic() - start))
    log.flush()
    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n0")


def main():
    port_file = sys.argv[1]
    save = sys.argv[2] if len(sys.argv) > 2 else None
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.replace(port_file + ".tmp", port_file)
    with open(port_file + ".log", "a") as log:
        while True:
            conn, _ = listener.accept()
            try:
                serve(conn, log, save)
            except OSError:
                pass
            finally:
                conn.close()


if __name__ == "__main__":
    main()
