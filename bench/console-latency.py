#!/usr/bin/env python3
"""How quickly the console answers the administrator while clients flood the room.

Starts the server on a virtual display of its own (Xvfb), connects one quiet client (the roster
entry that is clicked) and N flooding clients that send as fast as the server takes their bytes
and read what it relays, then measures from the display, as a person would act:
  - click: from a mouse click on the roster's first entry to the pop-up menu on the screen
    (a new viewable top-level window), several times, the menu closed with Esc in between;
  - esc:   from Esc pressed on the console to the end of the server process.
A step that takes longer than the limit is reported as ">LIMIT"; the flood then stops, so that
the queued input is handled and the run can go on.

Runs the Windows program under Wine (scripts/wine-run.sh, a prefix of its own) or the Linux
program (its Qt console on the same display). It listens on the fixed port: run it in a network
namespace of its own:

  unshare -n sh -c 'ip link set lo up; bench/console-latency.py --windows build/windows/chatroom-server.exe'
  unshare -n sh -c 'ip link set lo up; bench/console-latency.py --linux build/release/chatroom-server'

Needs Xvfb and xdotool.
"""
import argparse
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

PORT = 19730
FLOOD_CHUNK = 64 * 1024
READ_CHUNK = 256 * 1024
CAPTION = "聊天室服务器"
# The roster's first entry in the console's client area (the form's list box is at 5,35).
ENTRY_X, ENTRY_Y = 40, 44
# A point of the banner edit box, to give the console the focus without opening the pop-up.
BANNER_X, BANNER_Y = 100, 15
POLL_SECONDS = 0.005
SETTLE_SECONDS = 2.0
FIRST_DISPLAY = 170


def run(*command, env=None):
    return subprocess.run(command, env=env, capture_output=True, text=True).stdout


