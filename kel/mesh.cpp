// Meshes: one vertex per distinct index combination, 0-based arrays, and
// draw ranges, made from a model on several threads.
//
// A combination is a key (position, normal, texture coordinate); keys are
// found exactly, by their indices, never by comparing floats. The positions
// are split into one part per thread, and each thread walks every corner in
// drawing order but takes only those whose position lies in its part: for
// them it looks the key up in a short chain of the keys met so far at that
// position, adding it when new. A key's first corner in drawing order is
// where it was added, so each part's keys come out in first-use order; a
// key's vertex number is then its rank among the first corners of all
// parts, which the threads find by merging the parts' ordered lists. Each
// part is walked in one order whatever the thread count, so the mesh is the
// same on any number of threads. kelLoadMesh, which lets the model go, has a
// way that takes less memory where the groups allow it (mesh_stream.cpp).
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "kel/kel_internal.h"
#include "kel/mesh_keys.h"

using namespace kelmesh;

namespace kelmesh {

bool grow(Part& part) {
    unsigned capacity = part.capacity > UINT32_MAX / 2 ? UINT32_MAX : 2 * part.capacity;
    Key* keys = static_cast<Key*>(kelTryRealloc(part.keys, sizeof(Key) * size_t(capacity)));
    if (keys) part.keys = keys;
    unsigned* firsts = part.firsts;
    if (keys && firsts) firsts = static_cast<unsigned*>(kelTryRealloc(firsts, sizeof(unsigned) * size_t(capacity)));
    if (firsts) part.firsts = firsts;
    if (!keys || (part.firsts && !firsts)) return false;
    part.capacity = capacity;
    return true;
}

}  // namespace kelmesh

