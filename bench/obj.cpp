// Reading OBJ files of about two million triangles: kelReadOBJ against
// tinyobjloader and a plain two-pass fscanf reader, in the same run.
//
// Two generated files: a grid of 1001 x 1001 vertices with positions,
// texture coordinates and normals (v/vt/vn faces), and the same grid with
// positions only. Each benchmark reports MB/s of file read; the counter
// peak_MiB is the high-water resident memory of a fresh process that reads
// the file once with that reader (this program run again with --peak), less
// that of a process that only starts.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kel/kel.h"

namespace {

const int kGrid = 1001;  // 2 * 1000 * 1000 triangles

std::string benchDir() {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/orvandel_bench_obj";
}

std::string filePath(bool full) { return benchDir() + (full ? "/grid_vtn_v1.obj" : "/grid_v_v1.obj"); }

size_t fileSize(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0 ? size_t(s.st_size) : 0;
}

// A wavy grid, numbers written as exporters write them ("%.6f").
void generate(const std::string& path, bool full) {
    if (fileSize(path) > 0) return;
    mkdir(benchDir().c_str(), 0700);
    std::string partial = path + ".part";
    FILE* f = fopen(partial.c_str(), "w");
    if (!f) {
        fprintf(stderr, "bench_obj: can't write %s\n", partial.c_str());
        exit(1);
    }
    fprintf(f, "# %d x %d grid\n", kGrid, kGrid);
    for (int i = 0; i < kGrid; i++)
        for (int j = 0; j < kGrid; j++) {
            double x = i * 0.01 - 5, z = j * 0.01 - 5, y = 0.5 * std::sin(x * 1.3) * std::cos(z * 0.7);
            fprintf(f, "v %.6f %.6f %.6f\n", x, y, z);
        }
    if (full) {
        for (int i = 0; i < kGrid; i++)
            for (int j = 0; j < kGrid; j++) fprintf(f, "vt %.6f %.6f\n", i / double(kGrid - 1), j / double(kGrid - 1));
        for (int i = 0; i < kGrid; i++)
            for (int j = 0; j < kGrid; j++) {
                double x = i * 0.01 - 5, z = j * 0.01 - 5;
                double dx = -0.65 * std::cos(x * 1.3) * std::cos(z * 0.7),
                       dz = 0.35 * std::sin(x * 1.3) * std::sin(z * 0.7);
                double l = std::sqrt(dx * dx + 1 + dz * dz);
                fprintf(f, "vn %.6f %.6f %.6f\n", dx / l, 1 / l, dz / l);
            }
    }
    fprintf(f, "g grid\n");
    for (int i = 0; i + 1 < kGrid; i++)
        for (int j = 0; j + 1 < kGrid; j++) {
            int a = i * kGrid + j + 1, b = a + 1, c = a + kGrid, d = c + 1;
            if (full) {
                fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, b, b, b);
                fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", b, b, b, c, c, c, d, d, d);
            } else {
                fprintf(f, "f %d %d %d\nf %d %d %d\n", a, c, b, b, c, d);
            }
        }
    fclose(f);
    rename(partial.c_str(), path.c_str());
}

// --- The readers, each returning its triangle count -------------------------------

size_t readKel(const char* path) {
    KelModel* m = kelReadOBJ(path);
    size_t n = m->numtriangles;
    kelDelete(m);
    return n;
}

size_t readTinyobj(const char* path) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path, nullptr, true)) return 0;
    size_t n = 0;
    for (const tinyobj::shape_t& s : shapes) n += s.mesh.num_face_vertices.size();
    return n;
}

// Two passes with the C library's stream scanner: count, allocate, rewind,
// fill. Knows the statements and face forms of the generated files.
struct ScanModel {
    std::vector<float> v, vt, vn;
    std::vector<unsigned> faces;  // 9 indices per triangle
};