class Display:
    def __init__(self):
        # A display number of its own: an X server of another network namespace may hold the
        # low numbers' sockets in /tmp/.X11-unix while their abstract sockets look free here.
        number = next(n for n in range(FIRST_DISPLAY, FIRST_DISPLAY + 100)
                      if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        self.process = subprocess.Popen(["Xvfb", f":{number}", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env = dict(os.environ, DISPLAY=f":{number}")
        self.env.pop("XAUTHORITY", None)
        if wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{number}"), 10) is None:
            raise RuntimeError("Xvfb did not start")

    def xdotool(self, *arguments):
        return run("xdotool", *arguments, env=self.env)

    def popup_shown(self, program_class, console):
        """Whether a window of the program other than the console is on the screen: the pop-up."""
        return bool(set(self.xdotool("search", "--onlyvisible", "--class", program_class).split()) - {console})

    def close(self):
        self.process.terminate()
        self.process.wait()


class Flood(threading.Thread):
    """One quiet reader and N flooders in one select loop; counts the bytes each way. The
    flooders only send: what the room relays to them waits in their queues, at its cap."""

    def __init__(self, flooders):
        super().__init__(daemon=True)
        self.quiet = connect()
        time.sleep(0.3)
        self.flooders = [connect() for _ in range(flooders)]
        for peer in [self.quiet] + self.flooders:
            peer.setblocking(False)
        self.sent = 0
        self.received = 0
        self.flooding = threading.Event()
        self.flooding.set()
        self.stopped = threading.Event()
        self.quiet_closed = threading.Event()
        self.payload = b"x" * (FLOOD_CHUNK - 2) + b"\r\n"

    def run(self):
        readers = [self.quiet]
        while not self.stopped.is_set():
            writers = self.flooders if self.flooding.is_set() else []
            readable, writable, _ = select.select(readers, writers, [], 0.1)
            for peer in readable:
                try:
                    got = peer.recv(READ_CHUNK)
                except OSError:
                    got = b""
                if not got:
                    readers.remove(peer)
                    if peer is self.quiet:
                        self.quiet_closed.set()
                    continue
                self.received += len(got)
            for peer in writable:
                try:
                    self.sent += peer.send(self.payload)
                except (BlockingIOError, OSError):
                    pass

    def stop(self):
        self.stopped.set()
        self.join()
        for peer in [self.quiet] + self.flooders:
            peer.close()


def connect(deadline_seconds=180):
    deadline = time.monotonic() + deadline_seconds
    while True:
        try:
            return socket.create_connection(("127.0.0.1", PORT), timeout=5)
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.2)


def wait_for(condition, limit):
    started = time.monotonic()
    while time.monotonic() - started < limit:
        if condition():
            return time.monotonic() - started
        time.sleep(POLL_SECONDS)
    return None


def start_server(arguments, display, workdir):
    if arguments.windows:
        program = os.path.join(workdir, "chatroom-server.exe")
        shutil.copy(arguments.windows, program)
        prefix = os.path.abspath(arguments.prefix)
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        command = [os.path.join(root, "scripts", "wine-run.sh"), "--prefix", prefix, program]
        # A session of the prefix left from an earlier run would be on another display.
        subprocess.run(command[:3] + ["--stop"], env=display.env, capture_output=True)
    else:
        program = os.path.join(workdir, "chatroom-server")
        shutil.copy(arguments.linux, program)
        command = [program]
    reply = arguments.reply
    shutil.copy(reply, os.path.join(workdir, "reply.ini"))
    env = dict(display.env, XDG_CONFIG_HOME=workdir, QT_QPA_PLATFORM="xcb")
    log = open(os.path.join(tempfile.gettempdir(), "console-latency-server.log"), "w")
    return subprocess.Popen(command, cwd=workdir, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)


def measure(arguments, flooders):
    display = Display()
    workdir = tempfile.mkdtemp(prefix="console-latency-")
    server = start_server(arguments, display, workdir)
    flood = None
    result = {"flooders": flooders, "click": [], "esc": None}
    try:
        flood = Flood(flooders)
        console = None
        for _ in range(int(60 / 0.2)):
            console = display.xdotool("search", "--onlyvisible", "--name", CAPTION).split()
            if console:
                break
            time.sleep(0.2)
        if not console:
            raise RuntimeError("the console did not show")
        console = console[0]
        flood.start()
        time.sleep(SETTLE_SECONDS)
        before = (flood.sent, time.monotonic())
        program_class = "chatroom-server.exe" if arguments.windows else "chatroom-server"
        shown = lambda: display.popup_shown(program_class, console)
        for _ in range(arguments.clicks):
            # A click on the banner first: the roster's click then always begins anew.
            display.xdotool("mousemove", "--window", console, str(BANNER_X), str(BANNER_Y), "click", "1")
            time.sleep(0.3)
            display.xdotool("mousemove", "--window", console, str(ENTRY_X), str(ENTRY_Y + arguments.y_offset), "click", "1")
            took = wait_for(shown, arguments.limit)
            if took is None:
                flood.flooding.clear()
                late = wait_for(shown, 120)
                flood.flooding.set()
                result["click"].append(f">{arguments.limit:g}" + (f" (shown {late:.2f}s after the flood stopped)" if late is not None else " (never shown)"))
            else:
                result["click"].append(f"{took:.3f}")
            display.xdotool("key", "Escape")
            wait_for(lambda: not shown(), 120)
            time.sleep(0.3)
        sent, since = flood.sent - before[0], time.monotonic() - before[1]
        result["flood MB/s"] = f"{sent / since / 1e6:.1f}" if flooders else "0"
        display.xdotool("key", "Escape")
        took = wait_for(lambda: server.poll() is not None, arguments.limit)
        if took is None:
            flood.flooding.clear()
            late = wait_for(lambda: server.poll() is not None, 120)
            result["esc"] = f">{arguments.limit:g}" + (f" (ended {late:.2f}s after the flood stopped)" if late is not None else " (did not end)")
        else:
            result["esc"] = f"{took:.3f}"
        result["dissolution seen"] = bool(wait_for(lambda: flood.quiet_closed.is_set(), 5) is not None)
    finally:
        if flood:
            flood.stop()
        if server.poll() is None:
            server.kill()
            server.wait()
        if arguments.windows:
            root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
            subprocess.run([os.path.join(root, "scripts", "wine-run.sh"), "--prefix", os.path.abspath(arguments.prefix), "--stop"],
                           env=display.env, capture_output=True)
        display.close()
        shutil.rmtree(workdir, ignore_errors=True)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    target = parser.add_mutually_exclusive_group(required=True)
    target.add_argument("--windows", help="chatroom-server.exe, run under Wine")
    target.add_argument("--linux", help="the Linux chatroom-server, with its Qt console")
    parser.add_argument("--prefix", default="build/windows/wine-prefix-bench", help="the Wine prefix (Windows only)")
    parser.add_argument("--reply", default=os.path.join(os.path.dirname(__file__), "..", "data", "reply.ini"))
    parser.add_argument("--flooders", default="0,1,10", help="comma-separated numbers of flooding clients")
    parser.add_argument("--clicks", type=int, default=3, help="clicks on the roster per run")
    parser.add_argument("--limit", type=float, default=20, help="seconds to wait for an answer")
    parser.add_argument("--y-offset", type=int, default=0, help="added to the entry's y (a frame drawn inside the window)")
    arguments = parser.parse_args()
    for count in (int(n) for n in arguments.flooders.split(",")):
        print(measure(arguments, count), flush=True)


if __name__ == "__main__":
    sys.exit(main())
