#!/usr/bin/python3
"""kel.load_mesh against the Python OBJ readers Debian ships (open3d,
meshio, pywavefront) and against the C kelLoadMesh, on the generated grids
of bench_obj --generate (2 million triangles each).

Every read runs in a fresh process (this script again with --once), so each
peak is that read's own: the high-water resident memory of the process
(ru_maxrss) less that of the same process just before the read, after its
imports. Readers are paired and interleaved: in each round kel reads first,
then each peer, then the C program (bench_obj --once kelmesh, whose peak is
measured by bench/peak.h, less that of it reading an empty input). Prints, per file and reader, the
median time and peak with their lowest and highest, and kel's ratios;
then two loads one after the other against two on two Python threads at
once (the GIL released while kel reads).

Usage: bench/python_peers.py BUILD_DIR [ROUNDS] [READERS] [FILES]
  BUILD_DIR: a build with -DORVANDEL_BENCH=ON (bench_obj) and the module
  (BUILD_DIR/python/kel); ROUNDS default 5; READERS a comma list of
  open3d, meshio, pywavefront (default all three), "" for none; FILES a
  comma list of the grids' names (default the three). Installs the peers with
  tools/deps.sh. Slow: a peer takes up to 45 s a read.
"""

import os
import resource
import statistics
import subprocess
import sys
import time

FILES = ["grid_vtn_v1.obj", "grid_v_v1.obj", "grid_quads_v1.obj"]
PEERS = {"open3d": "python3-open3d", "meshio": "python3-meshio", "pywavefront": "python3-pywavefront"}


def read_once(reader, path):
    """One read in this process: prints triangles, seconds and peak KiB."""
    if reader == "kel":
        import kel

        load = lambda: len(kel.load_mesh(path).indices)  # noqa: E731
    elif reader == "open3d":
        import open3d

        load = lambda: len(open3d.io.read_triangle_mesh(path).triangles)  # noqa: E731
    elif reader == "meshio":
        import meshio

        load = lambda: sum(len(c.data) for c in meshio.read(path).cells)  # noqa: E731
    elif reader == "pywavefront":
        import pywavefront

        def load():
            scene = pywavefront.Wavefront(path, collect_faces=True, create_materials=True)
            return sum(len(m.faces) for m in scene.mesh_list)

    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start = time.perf_counter()
    triangles = load()
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    print(triangles, seconds, peak)


def threads_once(path, rounds):
    """Two loads of `path` (one reading thread each) one after the other,
    then on two Python threads at once, alternately; prints the medians."""
    import threading

    import kel

    load = lambda: kel.load_mesh(path, threads=1)  # noqa: E731
    load()  # the first load of a process pays for memory the system hands it
    serial, parallel = [], []
    for _ in range(rounds):
        start = time.perf_counter()
        load(), load()
        serial.append(time.perf_counter() - start)
        workers = [threading.Thread(target=load) for _ in range(2)]
        start = time.perf_counter()
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        parallel.append(time.perf_counter() - start)
    print(statistics.median(serial), statistics.median(parallel), min(parallel) / max(serial))


def run(command, env=None):
    out = subprocess.run(command, check=True, capture_output=True, text=True, env=env).stdout.split()
    return [float(x) for x in out[-3:]]


def c_once(bench, path, baseline):
    """bench_obj --once kelmesh: seconds (the whole process, so a few
    milliseconds of starting it count against C) and peak KiB less
    `baseline`, that of the same program reading an empty input."""
    start = time.perf_counter()
    triangles, peak = run([bench, "--once", "kelmesh", path])[-2:]
    seconds = time.perf_counter() - start
    return triangles, seconds, peak - baseline


def spread(values):
    return "%.3g (%.3g to %.3g)" % (statistics.median(values), min(values), max(values))


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "--once":
        return read_once(sys.argv[2], sys.argv[3])
    if len(sys.argv) >= 4 and sys.argv[1] == "--threads":
        return threads_once(sys.argv[2], int(sys.argv[3]))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    peers = [p for p in sys.argv[3].split(",") if p] if len(sys.argv) > 3 else list(PEERS)
    files = sys.argv[4].split(",") if len(sys.argv) > 4 else FILES
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    subprocess.run(["bash", os.path.join(root, "tools/deps.sh")] + [PEERS[p] for p in peers], check=True)
    bench = os.path.join(build, "bench", "bench_obj")
    folder = subprocess.run([bench, "--generate"], check=True, capture_output=True, text=True).stdout.split()[-1]
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"), OMP_NUM_THREADS=os.environ.get("OMP_NUM_THREADS", ""))
    me = [sys.executable, os.path.abspath(__file__), "--once"]
    load = os.getloadavg()
    print("# %d cores, load %.2f %.2f %.2f, %s, %d rounds, each read a fresh process" % (
        (os.cpu_count() or 0,) + load + (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), rounds)))
    print("| file | reader | seconds, median (low to high) | peak MiB, median (low to high) | kel time / reader's | kel peak / reader's |")
    print("|---|---|---|---|---|---|")
    for name in files:
        path = os.path.join(folder, name)
        readers = ["kel"] + peers + ["C kelLoadMesh"]
        times = {r: [] for r in readers}
        peaks = {r: [] for r in readers}
        tris = {}
        baseline = run([bench, "--peak", "kelmesh", "/dev/null"])[-1]
        for _ in range(rounds):
            for r in readers:
                t, s, p = c_once(bench, path, baseline) if r == "C kelLoadMesh" else run(me + [r, path], env)
                print("%s %s: %.2f s, %.0f MiB" % (name, r, s, p / 1024), file=sys.stderr, flush=True)
                tris[r] = int(t)
                times[r].append(s)
                peaks[r].append(p / 1024)
        for r in readers:
            ratio_t = statistics.median(times["kel"]) / statistics.median(times[r])
            ratio_p = statistics.median(peaks["kel"]) / statistics.median(peaks[r])
            label = r if tris[r] == tris["kel"] else "%s (%d faces)" % (r, tris[r])
            print("| %s | %s | %s | %s | %.3f | %.3f |" % (name, label, spread(times[r]), spread(peaks[r]), ratio_t, ratio_p))
        sys.stdout.flush()
    path = os.path.join(folder, FILES[1])
    serial, parallel, _ = run([sys.executable, os.path.abspath(__file__), "--threads", path, str(rounds)], env)
    print("\nTwo loads of %s, one reading thread each: %.3g s one after the other, %.3g s on two Python threads "
          "at once (%.2fx; medians of %d)" % (FILES[1], serial, parallel, parallel / serial, rounds))


if __name__ == "__main__":
    main()
