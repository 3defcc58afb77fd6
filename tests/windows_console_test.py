#!/usr/bin/env python3
"""fmb2fxb.exe under Wine with a console: messages carry a path's own characters.

Usage: windows_console_test.py WINE-RUN PREFIX PROGRAM

Run with code page 1252, which lacks kana. On a console (Wine makes a pseudo-terminal its
console and shows UTF-16 text there as UTF-8) the message names 音色なし.fmb as it is; piped,
it shows the code page's "????.fmb". Wine wraps console text in cursor escapes, so the test
looks for the name's bytes, not for the whole line.
"""
import os
import pty
import select
import subprocess
import sys
import tempfile
import time

wine_run, prefix, program = sys.argv[1:4]
NAME = "音色なし.fmb"


def on_console(folder):
    """What the program shows on a pseudo-terminal, and its status."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        env = dict(os.environ, FMB2FXB_WINE_CONSOLE="1")
        os.execve(wine_run, [wine_run, prefix, program, NAME], env)
    shown = b""
    status = None
    deadline = time.time() + 120
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                data = os.read(fd, 4096)
            except OSError:  # the terminal's other side has closed
                data = b""
            shown += data
            if data:
                continue
        if status is not None:
            break
        done, code = os.waitpid(pid, os.WNOHANG)
        if done:
            status = os.waitstatus_to_exitcode(code)
    os.close(fd)
    return shown, status


def main():
    with tempfile.TemporaryDirectory() as folder:
        shown, status = on_console(folder)
        piped = subprocess.run([wine_run, prefix, program, NAME], cwd=folder,
                               stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    failures = 0
    if status != 1 or NAME.encode() not in shown or b"cannot read" not in shown:
        print("on a console: status %r, shown %r" % (status, shown))
        failures += 1
    if piped.stdout != b"error: cannot read ????.fmb: No such file or directory\r\n":
        print("piped: %r" % piped.stdout)
        failures += 1
    print("%d passed, %d failed" % (2 - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
