#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_driver_requests (fuzz/corpus/driver_requests/):
short request sequences that a client of one board makes, so that fuzzing
starts past the id checks. Usage: python3 fuzz/make_driver_seeds.py"""
import os, struct

RECORD = 116  # bytes each request takes from the input (the largest record)
CODES = ["GET_CONFIGURATION", "RENDER", "SYNC", "ABORT", "HOST_BUFFER_ALLOC", "HOST_BUFFER_FREE",
         "GET_BOARD_PEERS", "BUFFER_ALLOCATE", "BUFFER_ATTACH", "BUFFER_SET_PERMISSION",
         "BUFFER_DETACH", "BUFFER_LOAD", "BUFFER_UNLOAD", "BUFFER_MAP", "BUFFER_UNMAP",
         "BUFFER_BOARD2BOARD", "DEBUG_CQUEUE_DUMP"]


def request(code, fields):
    return bytes([CODES.index(code)]) + fields.ljust(RECORD, b"\0")


def box(maxu, maxv=0, maxw=0):
    return struct.pack("<10i", 0, 0, 0, maxu, maxv, maxw, 0, 0, 0, 0)


def allocate(dim, elem_bytes, u, v=0, w=0):
    return request("BUFFER_ALLOCATE", struct.pack("<iIi5i", 0, 0, 3, dim, elem_bytes - 1, u, v, w))


def transfer(code, buffer, maxu, maxv, elem_bytes, host=1):
    head = struct.pack("<iIIII", 0, 0, 0, 0, buffer) + box(maxu, maxv)
    tail = struct.pack("<iQ5ii3i", host, 0, 2, elem_bytes - 1, maxu + 1, maxv + 1, 1, 0, 0, 0, 0)
    return request(code, head + tail)


def sync(*events):
    ids = b"".join(struct.pack("<Ii", e, 0) for e in events)
    return request("SYNC", struct.pack("<6i", 0, 0, 1, -1, len(events), 0) + ids)


def seeds():
    host = request("HOST_BUFFER_ALLOC", struct.pack("<iiQQi", 0, 0, 0, 65536, 0))
    yield "load_sync_unload", (b"\0" + host + allocate(1, 2, 16, 8) + transfer("BUFFER_LOAD", 1, 15, 7, 2)
                               + sync(1) + transfer("BUFFER_UNLOAD", 1, 15, 7, 2) + sync(2))
    yield "map_unmap_detach", (b"\0" + allocate(2, 1, 8, 8, 8)
                               + request("BUFFER_MAP", struct.pack("<iIIi", 0, 1, 0, 3) + box(7, 7, 7)
                                         + struct.pack("<ii", 0, 0))
                               + request("BUFFER_UNMAP", struct.pack("<iIQQ", 0, 1, 0, 0))
                               + request("BUFFER_DETACH", struct.pack("<iI", 0, 1)))
    yield "copy_between_buffers", (b"\x01" + allocate(0, 4, 64) + allocate(0, 4, 64)
                                   + request("BUFFER_BOARD2BOARD", struct.pack("<iIIII", 0, 0, 0, 0, 1) + box(63)
                                             + struct.pack("<IIII", 0, 0, 0, 2) + box(63))
                                   + sync(1, 2))
    yield "render_refused", (b"\x02" + allocate(1, 4, 16, 16)
                             + request("RENDER", struct.pack("<iIIIIQQiIQiI", 0, 0, 0, 0, 0, 1, 1, 4, 0, 0, 0, 1))
                             + struct.pack("<I", 1) + box(15, 15) + b"\xff" * 4 * 11 * 4)
    yield "everything_once", b"\0" + b"".join(request(c, b"") for c in CODES)


here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "driver_requests")
os.makedirs(here, exist_ok=True)
for name, data in seeds():
    open(os.path.join(here, name), "wb").write(data)
