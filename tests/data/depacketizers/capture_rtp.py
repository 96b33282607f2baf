#!/usr/bin/env python3
"""Receives RTP datagrams on 127.0.0.1:PORT until the sender has been quiet
for a second and writes them to FILE with a 2-byte big-endian length in
front of each (RFC 4571 framing)."""
import socket
import struct
import sys

port, path = int(sys.argv[1]), sys.argv[2]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
s.bind(('127.0.0.1', port))
s.settimeout(10)  # for the sender to start
packets = []
try:
    while True:
        packets.append(s.recv(65536))
        s.settimeout(1)
except socket.timeout:
    pass
with open(path, 'wb') as f:
    for p in packets:
        f.write(struct.pack('>H', len(p)) + p)
