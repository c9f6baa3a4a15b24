// Writes a model as an OBJ file and its materials as an MTL file.
//
// Output goes through one large buffer with numbers formatted here (the bytes
// are those of printf's "%f" and "%u"). A regular file is written under a
// temporary name beside it and renamed over the target once complete, so a
// failed write leaves any earlier file intact; devices and other special
// files are written in place. Every write and the close are checked.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

namespace {

const char kAuthorLines[] =
    "#  Orvandel team\n"
    "#  team@orvandel.example\n"
    "#  https://orvandel.example\n";

constexpr size_t kBufferSize = 1 << 18;
// Room that one formatted number or index always fits in.
constexpr size_t kNumberRoom = 64;

// Progress of one save, shared by the OBJ and MTL files it writes.
struct Progress {
    int (*report)(void* user, unsigned long long done, unsigned long long total);  // may be null
    void* user;
    unsigned long long done, total;  // entries: vertices, normals, texture coordinates, triangles
    bool cancelled;
};

struct Out {
    int fd;
    char* target;  // the file finally written (a symbolic link resolved); owned
    char* temp;    // the temporary file renamed over target, or null; owned
    char* buffer;  // owned
    size_t length;
    bool ok;
    Progress* progress;  // not owned; may be null
};

void writeAll(Out* out, const char* p, size_t left) {
    while (out->ok && left) {
        ssize_t n = write(out->fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            out->ok = false;
        } else {
            p += n;
            left -= size_t(n);
        }
    }
}

void flush(Out* out) {
    writeAll(out, out->buffer, out->length);
    out->length = 0;
    Progress* progress = out->progress;
    if (out->ok && progress && progress->report && progress->report(progress->user, progress->done, progress->total)) {
        progress->cancelled = true;
        out->ok = false;
    }
}

// A pointer to at least n free bytes of the buffer.
char* room(Out* out, size_t n) {
    if (out->length + n > kBufferSize) flush(out);
    return out->buffer + out->length;
}

void done(Out* out, char* end) { out->length = size_t(end - out->buffer); }

void put(Out* out, const char* text, size_t n) {
    if (n > kBufferSize / 2) {
        flush(out);
        writeAll(out, text, n);
        return;
    }
    char* p = room(out, n);
    memcpy(p, text, n);
    done(out, p + n);
}

void put(Out* out, const char* text) { put(out, text, strlen(text)); }

char* formatUnsigned(char* p, uint64_t value) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (n) *p++ = digits[--n];
    return p;
}

// The bytes printf("%f", double(f)) gives. A float is m * 2^e with m below
// 2^24, so f * 10^6 = m * 10^6 * 2^e is found exactly in 64 bits and rounded
// half to even like printf; values of 2^40 and more, infinities and
// not-a-number go to snprintf itself.
char* formatFloat(char* p, float f) {
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    uint32_t exponent = (bits >> 23) & 0xFF;
    if (exponent >= 127 + 40) return p + snprintf(p, kNumberRoom, "%f", double(f));
    if (bits >> 31) *p++ = '-';
    uint64_t mantissa = bits & 0x7FFFFF;
    int shift = 149;  // f = mantissa * 2^-shift
    if (exponent) {
        mantissa |= 0x800000;
        shift = 150 - int(exponent);
    }
    uint64_t r = mantissa * 1000000;  // below 2^44
    if (shift <= 0) {
        r <<= -shift;  // at most 16 places: below 2^60
    } else if (shift >= 64) {
        r = 0;  // below 2^-20
    } else {
        uint64_t q = r >> shift;
        uint64_t rest = r & ((uint64_t(1) << shift) - 1);
        uint64_t half = uint64_t(1) << (shift - 1);
        if (rest > half || (rest == half && (q & 1))) q++;
        r = q;
    }
    p = formatUnsigned(p, r / 1000000);
    *p++ = '.';
    uint32_t fraction = uint32_t(r % 1000000);
    for (int i = 5; i >= 0; i--) {
        p[i] = char('0' + fraction % 10);
        fraction /= 10;
    }
    return p + 6;
}

// "<keyword> x y z\n", or with two components "<keyword> u v\n".
void putVector(Out* out, const char* keyword, size_t keywordLength, const float* v, int components) {
    char* p = room(out, keywordLength + 4 * kNumberRoom);
    memcpy(p, keyword, keywordLength);
    p += keywordLength;
    for (int c = 0; c < components; c++) {
        *p++ = ' ';
        p = formatFloat(p, v[c]);
    }
    *p++ = '\n';
    done(out, p);
}

