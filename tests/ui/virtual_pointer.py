#!/usr/bin/env python3
"""A mouse for a headless wlroots compositor (sway), which has no input
device of its own: a virtual pointer (zwlr_virtual_pointer_v1) spoken over
the Wayland socket, so that the compositor moves its cursor and delivers
the buttons as it would a user's.

    virtual_pointer.py WIDTH HEIGHT

WIDTH x HEIGHT is the whole output layout. Reads lines "click X Y [N]"
(layout coordinates) from standard input: each moves the pointer there,
presses and releases the left button N times (once by default), 100 ms
apart, and is answered by the line "done". One pointer
serves them all: XWayland does not take up a pointer that comes after one
has gone."""
import os
import socket
import struct
import sys
import time

BTN_LEFT = 0x110


class Connection:
    def __init__(self):
        path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ["WAYLAND_DISPLAY"])
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id = 2
        self.buffer = b""
        self.globals = {}

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, payload=b""):
        self.sock.sendall(struct.pack("<II", obj, (8 + len(payload)) << 16 | opcode) + payload)

    def events(self):
        while True:
            while len(self.buffer) >= 8:
                obj, word = struct.unpack_from("<II", self.buffer)
                size = word >> 16
                if len(self.buffer) < size:
                    break
                payload, self.buffer = self.buffer[8:size], self.buffer[size:]
                yield obj, word & 0xFFFF, payload
            data = self.sock.recv(65536)
            if not data:
                raise SystemExit("the compositor closed the connection")
            self.buffer += data

    def roundtrip(self, registry=None):
        callback = self.new_id()
        self.send(1, 0, struct.pack("<I", callback))  # wl_display.sync
        for obj, opcode, payload in self.events():
            if obj == 1 and opcode == 0:  # wl_display.error
                _, code, length = struct.unpack_from("<III", payload)
                raise SystemExit("protocol error %d: %s" % (code, payload[12:12 + length - 1].decode()))
            if obj == registry and opcode == 0:  # wl_registry.global
                name, length = struct.unpack_from("<II", payload)
                interface = payload[8:8 + length - 1].decode()
                version = struct.unpack_from("<I", payload, 8 + (length + 3) // 4 * 4)[0]
                self.globals[interface] = (name, version)
            if obj == callback and opcode == 0:
                return


def string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def now():
    return int(time.monotonic() * 1000) & 0xFFFFFFFF


def main(argv):
    width, height = int(argv[1]), int(argv[2])
    wayland = Connection()
    registry = wayland.new_id()
    wayland.send(1, 1, struct.pack("<I", registry))  # wl_display.get_registry
    wayland.roundtrip(registry)
    interface = "zwlr_virtual_pointer_manager_v1"
    if interface not in wayland.globals:
        raise SystemExit("the compositor offers no virtual pointer")
    manager = wayland.new_id()
    wayland.send(registry, 0, struct.pack("<I", wayland.globals[interface][0]) + string(interface) +
                 struct.pack("<II", 1, manager))  # wl_registry.bind
    pointer = wayland.new_id()
    wayland.send(manager, 0, struct.pack("<II", 0, pointer))  # create_virtual_pointer, any seat
    wayland.roundtrip()
    # The clients learn that the seat has a pointer now and ask for theirs.
    time.sleep(0.3)
    for line in sys.stdin:
        verb, x, y, *presses = line.split()
        x, y = int(x), int(y)
        if verb != "click":
            raise SystemExit("unknown action " + verb)
        # XWayland also moves its pointer by the jump, once more: a last
        # step of one pixel leaves it where it belongs.
        for at in ((x + 1, y), (x, y)):
            wayland.send(pointer, 1, struct.pack("<IIIII", now(), at[0], at[1], width, height))  # motion_absolute
            wayland.send(pointer, 4)  # frame
            wayland.roundtrip()
            time.sleep(0.1)
        time.sleep(0.1)
        for state in (1, 0) * int(presses[0] if presses else 1):
            wayland.send(pointer, 2, struct.pack("<III", now(), BTN_LEFT, state))  # button
            wayland.send(pointer, 4)
            wayland.roundtrip()
            time.sleep(0.05)
        print("done", flush=True)
    wayland.send(pointer, 8)  # destroy
    wayland.roundtrip()


if __name__ == "__main__":
    main(sys.argv)
