"""velk-run under the emulator, as the transcripts run it in a cross build: EMULATOR... VELK_RUN ARGS,
the run's standard input on descriptor 3 (Python cannot start with a directory for its own),
or none where 3 is closed.

qemu-user (7.2, Debian 12's) writes "qemu: uncaught target signal N (NAME) - core dumped" on
standard error for every guest process that a signal ends, even with core dumps off, when it
dumps none: for the plug-in's worker, and again for velk-run ending itself by the same signal.
Those lines are taken out here, and nothing else is changed: where standard error is a pipe,
the run's standard error goes through this process, with its standard output too where both are
the same pipe (as under cram, which reads the two in the order written), so that their order
stays; anything else (a file, /dev/full, closed) the run gets as it is. The run's status is
passed on, and a signal that ended it ends this process the same way.
"""
import os
import signal
import stat
import subprocess
import sys

QEMU_LINE = b"qemu: uncaught target signal "


def same_file(a, b):
    return (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino)


def write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


def fstat(fd):
    try:
        return os.fstat(fd)
    except OSError:
        return None


def main():
    given = 3 if fstat(3) else None
    errors = fstat(2)
    if errors is None or not stat.S_ISFIFO(errors.st_mode):
        if given is None:
            os.close(0)
        else:
            os.dup2(given, 0)
            os.close(given)
        os.execvp(sys.argv[1], sys.argv[1:])
    both = same_file(os.fstat(1), errors)
    read_end, write_end = os.pipe()
    # Without a descriptor 3 this process has no standard input either, and the run none.
    run = subprocess.Popen(sys.argv[1:], stdin=given, stdout=write_end if both else None,
                           stderr=write_end)
    os.close(write_end)
    pending = b""
    while True:
        chunk = os.read(read_end, 65536)
        if not chunk:
            break
        lines = (pending + chunk).split(b"\n")
        pending = lines.pop()
        kept = [line + b"\n" for line in lines if not line.startswith(QEMU_LINE)]
        # A line not yet whole waits for its end, so that a line of qemu's can be told.
        write_all(2, b"".join(kept))
    if pending and not pending.startswith(QEMU_LINE):
        write_all(2, pending)
    status = run.wait()
    if status < 0:
        signal.signal(-status, signal.SIG_DFL)
        os.kill(os.getpid(), -status)
    sys.exit(status)


main()