// One line for each of the entries 1 to count of a 1-based table.
void putTable(Out* out, const char* keyword, const float* table, unsigned count, int components) {
    size_t keywordLength = strlen(keyword);
    for (size_t i = 1; i <= count; i++) putVector(out, keyword, keywordLength, &table[components * i], components);
    if (out->progress) out->progress->done += count;
}

// "v x y z r g b" for each of the vertices 1 to count, colours from their
// own 1-based table.
void putColouredVertices(Out* out, const float* vertices, const float* colors, unsigned count) {
    for (size_t i = 1; i <= count; i++) {
        char* p = room(out, 2 + 7 * kNumberRoom);
        *p++ = 'v';
        for (int c = 0; c < 6; c++) {
            *p++ = ' ';
            p = formatFloat(p, c < 3 ? vertices[3 * i + c] : colors[3 * i + c - 3]);
        }
        *p++ = '\n';
        done(out, p);
    }
    if (out->progress) out->progress->done += count;
}

// A material's map statement, "<keyword> <name>\n", when it has that map.
void putMap(Out* out, const char* keyword, const char* name) {
    if (!name) return;
    put(out, keyword);
    put(out, name);
    put(out, "\n");
}

// "<prefix><count><suffix>"
void putCount(Out* out, const char* prefix, unsigned count, const char* suffix) {
    put(out, prefix);
    char* p = room(out, kNumberRoom);
    done(out, formatUnsigned(p, count));
    put(out, suffix);
}

// A copy of path with symbolic links resolved when it names one, so the
// link itself is not replaced; the caller frees it. Null when out of memory.
char* resolveTarget(const char* path) {
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        char* resolved = realpath(path, nullptr);
        if (resolved) return resolved;
    }
    return kelTryCopyName(path, strlen(path));
}

void release(Out* out) {
    free(out->buffer);
    free(out->target);
    free(out->temp);
    out->buffer = out->target = out->temp = nullptr;
}

