#!/usr/bin/env python3
"""One upload of a file over TCP, the same sender for every receiver of the single-upload comparison.

    raw_upload.py HOST PORT FILE                   the file's bytes alone (socat writing them to a file)
    raw_upload.py HOST PORT FILE METHOD TARGET     an HTTP/1.1 request with the file as its body

The body goes out with sendfile(2) from the page cache, so the sender costs little and does the same
work whoever receives: the receivers are what is compared. Prints the answer's status ("-" without
HTTP) and the seconds from connecting until the receiver closed the connection (after its answer, or
once the bytes were written).
"""
import os
import socket
import sys
import time


def main():
    host, port, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    method, target = (sys.argv[4], sys.argv[5]) if len(sys.argv) > 5 else (None, None)
    size = os.path.getsize(path)
    with open(path, "rb") as source:
        start = time.monotonic()
        connection = socket.create_connection((host, port))
        if method:
            head = (f"{method} {target} HTTP/1.1\r\nHost: {host}:{port}\r\nContent-Length: {size}\r\n"
                    "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n")
            connection.sendall(head.encode())
        connection.sendfile(source)
        connection.shutdown(socket.SHUT_WR)
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
        seconds = time.monotonic() - start
        connection.close()
    status = answer.split(b" ", 2)[1].decode() if method and answer.startswith(b"HTTP/") else "-"
    print(status, f"{seconds:.6f}")


if __name__ == "__main__":
    main()