size_t readFscanf(const char* path) {
    FILE* f = fopen(path, "r");
    if (!f) return 0;
    char token[128], line[256];
    size_t nv = 0, nvt = 0, nvn = 0, nf = 0;
    while (fscanf(f, "%127s", token) == 1) {
        if (strcmp(token, "v") == 0)
            nv++;
        else if (strcmp(token, "vt") == 0)
            nvt++;
        else if (strcmp(token, "vn") == 0)
            nvn++;
        else if (strcmp(token, "f") == 0)
            nf++;
        if (!fgets(line, sizeof line, f)) break;
    }
    ScanModel m;
    m.v.resize(3 * nv);
    m.vt.resize(2 * nvt);
    m.vn.resize(3 * nvn);
    m.faces.resize(9 * nf);
    rewind(f);
    float* v = m.v.data();
    float* vt = m.vt.data();
    float* vn = m.vn.data();
    unsigned* face = m.faces.data();
    while (fscanf(f, "%127s", token) == 1) {
        if (strcmp(token, "v") == 0) {
            if (fscanf(f, "%f %f %f", v, v + 1, v + 2) != 3) break;
            v += 3;
        } else if (strcmp(token, "vt") == 0) {
            if (fscanf(f, "%f %f", vt, vt + 1) != 2) break;
            vt += 2;
        } else if (strcmp(token, "vn") == 0) {
            if (fscanf(f, "%f %f %f", vn, vn + 1, vn + 2) != 3) break;
            vn += 3;
        } else if (strcmp(token, "f") == 0) {
            if (nvt) {
                if (fscanf(f, "%u/%u/%u %u/%u/%u %u/%u/%u", face, face + 1, face + 2, face + 3, face + 4, face + 5,
                           face + 6, face + 7, face + 8) != 9)
                    break;
            } else if (fscanf(f, "%u %u %u", face, face + 3, face + 6) != 3) {
                break;
            }
            face += 9;
        } else if (!fgets(line, sizeof line, f)) {
            break;
        }
    }
    fclose(f);
    return size_t(face - m.faces.data()) / 9;
}

using Reader = size_t (*)(const char*);
const std::map<std::string, Reader> readers = {
    {"kel", readKel}, {"tinyobj", readTinyobj}, {"fscanf", readFscanf}, {"none", nullptr}};

// High-water resident memory, in KiB, of this program run again with
// --peak READER FILE.
long peakKiB(const char* self, const std::string& reader, const std::string& path) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        execl(self, self, "--peak", reader.c_str(), path.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    char text[64] = {};
    ssize_t got = read(fds[0], text, sizeof text - 1);
    close(fds[0]);
    int status;
    waitpid(child, &status, 0);
    return got > 0 ? atol(text) : -1;
}

void readBenchmark(benchmark::State& state, const char* reader, bool full) {
    std::string path = filePath(full);
    generate(path, full);
    Reader read = readers.at(reader);
    size_t triangles = 0;
    for (auto _ : state) {
        triangles = read(path.c_str());
        benchmark::DoNotOptimize(triangles);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fileSize(path)));
    state.counters["triangles"] = double(triangles);
    state.counters["file_MB"] = double(fileSize(path)) / 1e6;
    long base = peakKiB("/proc/self/exe", "none", path), peak = peakKiB("/proc/self/exe", reader, path);
    state.counters["peak_MiB"] = double(peak - base) / 1024.0;
}

}  // namespace

BENCHMARK_CAPTURE(readBenchmark, kel_vtn, "kel", true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(readBenchmark, tinyobj_vtn, "tinyobj", true)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(readBenchmark, fscanf_vtn, "fscanf", true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(readBenchmark, kel_v, "kel", false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(readBenchmark, tinyobj_v, "tinyobj", false)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(readBenchmark, fscanf_v, "fscanf", false)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--peak") == 0) {
        Reader read = readers.at(argv[2]);
        if (read) read(argv[3]);
        // VmHWM starts afresh with the program; getrusage's high-water mark
        // would carry the forking benchmark's over the exec.
        long kib = -1;
        if (FILE* status = fopen("/proc/self/status", "r")) {
            char line[256];
            while (fgets(line, sizeof line, status))
                if (sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
            fclose(status);
        }
        printf("%ld\n", kib);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