namespace {

constexpr unsigned kMaxThreads = 64;
// Below this many corners one thread does it all: starting others costs more.
constexpr uint64_t kSmallCorners = uint64_t(1) << 16;

// Calls visit(corner, triangle, k, v) for every corner of the drawing order
// whose position lies in `part`, stopping (false) at the first triangle that
// its group names out of range, recorded in part.fault.
template <typename Visit>
bool eachCorner(const Job& job, Part& part, Visit visit) {
    const KelModel* model = job.model;
    for (size_t g = 0; g < job.numgroups; g++) {
        const KelGroup* group = job.groups[g];
        uint64_t corner = job.bases[g];
        for (unsigned i = 0; i < group->numtriangles; i++, corner += 3) {
            unsigned t = group->triangles[i];
            if (t >= model->numtriangles) {
                part.fault = {KEL_ERROR_INDEX, corner, t, t, model->numtriangles, nullptr, group};
                return false;
            }
            const KelTriangle& triangle = model->triangles[t];
            for (unsigned k = 0; k < 3; k++) {
                unsigned v = triangle.vindices[k];
                if (v - part.lo <= part.span && !visit(unsigned(corner + k), t, k, v)) return false;
            }
        }
    }
    return true;
}

// Finds the keys of one part and gives each of its corners its key's local
// number.
void findKeys(Job& job, Part& part) {
    eachCorner(job, part, [&](unsigned corner, unsigned t, unsigned k, unsigned v) {
        return lookupKey(job, part, corner, job.model->triangles[t], t, k, v, &job.indices[corner]);
    });
}

// The vertex number of each key of part p: its rank among the first
// corners of every part's keys (its local number when there is one part).
// Kept in the key's `next`.
void rankKeys(Job& job, unsigned p) {
    Part& part = job.parts[p];
    for (unsigned j = 0; j < part.numkeys; j++) part.keys[j].next = j;
    for (unsigned q = 0; q < job.numparts; q++) {
        if (q == p) continue;
        const Part& other = job.parts[q];
        unsigned before = 0;
        for (unsigned j = 0; j < part.numkeys; j++) {
            while (before < other.numkeys && other.firsts[before] < part.firsts[j]) before++;
            part.keys[j].next += before;
        }
    }
}

// Gives each corner of part p its vertex.
void numberCorners(Job& job, unsigned p) {
    Part& part = job.parts[p];
    unsigned* indices = job.indices;
    eachCorner(job, part, [&](unsigned corner, unsigned, unsigned, unsigned) {
        indices[corner] = part.keys[indices[corner]].next;
        return true;
    });
}

// Writes the vertices of part p's keys into the mesh's arrays.
void fillVertices(Job& job, unsigned p) {
    const Part& part = job.parts[p];
    const KelModel* model = job.model;
    KelMesh* mesh = job.mesh;
    const float* normals = job.useFacets ? model->facetnorms : model->normals;
    for (unsigned j = 0; j < part.numkeys; j++) {
        const Key& key = part.keys[j];
        size_t g = key.next;
        memcpy(&mesh->positions[3 * g], &model->vertices[3 * size_t(key.v)], 3 * sizeof(float));
        if (mesh->normals) memcpy(&mesh->normals[3 * g], &normals[3 * size_t(key.n)], 3 * sizeof(float));
        if (mesh->texcoords) memcpy(&mesh->texcoords[2 * g], &model->texcoords[2 * size_t(key.t)], 2 * sizeof(float));
        if (mesh->colors) memcpy(&mesh->colors[3 * g], &model->colors[3 * size_t(key.v)], 3 * sizeof(float));
    }
}

// Runs work(job, p) for every part p, on up to job.numparts threads (the
// calling thread among them; fewer when a thread cannot be started).
template <typename Work>
void onThreads(Job& job, Work work) {
    std::atomic<unsigned> next{0};
    auto take = [&job, &work, &next] {
        for (unsigned p; (p = next++) < job.numparts;) work(job, p);
    };
    std::thread helpers[kMaxThreads];
    unsigned started = 0;
    for (; started + 1 < job.numparts; started++) {
        try {
            helpers[started] = std::thread(take);
        } catch (...) {
            break;
        }
    }
    take();
    for (unsigned i = 0; i < started; i++) helpers[i].join();
}

// Sets `error` from the earliest fault of the parts; a memory fault wins.
void reportFault(const Job& job, KelError* error) {
    const Fault* first = nullptr;
    for (unsigned p = 0; p < job.numparts; p++) {
        const Fault& f = job.parts[p].fault;
        if (f.code == KEL_ERROR_MEMORY) {
            kelSetError(error, KEL_ERROR_MEMORY, 0, "kel: out of memory (the keys of a mesh).");
            return;
        }
        if (f.code != KEL_OK && (!first || f.corner < first->corner)) first = &f;
    }
    if (!first) return;
    if (first->kind)
        kelSetError(error, KEL_ERROR_INDEX, 0, "kelMakeMesh(): triangle %u names %s %u of %u.", first->triangle,
                    first->kind, first->index, first->count);
    else
        kelSetError(error, KEL_ERROR_INDEX, 0, "kelMakeMesh(): group \"%s\" names triangle %u of %u.",
                    first->group->name, first->index, first->count);
}

void freeJob(Job& job) {
    free(job.groups);
    free(job.bases);
    free(job.head);
    if (job.parts)
        for (unsigned p = 0; p < job.numparts; p++) free(job.parts[p].keys), free(job.parts[p].firsts);
    free(job.parts);
}

// Sets up the job: the groups in drawing order, the parts, the tables.
bool startJob(Job& job, unsigned threads, KelError* error) {
    const KelModel* model = job.model;
    uint64_t corners = 0;
    for (const KelGroup* g = model->groups; g; g = g->next)
        if (g->numtriangles) job.numgroups++, corners += 3 * uint64_t(g->numtriangles);
    if (corners > UINT32_MAX) {
        kelSetError(error, KEL_ERROR_MEMORY, 0, "kelMakeMesh(): %llu indices do not fit a 32-bit count.",
                    (unsigned long long)corners);
        return false;
    }
    job.numcorners = unsigned(corners);
    if (threads == 0) threads = corners < kSmallCorners ? 1 : std::thread::hardware_concurrency();
    if (threads > kMaxThreads) threads = kMaxThreads;
    if (threads > model->numvertices + 1) threads = model->numvertices + 1;
    if (threads == 0) threads = 1;

    job.groups = static_cast<const KelGroup**>(kelTryAlloc(job.numgroups, sizeof(KelGroup*)));
    job.bases = static_cast<uint64_t*>(kelTryAlloc(job.numgroups, sizeof(uint64_t)));
    job.head = static_cast<unsigned*>(kelTryAlloc(size_t(model->numvertices) + 1, sizeof(unsigned)));
    job.parts = static_cast<Part*>(kelTryAlloc(threads, sizeof(Part)));
    if (!job.groups || !job.bases || !job.head || !job.parts) {
        kelSetMemoryError(error, size_t(model->numvertices) + 1, sizeof(unsigned));
        return false;
    }
    job.numparts = threads;
    size_t g = 0;
    corners = 0;
    for (const KelGroup* group = model->groups; group; group = group->next)
        if (group->numtriangles) {
            job.groups[g] = group;
            job.bases[g++] = corners;
            corners += 3 * uint64_t(group->numtriangles);
        }
    // Positions 0 to numvertices split evenly; the keys of a part are
    // guessed at a fifth of its corners and grow when there are more.
    uint64_t positions = uint64_t(model->numvertices) + 1;
    for (unsigned p = 0; p < threads; p++) {
        Part& part = job.parts[p];
        part.lo = unsigned(positions * p / threads);
        part.span = p + 1 < threads ? unsigned(positions * (p + 1) / threads) - part.lo - 1 : UINT32_MAX - part.lo;
        part.capacity = unsigned(job.numcorners / threads / 5 + 16);
        part.keys = static_cast<Key*>(kelTryAlloc(part.capacity, sizeof(Key)));
        if (threads > 1) part.firsts = static_cast<unsigned*>(kelTryAlloc(part.capacity, sizeof(unsigned)));
        part.fault = Fault();
        if (!part.keys || (threads > 1 && !part.firsts)) {
            kelSetMemoryError(error, part.capacity, sizeof(Key));
            return false;
        }
    }
    return true;
}

// The vertex arrays of `count` vertices that the mode asks for.
bool allocateVertices(const Job& job, KelMesh* mesh, unsigned count, KelError* error) {
    struct {
        float** array;
        bool wanted;
        size_t width;
    } arrays[4] = {{&mesh->positions, true, 3},
                   {&mesh->normals, job.useNormals, 3},
                   {&mesh->texcoords, job.useTexcoords, 2},
                   {&mesh->colors, job.useColors, 3}};
    for (auto& a : arrays) {
        if (!a.wanted) continue;
        *a.array = static_cast<float*>(kelTryAlloc(count, a.width * sizeof(float)));
        if (!*a.array) {
            kelSetMemoryError(error, count, a.width * sizeof(float));
            return false;
        }
    }
    return true;
}

// The vertices of the model's line segments and points, numbered from
// `first` on: one per position they name, in first-use order (segments
// first); their indices go into mesh->lineindices and pointindices, and the
// positions of the new vertices, in order, into *used (the caller frees
// it), their count into *count. False with the error set on failure.
bool lineVertices(const KelModel* model, KelMesh* mesh, unsigned first, unsigned** used, unsigned* count,
                  KelError* error) {
    *used = nullptr;
    *count = 0;
    const uint64_t lineIndices = 2 * uint64_t(model->numlines), total = lineIndices + model->numpoints;
    if (total == 0) return true;
    if (lineIndices > UINT32_MAX) {
        kelSetError(error, KEL_ERROR_MEMORY, 0, "kelMakeMesh(): %llu line indices do not fit a 32-bit count.",
                    (unsigned long long)lineIndices);
        return false;
    }
    unsigned* vertexOf = static_cast<unsigned*>(kelTryAlloc(size_t(model->numvertices) + 1, sizeof(unsigned)));
    *used = static_cast<unsigned*>(kelTryAlloc(size_t(total), sizeof(unsigned)));
    mesh->lineindices = static_cast<unsigned*>(kelTryAlloc(size_t(lineIndices), sizeof(unsigned)));
    mesh->pointindices = static_cast<unsigned*>(kelTryAlloc(model->numpoints, sizeof(unsigned)));
    bool ok = vertexOf && *used && mesh->lineindices && mesh->pointindices;
    if (!ok) kelSetMemoryError(error, size_t(total), sizeof(unsigned));
    mesh->numlineindices = unsigned(lineIndices);
    mesh->numpointindices = model->numpoints;
    for (uint64_t i = 0; ok && i < total; i++) {
        bool line = i < lineIndices;
        unsigned v = line ? model->lines[i] : model->points[i - lineIndices];
        if (v > model->numvertices) {
            kelSetError(error, KEL_ERROR_INDEX, 0, "kelMakeMesh(): %s %llu names vertex %u of %u.",
                        line ? "line segment" : "point", (unsigned long long)(line ? i / 2 : i - lineIndices), v,
                        model->numvertices);
            ok = false;
        } else if (!vertexOf[v]) {
            if (uint64_t(first) + *count >= UINT32_MAX) {
                kelSetError(error, KEL_ERROR_MEMORY, 0, "kelMakeMesh(): the vertices do not fit a 32-bit count.");
                ok = false;
                break;
            }
            (*used)[(*count)++] = v;
            vertexOf[v] = *count;
        }
        if (ok) (line ? mesh->lineindices[i] : mesh->pointindices[i - lineIndices]) = first + vertexOf[v] - 1;
    }
    free(vertexOf);
    return ok;
}

}  // namespace