// Opens `path` for writing. Returns KEL_OK, KEL_ERROR_OPEN or
// KEL_ERROR_MEMORY; nothing is left open or allocated on failure.
int openOut(Out* out, const char* path, Progress* progress) {
    *out = Out{-1, resolveTarget(path), nullptr, nullptr, 0, true, progress};
    if (!out->target) return KEL_ERROR_MEMORY;
    struct stat info;
    bool exists = stat(out->target, &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        out->fd = ::open(out->target, O_WRONLY | O_TRUNC | O_CLOEXEC);
    } else {
        static std::atomic<unsigned> serial;
        size_t size = strlen(out->target) + 48;
        if (!(out->temp = static_cast<char*>(kelTryAlloc(size, 1)))) {
            release(out);
            return KEL_ERROR_MEMORY;
        }
        for (int attempt = 0; attempt < 100 && out->fd < 0; attempt++) {
            snprintf(out->temp, size, "%s.tmp-%ld-%u", out->target, long(getpid()), serial++);
            out->fd = ::open(out->temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (out->fd < 0 && errno != EEXIST) break;
        }
        // A replaced file keeps its permissions.
        if (out->fd >= 0 && exists) fchmod(out->fd, info.st_mode & 07777);
    }
    if (out->fd >= 0 && (out->buffer = static_cast<char*>(kelTryAlloc(kBufferSize, 1)))) return KEL_OK;
    int status = out->fd < 0 ? KEL_ERROR_OPEN : KEL_ERROR_MEMORY;
    if (out->fd >= 0) close(out->fd);
    if (out->fd >= 0 && out->temp) unlink(out->temp);
    release(out);
    return status;
}

// Gives up a file being written: the temporary file is removed, an earlier
// file of the same name stays as it was.
void abandon(Out* out) {
    if (!out) return;
    close(out->fd);
    if (out->temp) unlink(out->temp);
    release(out);
}

// Writes out what is left, closes the file and puts it in place; false when
// any of that (or an earlier write) failed.
bool finish(Out* out) {
    flush(out);
    if (close(out->fd) != 0) out->ok = false;
    if (out->temp) {
        if (out->ok && rename(out->temp, out->target) != 0) out->ok = false;
        if (!out->ok) unlink(out->temp);
    }
    bool ok = out->ok;
    release(out);
    return ok;
}

// The error of a file that could not be opened (`status`) or written.
int failure(KelError* error, int status, const Progress* progress, const char* format, const char* path) {
    if (status == KEL_ERROR_MEMORY) {
        kelSetMemoryError(error, kBufferSize, 1);
    } else if (progress && progress->cancelled) {
        status = KEL_ERROR_CANCELLED;
        kelSetError(error, status, 0, "kelWriteOBJ() cancelled writing \"%s\".", path);
    } else {
        if (status == KEL_OK) status = KEL_ERROR_IO;
        kelSetError(error, status, 0, format, path);
    }
    return status;
}

// Writes the materials to `mtllibname` beside `modelpath`; `pending` is the
// OBJ file being written, given up if the MTL file fails.
int writeMaterials(const KelModel* model, const char* modelpath, const char* mtllibname, Out* pending,
                   KelError* error) {
    char* path = kelBesidePath(modelpath, mtllibname);
    if (!path) {
        abandon(pending);
        return failure(error, KEL_ERROR_MEMORY, nullptr, "", "");
    }
    Out out;
    int status = openOut(&out, path, pending ? pending->progress : nullptr);
    if (status == KEL_OK) {
        put(&out, "#  \n#  Wavefront MTL generated by KEL library\n#  \n#  KEL library\n");
        put(&out, kAuthorLines);
        put(&out, "#  \n\n");
        for (unsigned i = 0; i < model->nummaterials; i++) {
            const KelMaterial* material = &model->materials[i];
            put(&out, "newmtl ");
            put(&out, material->name);
            put(&out, "\n");
            putVector(&out, "Ka", 2, material->ambient, 3);
            putVector(&out, "Kd", 2, material->diffuse, 3);
            putVector(&out, "Ks", 2, material->specular, 3);
            // Opaque is the default: only other values are written.
            if (material->dissolve != 1) putVector(&out, "d", 1, &material->dissolve, 1);
            char* p = room(&out, 512);
            done(&out, p + snprintf(p, 512, "Ns %f\n", material->shininess / 128.0 * 1000.0));
            putMap(&out, "map_Kd ", material->diffuseMap);
            putMap(&out, "map_Bump ", material->bumpMap);
            put(&out, "\n");
        }
        if (finish(&out)) {
            free(path);
            return KEL_OK;
        }
    }
    abandon(pending);
    status = failure(error, status, pending ? pending->progress : nullptr,
                     "kelWriteMTL() failed: can't open file \"%s\".", path);
    free(path);
    return status;
}

bool namesEntries(const unsigned* indices, int count, unsigned entries) {
    for (int k = 0; k < count; k++)
        if (indices[k] < 1 || indices[k] > entries) return false;
    return true;
}

// One face line: "f" and per corner v, v/t, v//n or v/t/n. A face whose
// texture or normal indices do not all name an entry (0, for faces that came
// without them) is written without that kind, as an index of 0 is no valid
// reference.
void putFace(Out* out, const KelModel* model, const KelTriangle* t, unsigned mode) {
    bool texture = (mode & KEL_TEXTURE) && namesEntries(t->tindices, 3, model->numtexcoords);
    bool smooth = (mode & KEL_SMOOTH) && namesEntries(t->nindices, 3, model->numnormals);
    bool flat = (mode & KEL_FLAT) && namesEntries(&t->findex, 1, model->numfacetnorms);
    char* p = room(out, 4 + 3 * 3 * kNumberRoom);
    *p++ = 'f';
    for (int k = 0; k < 3; k++) {
        *p++ = ' ';
        p = formatUnsigned(p, t->vindices[k]);
        if (texture) {
            *p++ = '/';
            p = formatUnsigned(p, t->tindices[k]);
        }
        if (smooth || flat) {
            *p++ = '/';
            if (!texture) *p++ = '/';
            p = formatUnsigned(p, smooth ? t->nindices[k] : t->findex);
        }
    }
    *p++ = '\n';
    done(out, p);
}

}  // namespace

void kelWriteMTL(KelModel* model, const char* modelpath, const char* mtllibname) {
    assert(model);
    KelError error = {};
    if (writeMaterials(model, modelpath, mtllibname, nullptr, &error) != KEL_OK) {
        fprintf(stderr, "%s\n", error.message);
        exit(1);
    }
}

