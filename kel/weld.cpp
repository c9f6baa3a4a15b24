// Welding: merges vectors within epsilon of an earlier kept vector.
// Lookup by spatial hashing (Teschner et al. 2003): uniform grid cells hashed into one linear-probing table.
//
// The result is exactly that of the plain definition (each vector maps to the
// lowest-numbered kept vector that kelEqual calls equal to it, otherwise it is
// kept itself), found through a hash grid instead of a scan of every kept
// vector. Cells are kCellScale * epsilon wide; each kept vector is entered in
// its own cell, and a query looks in every cell that its open box
// (v - epsilon, v + epsilon) touches: one cell most of the time, at most two
// along each axis. Kept vectors are pairwise unequal, so a cell holds a
// bounded number of them and the expected time is linear.
#include <sys/mman.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

namespace {

// kelAbs, visible to the compiler here so the comparisons inline.
inline float absolute(float f) { return f < 0 ? -f : f; }

inline bool equal(const float* u, const float* v, float epsilon) {
    return absolute(u[0] - v[0]) < epsilon && absolute(u[1] - v[1]) < epsilon && absolute(u[2] - v[2]) < epsilon;
}

}  // namespace

int kelEqual(const float* u, const float* v, float epsilon) { return equal(u, v, epsilon); }

namespace {

constexpr double kCellScale = 8.0;
// Cell coordinates stay within +-2^52, where doubles are exact integers, so
// the two ends of a box are never more than two cells apart.
constexpr double kCellLimit = 4503599627370496.0;

// A kept vector entered in one cell; index 0 marks an empty slot.
struct Slot {
    float v[3];
    unsigned index;
};

struct Grid {
    Slot* slots;
    size_t mask;
    size_t used;
    double inverse;  // 1 / cell width; 0 puts everything in one cell
    void* mapping;   // the mapping that holds slots, when mapped is not 0
    size_t mapped;
};

// The cell coordinate of y along one axis. Monotonic in y, which is all the
// search relies on: a value between a and b lies in a cell between theirs.
int64_t cellOf(const Grid& grid, double y) {
    double q = y * grid.inverse;
    if (!(q >= -kCellLimit)) q = q != q ? 0 : -kCellLimit;  // NaN: an infinite epsilon, one cell
    if (q > kCellLimit) q = kCellLimit;
    int64_t i = int64_t(q);  // toward zero, then down to the floor
    return i - (q < double(i));
}

size_t hashCell(int64_t x, int64_t y, int64_t z) {
    uint64_t h =
        uint64_t(x) * 0x9E3779B97F4A7C15ull ^ uint64_t(y) * 0xC2B2AE3D27D4EB4Full ^ uint64_t(z) * 0x165667B19E3779F9ull;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return size_t(h);
}

bool finite3(const float* v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// Where one vector is looked up and, if kept, entered: the hashes of the
// cells its open box (v - epsilon, v + epsilon) touches, and of its own cell.
// Any value inside the box lies between the rounded ends of the box, so its
// cell is among these (at most three along an axis, usually one).
struct Probe {
    size_t cells[27];
    int count;
    size_t home;
};

void prepare(const Grid& grid, const float* v, double epsilon, Probe* probe) {
    int64_t lo[3], hi[3];
    for (int a = 0; a < 3; a++) {
        lo[a] = cellOf(grid, double(v[a]) - epsilon);
        hi[a] = cellOf(grid, double(v[a]) + epsilon);
    }
    probe->count = 0;
    for (int64_t x = lo[0]; x <= hi[0]; x++)
        for (int64_t y = lo[1]; y <= hi[1]; y++)
            for (int64_t z = lo[2]; z <= hi[2]; z++) {
                size_t h = hashCell(x, y, z);
                probe->cells[probe->count++] = h;
                __builtin_prefetch(&grid.slots[h & grid.mask]);
            }
    // The vector's own cell lies between the ends: where they meet, it is
    // that cell.
    int64_t home[3];
    for (int a = 0; a < 3; a++) home[a] = lo[a] == hi[a] ? lo[a] : cellOf(grid, v[a]);
    probe->home = hashCell(home[0], home[1], home[2]);
}

void insert(Grid& grid, size_t hash, const float* v, unsigned index) {
    size_t i = hash & grid.mask;
    while (grid.slots[i].index) i = (i + 1) & grid.mask;
    grid.slots[i] = Slot{{v[0], v[1], v[2]}, index};
    grid.used++;
}

// The lowest-numbered kept vector equal to v, or 0.
unsigned lookup(const Grid& grid, const Probe& probe, const float* v, float epsilon) {
    unsigned best = 0;
    for (int c = 0; c < probe.count; c++)
        for (size_t i = probe.cells[c] & grid.mask; grid.slots[i].index; i = (i + 1) & grid.mask) {
            const Slot& s = grid.slots[i];
            // Slots of other cells that share the probe run are candidates the
            // definition allows too: kelEqual decides.
            if ((best == 0 || s.index < best) && equal(v, s.v, epsilon)) best = s.index;
        }
    return best;
}

// The table is probed at random, so it is mapped in huge pages where the
// system offers them: with small pages nearly every probe of a large table
// also misses the TLB. Fresh anonymous pages come zeroed (all slots empty).
constexpr size_t kHugePage = size_t(2) << 20;

// False when out of memory (the grid then holds no table).
bool allocateSlots(Grid& grid, size_t capacity) {
    size_t bytes = capacity * sizeof(Slot);
    grid.slots = nullptr;
    grid.mapped = 0;
#ifdef MADV_HUGEPAGE
    if (bytes >= kHugePage && !kelAllocationFails()) {
        size_t length = bytes + kHugePage;
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            uintptr_t aligned = (uintptr_t(p) + kHugePage - 1) & ~(kHugePage - 1);
            madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
            grid.slots = reinterpret_cast<Slot*>(aligned);
            grid.mapping = p;
            grid.mapped = length;
        }
    }
#endif
    if (!grid.slots && !(grid.slots = static_cast<Slot*>(kelTryAlloc(capacity, sizeof(Slot))))) return false;
    grid.mask = capacity - 1;
    grid.used = 0;
    return true;
}

void freeSlots(Grid& grid) {
    if (grid.mapped)
        munmap(grid.mapping, grid.mapped);
    else
        free(grid.slots);
}

// Doubles the table and enters kept vectors 1 to `kept` again, in order.
// False when out of memory, the old table kept.
bool grow(Grid& grid, const float* copies, unsigned kept) {
    Grid bigger = grid;
    if (!allocateSlots(bigger, 2 * (grid.mask + 1))) return false;
    freeSlots(grid);
    grid = bigger;
    for (unsigned j = 1; j <= kept; j++) {
        const float* c = &copies[3 * size_t(j)];
        if (finite3(c)) insert(grid, hashCell(cellOf(grid, c[0]), cellOf(grid, c[1]), cellOf(grid, c[2])), c, j);
    }
    return true;
}

// Fills `copies` (room for n + 1 vectors) with the kept vectors and remap[i]
// with the kept vector that input i maps to, and sets *kept to their count.
// False when out of memory (only copies and remap written).
bool weld(const float* vectors, unsigned n, float epsilon, float* copies, unsigned* remap, unsigned* numkept) {
    if (!(epsilon > 0)) {
        // Nothing is strictly closer than zero (or than not-a-number).
        memcpy(&copies[3], &vectors[3], 3 * sizeof(float) * size_t(n));
        for (unsigned i = 1; i <= n; i++) remap[i] = i;
        *numkept = n;
        return true;
    }
    Grid grid;
    grid.inverse = 1.0 / (kCellScale * double(epsilon));
    size_t capacity = 64;
    while (capacity < 2 * size_t(n)) capacity *= 2;
    if (!allocateSlots(grid, capacity)) return false;

    // The cells of the vector kAhead places on are worked out (and their
    // slots fetched into the cache) while this one is looked up, so the
    // table's memory latency overlaps instead of adding up.
    constexpr unsigned kAhead = 16;
    Probe ahead[kAhead];
    for (unsigned i = 1; i <= n && i <= kAhead; i++)
        prepare(grid, &vectors[3 * size_t(i)], epsilon, &ahead[i % kAhead]);
    unsigned kept = 0;
    for (unsigned i = 1; i <= n; i++) {
        const float* v = &vectors[3 * size_t(i)];
        Probe& probe = ahead[i % kAhead];
        // A vector with a non-finite component equals nothing.
        bool finite = finite3(v);
        unsigned j = finite ? lookup(grid, probe, v, epsilon) : 0;
        if (j == 0) {
            j = ++kept;
            memcpy(&copies[3 * size_t(j)], v, 3 * sizeof(float));
            if (finite) {
                if (2 * (grid.used + 1) > grid.mask + 1 && !grow(grid, copies, kept - 1)) {
                    freeSlots(grid);
                    return false;
                }
                insert(grid, probe.home, v, j);
            }
        }
        remap[i] = j;
        if (n - i >= kAhead) prepare(grid, &vectors[3 * (size_t(i) + kAhead)], epsilon, &probe);
    }
    freeSlots(grid);
    *numkept = kept;
    return true;
}

// A table of count + 1 vectors shrunk from a larger one; the caller owns it.
float* shrinkTable(float* table, unsigned count) {
    float* shrunk = static_cast<float*>(realloc(table, 3 * sizeof(float) * (size_t(count) + 1)));
    return shrunk ? shrunk : table;
}

// The scratch of one weld: the kept vectors and the map from input to kept
// vector, both owned; released by the destructor unless taken.
struct Welded {
    float* copies = nullptr;
    unsigned* remap = nullptr;
    unsigned kept = 0;
    Welded() = default;
    Welded(const Welded&) = delete;
    Welded& operator=(const Welded&) = delete;
    ~Welded() {
        free(copies);
        free(remap);
    }
    // False when out of memory.
    bool run(const float* vectors, unsigned n, float epsilon) {
        copies = static_cast<float*>(kelTryAllocUninitialized(size_t(n) + 1, 3 * sizeof(float)));
        remap = static_cast<unsigned*>(kelTryAllocUninitialized(size_t(n) + 1, sizeof(unsigned)));
        if (!copies || !remap) return false;
        memset(copies, 0, 3 * sizeof(float));  // entry 0, never used
        return weld(vectors, n, epsilon, copies, remap, &kept);
    }
    // The kept table, shrunk to kept + 1 entries; the caller owns it.
    float* take() {
        float* table = shrinkTable(copies, kept);
        copies = nullptr;
        return table;
    }
};

// Maps the 1-based vertex indices of `indices` (count entries) through
// `remap`; an index that names none of the n input vertices stays as it is.
void renumber(unsigned* indices, size_t count, const unsigned* remap, unsigned n) {
    for (size_t i = 0; i < count; i++)
        if (indices[i] >= 1 && indices[i] <= n) indices[i] = remap[indices[i]];
}

}  // namespace