// The mode's flags that matter to a mesh, those the model cannot serve
// dropped with their warnings, sent where `to` says.
unsigned kelMeshMode(const KelModel* model, unsigned mode, const KelWarnings* to) {
    static const char* const warnings[8] = {
        "kelMakeMesh() warning: flat render mode requested with no facet normals defined.\n",
        "kelMakeMesh() warning: smooth render mode requested with no normals defined.\n",
        "kelMakeMesh() warning: texture render mode requested with no texture coordinates defined.\n",
        "kelMakeMesh() warning: flat render mode requested and smooth render mode requested (using smooth).\n",
        nullptr,
        nullptr,
        nullptr,
        "kelMakeMesh() warning: vertex color render mode requested with no vertex colors defined.\n",
    };
    const unsigned used = KEL_FLAT | KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR | KEL_IF_PRESENT;
    return kelCheckMode(model, mode & used, warnings, to);
}

void kelDeleteMesh(KelMesh* mesh) {
    if (!mesh) return;
    free(mesh->positions);
    free(mesh->normals);
    free(mesh->texcoords);
    free(mesh->colors);
    free(mesh->indices);
    free(mesh->ranges);
    free(mesh->lineindices);
    free(mesh->pointindices);
    kelFreeMaterials(mesh->materials, mesh->nummaterials);
    free(mesh);
}

