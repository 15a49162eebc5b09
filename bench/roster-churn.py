#!/usr/bin/env python3
"""What one member that joins and leaves over and over costs a room full of pages.

Starts the server, joins N pages that follow the room (page format version 2, each with a
nickname, each reading everything), then connects and closes one TCP client K times, GAP
seconds apart. Every join and leave changes the roster that each page is told. Prints the bytes
the pages received and the server's processor time during the churn, against the time it took.

It listens on the fixed port: run it in a network namespace of its own, with room for the
descriptors:

  unshare -n sh -c 'ip link set lo up; ulimit -n 8192; bench/roster-churn.py build/release/chatroom-server'
"""
import argparse
import os
import select
import socket
import subprocess
import tempfile
import time

ROOM_PORT = 19730
WEB_PORT = 19731
UPGRADE = (b'GET /ws HTTP/1.1\r\nHost: 127.0.0.1:19731\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n'
           b'Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n'
           b'Sec-WebSocket-Protocol: chatroom.v2\r\n\r\n')
MASK = b'\x01\x02\x03\x04'
# A masked text frame's payload this short has its length in the second byte.
SHORT_PAYLOAD = 125
SETTLE_SECONDS = 2.0
READ_SLICE_SECONDS = 0.05
START_WAIT_SECONDS = 10.0


def masked_text_frame(payload):
    assert len(payload) <= SHORT_PAYLOAD
    masked = bytes(byte ^ MASK[i % len(MASK)] for i, byte in enumerate(payload))
    return bytes([0x81, 0x80 | len(payload)]) + MASK + masked


def processor_seconds(pid):
    fields = open(f'/proc/{pid}/stat').read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def wait_for_port(port):
    deadline = time.monotonic() + START_WAIT_SECONDS
    while time.monotonic() < deadline:
        try:
            socket.create_connection(('127.0.0.1', port)).close()
            return
        except OSError:
            time.sleep(0.05)
    raise SystemExit(f'nothing listens on port {port}')


def join_page(number):
    page = socket.create_connection(('127.0.0.1', WEB_PORT))
    page.sendall(UPGRADE)
    page.sendall(masked_text_frame(('{"type":"name","name":"p%d"}' % number).encode()))
    page.setblocking(False)
    return page


def read_for(pages, seconds):
    """Reads whatever the pages are sent for `seconds`; returns how many bytes."""
    received = 0
    deadline = time.monotonic() + seconds
    while (left := deadline - time.monotonic()) > 0:
        readable, _, _ = select.select(pages, [], [], min(left, READ_SLICE_SECONDS))
        for page in readable:
            try:
                received += len(page.recv(1 << 20))
            except BlockingIOError:
                pass
    return received


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('server', help='the built chatroom-server')
    parser.add_argument('--pages', type=int, default=1000)
    parser.add_argument('--churns', type=int, default=200)
    parser.add_argument('--gap', type=float, default=0.025, help='seconds between a join and its leave, and after it')
    args = parser.parse_args()

    environment = dict(os.environ)
    environment.pop('DISPLAY', None)
    environment.pop('WAYLAND_DISPLAY', None)
    # Its own folder: no word library, settings or vote store of another run.
    folder = tempfile.TemporaryDirectory()
    server = subprocess.Popen([os.path.abspath(args.server)], env=environment, cwd=folder.name,
                              stdout=subprocess.DEVNULL)
    try:
        wait_for_port(WEB_PORT)
        pages = [join_page(i) for i in range(args.pages)]
        read_for(pages, SETTLE_SECONDS)
        processor_before = processor_seconds(server.pid)
        started = time.monotonic()
        received = 0
        for _ in range(args.churns):
            churner = socket.create_connection(('127.0.0.1', ROOM_PORT))
            received += read_for(pages, args.gap)
            churner.close()
            received += read_for(pages, args.gap)
        received += read_for(pages, SETTLE_SECONDS)
        print(f'{args.pages} pages, {args.churns} joins and leaves {args.gap} s apart: the pages received '
              f'{received / 1e6:.1f} MB; the server used {processor_seconds(server.pid) - processor_before:.2f} s '
              f'of processor in {time.monotonic() - started:.1f} s')
    finally:
        server.terminate()
        server.wait()
        folder.cleanup()


if __name__ == '__main__':
    main()
