#!/usr/bin/env python3
"""Album service stand-in for bench/photos/run-photos.sh: answers the login
with the address of the upload command and every upload with 0, reading each
request whole. Appends one line per request to LOG: the path, the body bytes,
the upload's "Filename" field and the SHA-1 of its file part, so that two runs
can be compared file by file. usage: photos_sink.py PORT LOG"""
import hashlib
import socket
import sys

DELIMITER = b"-----------------------------e2W7eajhJd09flh\r\n"


def parts(body):
    """(name, filename or None, content) of each part of a multipart body."""
    for part in body.split(DELIMITER)[1:]:
        head, _, rest = part.partition(b"\r\n\r\n")
        name = filename = None
        for line in head.split(b"\r\n"):
            if line.lower().startswith(b"content-disposition"):
                for item in line.split(b";"):
                    key, _, value = item.strip().partition(b"=")
                    if key == b"name":
                        name = value.strip(b'"')
                    elif key == b"filename":
                        filename = value.strip(b'"')
        end = rest.rfind(b"\r\n")
        yield name, filename, rest[:end]


def serve(conn, port, log):
    data = bytearray()
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(1 << 20)
        if not chunk:
            return
        data += chunk
    head, _, body = bytes(data).partition(b"\r\n\r\n")
    body = bytearray(body)
    path = head.split(b"\r\n")[0].split(b" ")[1].decode()
    length = 0
    for line in head.split(b"\r\n")[1:]:
        key, _, value = line.partition(b":")
        if key.strip().lower() == b"content-length":
            length = int(value.strip() or 0)
    while len(body) < length:
        chunk = conn.recv(1 << 20)
        if not chunk:
            break
        body += chunk
    if path.startswith("/login.php"):
        answer = ("0\r\nSId=bench\r\nUploadURL=http://127.0.0.1:%d/upload.php\r\n"
                  "DirListURL=http://127.0.0.1:%d/dirlist.php\r\n"
                  "CreateDirURL=http://127.0.0.1:%d/createdir.php\r\n" % (port, port, port))
    else:
        answer = "0"
    name, digest = "-", "-"
    for field, filename, content in parts(bytes(body)):
        if field == b"Filename":
            name = content.decode("latin-1")
        if filename is not None:
            digest = hashlib.sha1(content).hexdigest()
    log.write("%s %d %s %s\n" % (path.split("?")[0], len(body), name, digest))
    log.flush()
    answer = answer.encode()
    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(answer) + answer)


def main():
    port = int(sys.argv[1])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    with open(sys.argv[2], "a") as log:
        while True:
            conn, _ = listener.accept()
            try:
                serve(conn, port, log)
            except OSError:
                pass
            finally:
                conn.close()


if __name__ == "__main__":
    main()