KelMesh* kelMakeMeshThreads(const KelModel* model, unsigned mode, unsigned threads, KelModel* release,
                            KelError* error) {
    assert(model);
    assert(model->vertices);
    if (error) *error = KelError{};
    mode = kelMeshMode(model, mode, nullptr);
    Job job = {};
    job.model = model;
    job.useNormals = mode & (KEL_FLAT | KEL_SMOOTH);
    job.useFacets = mode & KEL_FLAT;
    job.useTexcoords = mode & KEL_TEXTURE;
    job.useColors = mode & KEL_VERTEX_COLOR;
    KelMesh* mesh = static_cast<KelMesh*>(kelTryAlloc(1, sizeof(KelMesh)));
    job.mesh = mesh;
    unsigned* used = nullptr;  // the positions of the lines' and points' vertices
    unsigned lineCount = 0;
    // A model that is let go and draws every triangle once is streamed.
    Run* runs = nullptr;
    size_t numruns = 0;
    bool ok = mesh && (!release || tableRuns(model, &runs, &numruns, error));
    const bool stream = runs != nullptr;
    ok = ok && startJob(job, stream ? 1 : threads, error);
    if (!mesh) kelSetMemoryError(error, 1, sizeof(KelMesh));
    if (ok) ok = copyMaterials(model, mesh, error) && makeRanges(job, mesh, error);
    if (ok && !stream) {
        mesh->indices = job.indices = static_cast<unsigned*>(kelTryAlloc(job.numcorners, sizeof(unsigned)));
        if (!mesh->indices) kelSetMemoryError(error, job.numcorners, sizeof(unsigned));
        ok = mesh->indices;
    }
    if (ok) {
        mesh->numindices = job.numcorners;
        if (stream) {
            // The group lists and the triangles' materials and smoothing
            // groups are read no more: their memory goes first.
            for (KelGroup* g = release->groups; g; g = g->next) free(g->triangles), g->triangles = nullptr;
            free(release->trimaterials), release->trimaterials = nullptr;
            free(release->smoothing), release->smoothing = nullptr;
            mesh->indices = streamKeys(job, job.parts[0], release->triangles, release->numtriangles);
            if (mesh->indices) release->triangles = nullptr;  // now the mesh's
        } else {
            onThreads(job, [](Job& j, unsigned p) { findKeys(j, j.parts[p]); });
        }
        reportFault(job, error);
        for (unsigned p = 0; ok && p < job.numparts; p++) ok = job.parts[p].fault.code == KEL_OK;
    }
    if (ok) {
        free(job.head);
        job.head = nullptr;
        if (stream && !inTableOrder(runs, numruns)) {
            ok = putInDrawingOrder(job, job.parts[0], runs, numruns);
            if (!ok) kelSetMemoryError(error, job.numcorners, sizeof(unsigned));
        } else {
            onThreads(job, rankKeys);
            if (job.numparts > 1) onThreads(job, numberCorners);
        }
    }
    if (ok) {
        // From here on only the keys and the vertex tables are read.
        if (release) {
            for (KelGroup* g = release->groups; g; g = g->next) free(g->triangles), g->triangles = nullptr;
            free(release->triangles);
            release->triangles = nullptr;
        }
        unsigned count = 0;
        for (unsigned p = 0; p < job.numparts; p++) count += job.parts[p].numkeys;
        ok = lineVertices(model, mesh, count, &used, &lineCount, error);
        mesh->numvertices = count + lineCount;
        ok = ok && allocateVertices(job, mesh, mesh->numvertices, error);
        // Lines and points take positions and colours; their normals and
        // texture coordinates stay zero.
        for (unsigned k = 0; ok && k < lineCount; k++) {
            size_t to = size_t(count) + k, from = used[k];
            memcpy(&mesh->positions[3 * to], &model->vertices[3 * from], 3 * sizeof(float));
            if (mesh->colors) memcpy(&mesh->colors[3 * to], &model->colors[3 * from], 3 * sizeof(float));
        }
    }
    if (ok) onThreads(job, fillVertices);
    free(used);
    free(runs);
    freeJob(job);
    if (!ok) {
        kelDeleteMesh(mesh);
        return nullptr;
    }
    return mesh;
}

