#!/usr/bin/env python3
"""Runs a test on an X server of its own, so window tests can run side by side.

Usage: own_display.py PROGRAM [ARGS...]

Every GUI test finds its windows by class on the display, and Setup lets only one wizard
run per display, so two GUI tests on one shared server would see each other's windows.
With a server each they need not wait for one another. Listing the tests needs no display.
The server ends with the test; should this script be killed (a CTest timeout), the server
is told to end with it.
"""
import ctypes
import os
import select
import signal
import subprocess
import sys

START_TIMEOUT_S = 30
PR_SET_PDEATHSIG = 1


def end_with_parent():
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def start_server():
    """Starts Xvfb on a free display; returns (process, display) or raises."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
         "-noreset", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, preexec_fn=end_with_parent)
    os.close(write_end)
    text = b""
    try:
        while not text.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], START_TIMEOUT_S)
            if not ready:
                raise RuntimeError(f"Xvfb named no display within {START_TIMEOUT_S} s")
            chunk = os.read(read_end, 64)
            if not chunk:
                raise RuntimeError(f"Xvfb ended before naming a display (exit {server.wait()})")
            text += chunk
    except BaseException:
        stop_server(server)
        raise
    finally:
        os.close(read_end)
    return server, ":" + text.decode().strip()


def stop_server(server):
    if server.poll() is None:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


def main():
    command = sys.argv[1:]
    if not command:
        print("usage: own_display.py PROGRAM [ARGS...]", file=sys.stderr)
        return 2
    if "--gtest_list_tests" in command:
        os.execvp(command[0], command)
    try:
        server, display = start_server()
    except (OSError, RuntimeError) as error:
        print(f"own_display: cannot start an X server: {error}", file=sys.stderr)
        return 1
    environment = dict(os.environ, DISPLAY=display)
    environment.pop("XAUTHORITY", None)  # the server takes local clients without a cookie
    try:
        status = subprocess.call(command, env=environment, preexec_fn=end_with_parent)
    finally:
        stop_server(server)
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
