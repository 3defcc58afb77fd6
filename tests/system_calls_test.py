#!/usr/bin/env python3
"""Conversions under strace: every system call that replaces a bank fails in turn.

Usage: system_calls_test.py PROGRAM

A conversion that replaces an earlier bank is traced once. Then each system call it makes
from the opening of the source on is made to fail, one run each, with a fitting errno, and
what is left must be one of:
  - status 0, with the new bank whole and the earlier bank's mode;
  - status 255, with the earlier bank byte for byte;
  - status 255 after a failed folder sync, with the new bank in place and a message saying so;
  - status 1 for a failure while the source is read, with the earlier bank;
  - written in place (a user who may write the bank but not its folder): status 255 with a
    message that the bank may be incomplete.
Never a temporary file left, never status 0 with the earlier bank in place. The same trace
shows the temporary file made private, synced before the rename, and the folder synced after
it. Last, signals that end a process arrive while strace holds the sync open: the run ends
by the signal, and the earlier bank and no temporary file are left.
"""
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

PROGRAM = os.path.abspath(sys.argv[1])
EARLIER = b"earlier bank"
USER = 4242  # the in-place runs' user, who owns the bank but not its folder

# A source bank: 8 unread bytes, then 128 records of 48 bytes; voice 0 is named.
SOURCE = bytearray(8 + 128 * 48)
SOURCE[8:16] = b"FAULTS01"


def expected_bank():
    """The bank the source gives, from the format tables: header, then 128 chunks of 71."""
    header = (b"CcnK" + struct.pack(">I", 0) + b"FBCh" + struct.pack(">I", 1) + b"ZELK" +
              struct.pack(">II", 1, 128) + bytes(128) + struct.pack(">I", 128 * 71))
    def chunk(name):  # an all-zero voice: the 0xFF marker at byte 10, the name at 55
        return bytes(10) + b"\xff" + bytes(44) + name + bytes(8)
    return header + chunk(b"FAULTS01") + chunk(bytes(8)) * 127


NEW = expected_bank()
assert len(NEW) == 9248