KelMesh* kelMakeMesh(const KelModel* model, unsigned mode, KelError* error) {
    return kelMakeMeshThreads(model, mode, 0, nullptr, error);
}

KelMesh* kelLoadMesh(const char* path, const KelReadOptions* options, unsigned mode, KelError* error) {
    KelModel* model = kelLoadOBJ(path, options, error);
    return model ? kelMeshOfLoad(model, options, mode, error) : nullptr;
}

KelMesh* kelMeshOfLoad(KelModel* model, const KelReadOptions* options, unsigned mode, KelError* error) {
    // Facet normals are made only when they will be used: with smooth
    // shading they give way to the file's normals when it has them.
    if ((mode & KEL_SMOOTH) && model->normals) mode &= ~KEL_FLAT;
    if (mode & KEL_FLAT) {
        size_t count = size_t(model->numtriangles) + 1;
        float* facetnorms = static_cast<float*>(kelTryAlloc(count, 3 * sizeof(float)));
        if (!facetnorms) {
            kelSetMemoryError(error, count, 3 * sizeof(float));
            kelDelete(model);
            return nullptr;
        }
        free(model->facetnorms);
        model->facetnorms = facetnorms;  // owned by the model; kelFacetNormals fills it in place
        model->numfacetnorms = model->numtriangles;
        kelFacetNormals(model);
    }
    // The mode is checked here, so that its warnings go where the load's do;
    // kelMakeMeshThreads then finds nothing more to drop.
    const KelWarnings to = {options ? options->warning : nullptr, options ? options->user : nullptr};
    mode = kelMeshMode(model, mode, &to);
    KelMesh* mesh = kelMakeMeshThreads(model, mode, options ? options->threads : 0, model, error);
    kelDelete(model);
    return mesh;
}
