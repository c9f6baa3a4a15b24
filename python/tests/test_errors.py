"""Failures: every error path with its exception classes, progress and
cancelling, the GIL released while kel reads, no leak across failed loads."""

import errno
import os
import resource
import subprocess
import threading
import time
import tracemalloc

import numpy as np
import pytest
from conftest import big_obj

import kel


def test_each_failure_raises_kel_error_and_its_builtin_class(tmp_path):
    locked = tmp_path / "locked.obj"
    locked.write_text("v 0 0 0\n")
    locked.chmod(0)
    utf16 = tmp_path / "utf16.obj"
    utf16.write_bytes("v 0 0 0\n".encode("utf-16"))
    cases = [
        # load, code, line, errno, the built-in class it also is
        (lambda: kel.load_mesh(tmp_path / "missing.obj"), kel.ERROR_OPEN, 0, errno.ENOENT, FileNotFoundError),
        (lambda: kel.load_mesh(str(tmp_path)), kel.ERROR_OPEN, 0, errno.EISDIR, IsADirectoryError),
        (lambda: kel.load(bytes(tmp_path / "missing.obj")), kel.ERROR_OPEN, 0, errno.ENOENT, FileNotFoundError),
        (lambda: kel.load_mesh(utf16), kel.ERROR_ENCODING, 0, 0, None),
        (lambda: kel.load_mesh_bytes(b"v 0 0 0\nf 1 2 3\n"), kel.ERROR_INDEX, 2, 0, None),
        (lambda: kel.load_mesh_bytes(b"v 0 0 0\nvp 1\n"), kel.ERROR_STATEMENT, 2, 0, None),
        (lambda: kel.load_mesh_bytes(b"v 0 0 0\n\nv 1 x 0\n", strict=True), kel.ERROR_SYNTAX, 3, 0, None),
        (lambda: kel.load_mesh_bytes(b"v 0 0 0\n" * 10, max_input=20), kel.ERROR_LIMIT, 0, 0, None),
        (lambda: kel.load_mesh_bytes(b"mtllib m.mtl\n", "x.obj", library={}), kel.ERROR_LIBRARY, 1, 0, None),
    ]
    if os.geteuid() != 0:  # root reads whatever the mode says
        cases.append((lambda: kel.load_mesh(locked), kel.ERROR_OPEN, 0, errno.EACCES, PermissionError))
    for load, code, line, system_error, builtin in cases:
        with pytest.raises(kel.Error) as caught:
            load()
        e = caught.value
        assert (e.code, e.line, e.system_error) == (code, line, system_error), e.message
        assert e.message and str(e) == e.message
        if builtin:
            assert isinstance(e, builtin) and e.errno == system_error and e.filename
        else:
            assert not isinstance(e, OSError)


def test_out_of_memory_is_also_memory_error():
    # kel reports it through the same path as every other code.
    e = kel._types._error(kel.ERROR_MEMORY, 0, 0, "kel: out of memory")
    assert isinstance(e, kel.Error) and isinstance(e, MemoryError) and e.code == kel.ERROR_MEMORY


def test_progress_reports_and_cancels(tmp_path):
    path = big_obj(tmp_path / "big.obj", 400_000)  # about 24 MB: more than one 16 MiB step
    size = path.stat().st_size
    calls = []
    kel.load_mesh(path, progress=lambda done, total: calls.append((done, total)))
    total = calls[-1][1]  # the input's size, twice when several threads read it twice
    assert len(calls) >= 2 and calls[-1][0] == total and total in (size, 2 * size)
    assert all(t == total for _, t in calls) and [d for d, _ in calls] == sorted(d for d, _ in calls)
    # A true result cancels with kel's error; an exception cancels and
    # comes out as it is, KeyboardInterrupt too; either way no more calls.
    for stop, expect in ((lambda: True, kel.Error), (KeyboardInterrupt, KeyboardInterrupt), (ValueError("x"), ValueError)):
        calls.clear()

        def progress(done, total):
            calls.append(done)
            if not callable(stop) or stop is KeyboardInterrupt:
                raise stop
            return stop()

        with pytest.raises(expect) as caught:
            kel.load_mesh(path, progress=progress)
        assert len(calls) == 1 and calls[0] <= 16 << 20
        if expect is kel.Error:
            assert caught.value.code == kel.ERROR_CANCELLED
        elif isinstance(stop, BaseException):
            assert caught.value is stop


def test_loads_release_the_gil_and_run_side_by_side(tmp_path, scene):
    # The file is a pipe that a separate process fills after 1 s; a Python
    # thread that wakes after 0.1 s runs during the load only if the load
    # let go of the GIL (otherwise it runs when the load returns).
    fifo = tmp_path / "pipe.obj"
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", 'sleep 1; cat "$0" > "$1"', str(scene), str(fifo)])
    woke = []
    sleeper = threading.Thread(target=lambda: (time.sleep(0.1), woke.append(time.monotonic())))
    sleeper.start()
    mesh = kel.load_mesh(fifo)
    ended = time.monotonic()
    sleeper.join()
    writer.wait()
    assert woke[0] < ended - 0.3 and len(mesh.indices) == len(kel.load_mesh(scene).indices)
    # Two threads at once give what each gives alone.
    files = [big_obj(tmp_path / ("t%d.obj" % i), 50_000 + i) for i in range(2)]
    alone = [kel.load_mesh(f) for f in files]
    together = [None, None]
    threads = [threading.Thread(target=lambda i=i: together.__setitem__(i, kel.load_mesh(files[i]))) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, together):
        assert np.array_equal(a.positions, b.positions) and np.array_equal(a.indices, b.indices)


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * (resource.getpagesize() // 1024)


def test_no_leak_across_a_thousand_failed_loads(tmp_path):
    # Each failure comes after kel has read a good part of a 200 KB file;
    # a buffer kept per failure would add up to hundreds of megabytes.
    body = b"v 1 2 3\nvt 0 0\nvn 0 0 1\n" * 8000 + b"f 1/1/1 2/2/1 3/3/1\n" * 2000
    path = tmp_path / "late.obj"
    path.write_bytes(body + b"f 99999 1 2\n")

    def cancel(done, total):
        if done == total:
            raise RuntimeError("stop")

    failures = [
        lambda: kel.load_mesh(path),  # index out of range at the end
        lambda: kel.load_mesh(tmp_path / "missing.obj"),
        lambda: kel.load_mesh_bytes(body + b"vp 1\n"),
        lambda: kel.load_mesh_bytes(body, progress=cancel),
        lambda: kel.load_mesh_bytes(b"mtllib a.mtl\n" + body, library=lambda name: 1 / 0),
        lambda: kel.load(path),
    ]

    def run(times):
        for i in range(times):
            with pytest.raises((kel.Error, RuntimeError, ZeroDivisionError)):
                failures[i % len(failures)]()

    run(60)  # warm up: the allocator's pools, numpy, the exception classes
    tracemalloc.start()
    before_py, before_rss = tracemalloc.get_traced_memory()[0], rss_kib()
    run(1000)
    after_py, after_rss = tracemalloc.get_traced_memory()[0], rss_kib()
    tracemalloc.stop()
    assert after_py - before_py < 64 * 1024
    assert after_rss - before_rss < 16 * 1024, "RSS grew by %d KiB" % (after_rss - before_rss)