ERRNO_FOR = {
    "write": "ENOSPC", "pwrite64": "ENOSPC", "writev": "ENOSPC",
    "fsync": "EIO", "fdatasync": "EIO",
    "rename": "EXDEV", "renameat": "EXDEV", "renameat2": "EXDEV",
    "open": "EACCES", "openat": "EACCES",
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def no_core():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


def as_user():
    no_core()
    os.setgroups([])
    os.setgid(USER)
    os.setuid(USER)


def make_folder(in_place):
    folder = tempfile.mkdtemp(prefix="fmb2fxb-strace-")
    os.chmod(folder, 0o755)
    with open(os.path.join(folder, "bank.fmb"), "wb") as f:
        f.write(SOURCE)
    with open(os.path.join(folder, "bank.fxb"), "wb") as f:
        f.write(EARLIER)
    os.chmod(os.path.join(folder, "bank.fxb"), 0o640)
    if in_place:
        os.chown(os.path.join(folder, "bank.fxb"), USER, USER)
    return folder


def run(folder, strace_args, in_place):
    return subprocess.run(["strace", "-qq"] + strace_args + [PROGRAM, "bank.fmb"], cwd=folder,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          preexec_fn=as_user if in_place else no_core)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def calls_after_source(trace):
    """(name, ordinal among the calls of that name, line) from the source's opening on."""
    calls = []
    seen = {}
    started = False
    for line in trace.splitlines():
        match = re.match(r"(\w+)\(", line)
        if not match:
            continue
        name = match.group(1)
        seen[name] = seen.get(name, 0) + 1
        if not started and name in ("open", "openat") and '"bank.fmb"' in line:
            started = True
        if started and name != "exit_group":
            calls.append((name, seen[name], line))
    return calls


def baseline(in_place):
    folder = make_folder(in_place)
    try:
        trace = os.path.join(folder, "..", os.path.basename(folder) + ".trace")
        r = run(folder, ["-o", trace], in_place)
        check(r.returncode == 0 and read(os.path.join(folder, "bank.fxb")) == NEW,
              "the traced run converts (in place: %s): %r" % (in_place, r.stdout[-200:]))
        text = read(trace).decode("utf-8", "replace")
        os.remove(trace)
        return text
    finally:
        shutil.rmtree(folder)


def check_order(trace):
    """The temporary file is made private, synced, renamed over the bank, then the folder."""
    lines = trace.splitlines()
    def index(pattern, start=0):
        return next((i for i, line in enumerate(lines) if i >= start and re.search(pattern, line)),
                    -1)
    created = index(r'openat\(.*"bank\.fxb\.[0-9a-f]{16}\.tmp", .*O_EXCL.*, 0600\) = (\d+)')
    check(created >= 0, "the temporary file is created exclusively with mode 0600")
    if created < 0:
        return
    fd = re.search(r"= (\d+)$", lines[created]).group(1)
    synced = index(r"^fsync\(%s\)\s+= 0" % fd)
    renamed = index(r'^rename(at2?)?\(.*"bank\.fxb\.[0-9a-f]{16}\.tmp", .*"bank\.fxb"')
    folder_fd = [i for i, line in enumerate(lines) if i > renamed and
                 re.match(r'openat\(AT_FDCWD, "\.", O_RDONLY', line)]
    check(created < synced < renamed, "the temporary file is synced before the rename")
    if folder_fd:
        fd = re.search(r"= (\d+)$", lines[folder_fd[0]]).group(1)
        check(index(r"^fsync\(%s\)\s+= 0" % fd, folder_fd[0]) > renamed,
              "the folder is synced after the rename")
    else:
        check(False, "the folder is opened for its sync after the rename")


def inject_each(in_place):
    calls = calls_after_source(baseline(in_place))
    for name, nth, line in calls:
        error = ERRNO_FOR.get(name, "EIO")
        folder = make_folder(in_place)
        try:
            r = run(folder, ["-o", "/dev/null", "-e", "trace=" + name,
                             "-e", "inject=%s:error=%s:when=%d" % (name, error, nth)], in_place)
            what = "%s #%d (%s) failing with %s%s: status %d, %r" % (
                name, nth, line[:60], error, " in place" if in_place else "", r.returncode,
                r.stdout[-160:])
            entries = sorted(os.listdir(folder))
            bank = read(os.path.join(folder, "bank.fxb"))
            message = r.stdout.decode("utf-8", "replace")
            check(entries == ["bank.fmb", "bank.fxb"], what + ": entries " + repr(entries))
            mode = os.stat(os.path.join(folder, "bank.fxb")).st_mode & 0o7777
            if r.returncode == 0:
                check(bank == NEW and mode == 0o640,
                      what + ": status 0 without the new bank, mode %o" % mode)
            elif r.returncode == 1:
                check(bank == EARLIER and "error: cannot read bank.fmb" in message, what)
            elif r.returncode == 255:
                check(bank == EARLIER or
                      (bank == NEW and "written, but its folder cannot be synced" in message) or
                      (in_place and "written in place, the bank may be incomplete" in message),
                      what)
            else:
                check(False, what + ": unexpected status")
        finally:
            shutil.rmtree(folder)
    return len(calls)


def left_behind():
    """A temporary file that cannot be removed after a failure is named in the message."""
    folder = make_folder(False)
    try:
        r = run(folder, ["-o", "/dev/null", "-e", "trace=fsync,unlink",
                         "-e", "inject=fsync:error=EIO:when=1", "-e", "inject=unlink:error=EPERM"],
                False)
        temps = [e for e in os.listdir(folder) if e.endswith(".tmp")]
        message = r.stdout.decode("utf-8", "replace").split("\n")[-2]
        check(r.returncode == 255 and len(temps) == 1 and
              message == "error: cannot write bank.fxb: %s; %s is left behind" % (
                  os.strerror(5), temps[0]),
              "the message names the temporary file left behind: %r" % message)
        check(read(os.path.join(folder, "bank.fxb")) == EARLIER, "the earlier bank stays")
    finally:
        shutil.rmtree(folder)


def signals_during_sync():
    """Each signal that would end the process arrives while the sync is held open."""
    names = ["SIGQUIT", "SIGUSR1", "SIGUSR2", "SIGALRM", "SIGVTALRM", "SIGPROF", "SIGXCPU",
             "SIGPOLL", "SIGPWR", "SIGINT", "SIGTERM", "SIGHUP"]
    numbers = [getattr(signal, n) for n in names if hasattr(signal, n)]
    numbers += [signal.SIGRTMIN, signal.SIGRTMIN + 5, signal.SIGRTMAX]
    for number in numbers:
        folder = make_folder(False)
        try:
            tracer = subprocess.Popen(
                ["strace", "-qq", "-o", "/dev/null", "-e", "trace=fsync",
                 "-e", "inject=fsync:delay_enter=500000:when=1", PROGRAM, "bank.fmb"],
                cwd=folder, stdout=subprocess.DEVNULL, preexec_fn=no_core)
            child = None
            deadline = time.time() + 10
            while time.time() < deadline and child is None:
                temps = [e for e in os.listdir(folder) if e.endswith(".tmp")]
                children = open("/proc/%d/task/%d/children" % (tracer.pid, tracer.pid)).read()
                if temps and children.split():
                    child = int(children.split()[0])
                time.sleep(0.01)
            check(child is not None, "signal %d: the run reaches its temporary file" % number)
            if child is not None:
                os.kill(child, number)
            status = tracer.wait(timeout=30)
            entries = sorted(os.listdir(folder))
            check(status == -number, "signal %d ends the run by the signal: status %d" % (
                number, status))
            check(entries == ["bank.fmb", "bank.fxb"] and
                  read(os.path.join(folder, "bank.fxb")) == EARLIER,
                  "signal %d leaves the earlier bank and nothing else: %r" % (number, entries))
        finally:
            shutil.rmtree(folder)
    return len(numbers)


def main():
    if shutil.which("strace") is None:
        print("strace is not installed")
        return 1
    check_order(baseline(False))
    replaced = inject_each(False)
    print("replacing: %d system calls failed in turn" % replaced)
    if os.geteuid() == 0:
        written = inject_each(True)
        print("in place: %d system calls failed in turn" % written)
    else:
        print("not root: the in-place runs, which need a second user, are skipped")
    left_behind()
    print("signals during a held sync: %d" % signals_during_sync())
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