float* kelWeldVectors(float* vectors, unsigned* numvectors, float epsilon) {
    assert(vectors);
    assert(numvectors);
    unsigned n = *numvectors;
    Welded welded;
    if (!welded.run(vectors, n, epsilon)) return nullptr;
    // The index of each input's kept vector goes into its x component.
    for (unsigned i = 1; i <= n; i++) vectors[3 * size_t(i)] = float(welded.remap[i]);
    *numvectors = welded.kept;
    return welded.take();
}

int kelWeld(KelModel* model, float epsilon) {
    assert(model);
    assert(model->vertices);
    unsigned n = model->numvertices;
    Welded welded;
    if (!welded.run(model->vertices, n, epsilon)) return KEL_ERROR_MEMORY;
    const unsigned kept = welded.kept;
    const unsigned* remap = welded.remap;
    float* colors = nullptr;
    if (model->colors) {
        // Kept vertices are numbered in input order, so input i is kept
        // exactly when it maps to the next number not yet seen; merged
        // vertices take the kept one's colour.
        colors = static_cast<float*>(kelTryAlloc(size_t(kept) + 1, 3 * sizeof(float)));
        if (!colors) return KEL_ERROR_MEMORY;
        for (unsigned i = 1, next = 1; i <= n; i++)
            if (remap[i] == next) memcpy(&colors[3 * size_t(next++)], &model->colors[3 * size_t(i)], 3 * sizeof(float));
    }
    // Everything is allocated: from here on the model changes.
    for (unsigned t = 0; t < model->numtriangles; t++) renumber(model->triangles[t].vindices, 3, remap, n);
    if (model->lines) renumber(model->lines, 2 * size_t(model->numlines), remap, n);
    if (model->points) renumber(model->points, model->numpoints, remap, n);
    if (colors) {
        free(model->colors);
        model->colors = colors;  // owned by the model
    }
    free(model->vertices);
    model->numvertices = kept;
    model->vertices = welded.take();  // owned by the model
    return KEL_OK;
}