int kelSaveOBJWithProgress(const KelModel* model, const char* filename, unsigned mode,
                           int (*report)(void* user, unsigned long long done, unsigned long long total), void* user,
                           KelError* error) {
    assert(model);
    KelError local;
    if (!error) error = &local;
    *error = {};
    static const char* const warnings[7] = {
        "kelWriteOBJ() warning: flat normal output requested with no facet normals defined.\n",
        "kelWriteOBJ() warning: smooth normal output requested with no normals defined.\n",
        "kelWriteOBJ() warning: texture coordinate output requested with no texture coordinates defined.\n",
        "kelWriteOBJ() warning: flat normal output requested and smooth normal output requested (using smooth).\n",
        "kelWriteOBJ() warning: color output requested with no colors (materials) defined.\n",
        "kelWriteOBJ() warning: material output requested with no materials defined.\n",
        "kelWriteOBJ() warning: color and material output requested outputting only materials.\n",
    };
    mode = kelCheckMode(model, mode, warnings);
    Progress progress = {report, user, 0, 0, false};
    progress.total = model->numvertices + model->numtriangles;
    if (mode & KEL_SMOOTH)
        progress.total += model->numnormals;
    else if (mode & KEL_FLAT)
        progress.total += model->numfacetnorms;
    if (mode & KEL_TEXTURE) progress.total += model->numtexcoords;
    static const char cannotWrite[] = "kelWriteOBJ() failed: can't open file \"%s\" to write.";
    Out out;
    int status = openOut(&out, filename, &progress);
    if (status != KEL_OK) return failure(error, status, &progress, cannotWrite, filename);
    put(&out, "#  \n#  Wavefront OBJ generated by KEL library\n#  \n#  KEL library\n");
    put(&out, kAuthorLines);
    put(&out, "#  \n");
    if ((mode & KEL_MATERIAL) && model->mtllibname) {
        put(&out, "\nmtllib ");
        put(&out, model->mtllibname);
        put(&out, "\n\n");
        if ((status = writeMaterials(model, filename, model->mtllibname, &out, error)) != KEL_OK) return status;
    }
    putCount(&out, "\n# ", model->numvertices, " vertices\n");
    if (model->colors)
        putColouredVertices(&out, model->vertices, model->colors, model->numvertices);
    else
        putTable(&out, "v", model->vertices, model->numvertices, 3);
    if (mode & KEL_SMOOTH) {
        putCount(&out, "\n# ", model->numnormals, " normals\n");
        putTable(&out, "vn", model->normals, model->numnormals, 3);
    } else if (mode & KEL_FLAT) {
        putCount(&out, "\n# ", model->numfacetnorms, " normals\n");
        putTable(&out, "vn", model->facetnorms, model->numfacetnorms, 3);
    }
    if (mode & KEL_TEXTURE) {
        putCount(&out, "\n# ", model->numtexcoords, " texcoords\n");
        putTable(&out, "vt", model->texcoords, model->numtexcoords, 2);
    }
    putCount(&out, "\n# ", model->numgroups, " groups\n");
    putCount(&out, "# ", model->numtriangles, " faces (triangles)\n\n");
    for (const KelGroup* group = model->groups; group && out.ok; group = group->next) {
        put(&out, "g ");
        put(&out, group->name);
        put(&out, "\n");
        if (mode & KEL_MATERIAL) {
            put(&out, "usemtl ");
            put(&out, model->materials[group->material].name);
            put(&out, "\n");
        }
        for (unsigned i = 0; i < group->numtriangles; i++)
            putFace(&out, model, &model->triangles[group->triangles[i]], mode);
        progress.done += group->numtriangles;
        put(&out, "\n");
    }
    progress.done = progress.total;
    if (!finish(&out)) return failure(error, KEL_OK, &progress, cannotWrite, filename);
    return KEL_OK;
}

int kelSaveOBJ(const KelModel* model, const char* path, unsigned mode, KelError* error) {
    return kelSaveOBJWithProgress(model, path, mode, nullptr, nullptr, error);
}

void kelWriteOBJ(KelModel* model, const char* filename, unsigned mode) {
    KelError error;
    if (kelSaveOBJ(model, filename, mode, &error) != KEL_OK) {
        fprintf(stderr, "%s\n", error.message);
        exit(1);
    }
}
