// OBJ reader. A first pass over the input counts what it holds, creates the
// groups and reads the material library, every table is then allocated once
// at its final size, and a second pass fills them. Both passes read the
// input in chunks of whole statements and find statements the same way; the
// second never writes past what the first counted, even when the file
// changes between them. Errors travel back by return value: the reader
// records the first one, stops, and frees everything it built.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

namespace {

// How a face writes its vertex references, decided by its first one: bit 0
// for texture coordinates, bit 1 for normals.
enum FaceForm { FORM_V = 0, FORM_VT = 1, FORM_VN = 2, FORM_VTN = 3 };

struct ObjReader {
    KelModel* model;                // owned until the read succeeds
    const char* name;               // the input as messages name it
    size_t chunk;                   // chunk size, for the material library too
    const KelReadOptions* options;  // never null
    KelError* error;                // never null; the read stops once its code is set
    KelChunks chunks;
    const char* begin;  // the chunk being read
    const char* end;
    // Entries read so far: the first pass's counts, or the second pass's
    // last filled index.
    unsigned numvertices, numnormals, numtexcoords;
    unsigned maxtriangles;  // room in model->triangles (second pass)
    unsigned* rooms;        // owned: room in each group's triangles, in list order (second pass)
    KelGroup* group;        // current group; null for one the first pass did not see
    unsigned groupRoom;     // room in the current group's triangles (second pass)
    unsigned material;      // current material (second pass)
    bool libraryMissing;    // an optional library could not be opened: usemtl takes "default"
};

unsigned long lineOf(const ObjReader& r, const char* at) { return kelChunkLine(&r.chunks, at); }

// --- Vertex references ----------------------------------------------------------
// A reference is one token: a vertex index, then optionally '/' and a
// texture-coordinate index, then '/' and a normal index ("v", "v/t", "v//n",
// "v/t/n"). Indices are integers as scanf's %d reads them; negative ones
// count back from the latest entry read.

// Whether a reference starts at p.
inline bool startsIndex(const char* p, const char* end) {
    if (p < end && kelIsDigit(*p)) return true;
    return p + 1 < end && (*p == '-' || *p == '+') && kelIsDigit(p[1]);
}

// The integer at p (optional sign, digits), saturating far beyond any table
// size. Returns p when there is none.
inline const char* parseIndex(const char* p, const char* end, long long* out) {
    if (!startsIndex(p, end)) return p;
    bool negative = *p == '-';
    if (!kelIsDigit(*p)) p++;
    int length;
    unsigned long long value = kelDigits8(p, &length);
    p += length;
    while (length == 8 && p < end) {
        uint32_t more = kelDigits8(p, &length);
        p += length;
        for (int i = 0; i < length; i++) value = value < 100000000000000ull ? value * 10 : value;
        if (value < 100000000000000ull) value += more;
    }
    *out = negative ? -(long long)value : (long long)value;
    return p;
}

// parseIndex with the common case, an unsigned index of up to 7 digits,
// read in one step.
inline const char* readIndex(const char* p, const char* end, long long* out) {
    int length;
    uint32_t value = kelDigits8(p, &length);  // the padding after a chunk allows the load
    if (length > 0 && length < 8) {
        *out = value;
        return p + length;
    }
    return parseIndex(p, end, out);
}

struct Reference {
    long long index[3];  // vertex, texture coordinate, normal
    const char* at[3];   // where each index is written; null for one the token lacks
};

// The one parser of a reference: the token at p, which startsIndex accepts.
// Stores its indices by position and the face form the token writes: "//"
// anywhere makes it vertex//normal, else it is the longest of v/t/n, v/t and
// v that its numbers match. Returns the end of the token.
__attribute__((always_inline)) inline const char* parseReference(const char* p, const char* end, Reference* ref,
                                                                 FaceForm* form) {
    ref->at[0] = p;
    ref->at[1] = ref->at[2] = nullptr;
    const char* q = readIndex(p, end, &ref->index[0]);
    FaceForm f = FORM_V;
    if (*q == '/') {  // the padding after a chunk makes reading at end safe
        const char* t = q + 1;
        if (*t == '/') {
            f = FORM_VN;
            q = readIndex(t + 1, end, &ref->index[2]);
            if (q != t + 1) ref->at[2] = t + 1;
        } else if ((q = readIndex(t, end, &ref->index[1])) != t) {
            ref->at[1] = t;
            f = FORM_VT;
            const char* n = q + 1;
            const char* after;
            if (*q == '/' && (after = readIndex(n, end, &ref->index[2])) != n) {
                ref->at[2] = n;
                f = FORM_VTN;
                q = after;
            }
        }
    }
    if (q < end && !kelIsSpace(*q)) {  // more in the token than a common reference holds
        const char* tokenEnd = kelTokenEnd(q, end);
        for (const char* c = p; c + 1 < tokenEnd; c++)
            if (c[0] == '/' && c[1] == '/') f = FORM_VN;
        q = tokenEnd;
    }
    *form = f;
    return q;
}

// Records that index `which` of a reference names no entry of its table.
[[gnu::cold, gnu::noinline]] unsigned outOfRange(ObjReader& r, const Reference& ref, int which) {
    static const char* const kinds[3] = {"vertex", "texture coordinate", "normal"};
    const char* written = ref.at[which];
    const char* digits = kelIsDigit(*written) ? written : written + 1;
    while (kelIsDigit(*digits)) digits++;
    unsigned long line = lineOf(r, written);
    kelSetError(r.error, KEL_ERROR_INDEX, line, "kelReadOBJ() failed: %s index %.*s out of range in \"%s\" line %lu.",
                kinds[which], int(digits - written), written, r.name, line);
    return 0;
}

// Turns index `which` of a reference into a table index; records an error
// (and returns 0) when it names no entry.
inline unsigned resolve(ObjReader& r, const Reference& ref, int which, unsigned sofar, unsigned total) {
    long long index = ref.index[which];
    if (index > 0 && index <= (long long)total) return unsigned(index);
    long long resolved = (long long)sofar + 1 + index;
    if (index < 0 && resolved >= 1) return unsigned(resolved);
    return outOfRange(r, ref, which);
}

// The members of a reference that a face of `form` takes from it, as table
// indices; the others keep their values (those of the face's previous
// reference). A texture coordinate or normal in a file without any reads
// as 0.
inline void resolveReference(ObjReader& r, const Reference& ref, FaceForm form, unsigned out[3]) {
    const KelModel* m = r.model;
    out[0] = resolve(r, ref, 0, r.numvertices, m->numvertices);
    bool texture = (form & FORM_VT) && ref.at[1];
    bool normal = ref.at[2] && form == (ref.at[1] ? FORM_VTN : FORM_VN);
    if (texture && m->numtexcoords) out[1] = resolve(r, ref, 1, r.numtexcoords, m->numtexcoords);
    if (normal && m->numnormals) out[2] = resolve(r, ref, 2, r.numnormals, m->numnormals);
}

// --- Statements ---------------------------------------------------------------------
// Each takes the position after its keyword and returns where the next
// statement may start; `fill` chooses the pass.

void storeTriangle(ObjReader& r, FaceForm form, const unsigned a[3], const unsigned b[3], const unsigned c[3]) {
    KelModel* m = r.model;
    // Never, unless the file changed after the first pass.
    if (m->numtriangles == r.maxtriangles || !r.group || r.group->numtriangles == r.groupRoom) return;
    KelTriangle* t = &m->triangles[m->numtriangles];
    t->vindices[0] = a[0], t->vindices[1] = b[0], t->vindices[2] = c[0];
    if (form == FORM_VT || form == FORM_VTN) t->tindices[0] = a[1], t->tindices[1] = b[1], t->tindices[2] = c[1];
    if (form == FORM_VN || form == FORM_VTN) t->nindices[0] = a[2], t->nindices[1] = b[2], t->nindices[2] = c[2];
    r.group->triangles[r.group->numtriangles++] = m->numtriangles++;
}

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
// Bytes of b in [lo, lo + n) as a 16-bit mask.
inline unsigned inRange(__m128i b, char lo, int n) {
    __m128i shifted = _mm_xor_si128(_mm_sub_epi8(b, _mm_set1_epi8(lo)), _mm_set1_epi8(char(0x80)));
    return unsigned(_mm_movemask_epi8(_mm_cmplt_epi8(shifted, _mm_set1_epi8(char(n ^ 0x80)))));
}

// Counts the tokens of [p, lineEnd), p at the start of one, 16 bytes at a
// time; false when one of them does not begin with a digit.
bool countDigitTokens(const char* p, const char* lineEnd, unsigned* count) {
    unsigned n = 0, afterSpace = 1;
    for (; p < lineEnd; p += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));  // padded text
        unsigned space = inRange(b, '\t', 5) | unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_set1_epi8(' '))));
        unsigned valid = lineEnd - p >= 16 ? 0xffffu : (1u << (lineEnd - p)) - 1;
        unsigned starts = ~space & ((space << 1) | afterSpace) & valid;
        if (starts & ~inRange(b, '0', 10)) return false;
        starts = starts - ((starts >> 1) & 0x5555u);
        starts = (starts & 0x3333u) + ((starts >> 2) & 0x3333u);
        starts = (starts + (starts >> 4)) & 0x0F0Fu;
        n += (starts + (starts >> 8)) & 0x1Fu;
        afterSpace = (space >> 15) & 1;
    }
    *count += n;
    return true;
}
#endif

// A face: references, each one token, read across white space of any kind
// until a token that does not begin with a number (not consumed: its
// position is returned). N references make a fan of N - 2 triangles; one or
// two make one triangle that repeats the last reference. The first pass
// only counts the references.
const char* faceStatement(ObjReader& r, const char* p, bool fill) {
    const char* end = r.end;
    p = kelSkipSpace(p, end);
    if (!fill) {
        unsigned references = 0;
        const char* slowUntil = p;  // a line where a token needs a closer look
        for (; startsIndex(p, end); p = kelSkipSpace(p, end)) {
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
            if (p >= slowUntil) {
                const char* lineEnd = kelLineEnd(p, end);
                if (countDigitTokens(p, lineEnd, &references)) {
                    p = lineEnd;
                    continue;
                }
                slowUntil = lineEnd;
            }
#endif
            p = kelTokenEnd(p, end);
            references++;
        }
        (void)slowUntil;
        unsigned triangles = references == 0 ? 0 : references < 3 ? 1 : references - 2;
        r.model->numtriangles += triangles;
        r.group->numtriangles += triangles;
        return p;
    }
    if (!startsIndex(p, end)) return p;
    unsigned first[3] = {0, 0, 0}, previous[3], current[3] = {0, 0, 0};
    Reference ref;
    FaceForm form, ignored;
    p = parseReference(p, end, &ref, &form);
    for (int count = 1;; count++) {
        resolveReference(r, ref, form, current);
        if (count == 1) memcpy(first, current, sizeof current);
        if (count >= 3) storeTriangle(r, form, first, previous, current);
        memcpy(previous, current, sizeof current);
        p = kelSkipSpace(p, end);
        if (!startsIndex(p, end)) {
            if (count < 3) storeTriangle(r, form, first, previous, previous);
            return p;
        }
        p = parseReference(p, end, &ref, &ignored);
    }
}

// The numbers of a vertex: x, y and z as kelReadNumbers reads them, then, on
// the line of z, either a w (ignored) or exactly three more numbers, the
// colour scanners and exporters write. The colour table is made, at its
// final size and every entry 1, 1, 1, at the first colour. `index` is the
// vertex's entry, 0 when it has none. Returns the start of the line after
// z's.
const char* vertexNumbers(ObjReader& r, const char* p, float* xyz, unsigned index) {
    const char* end = r.end;
    const char* last = p;
    int n = 0;
    for (; n < 3; n++) {
        const char* q = kelSkipSpace(last, end);
        const char* after = kelParseFloat(q, end, &xyz[n]);
        if (after == q) break;
        last = after;
    }
    if (*last == '\n') return last + 1;  // most vertices: the line ends right after z
    float rgb[4];
    int extra = 0;
    for (; n == 3 && extra < 4; extra++) {
        const char* q = last;
        while (*q != '\n' && kelIsSpace(*q)) q++;  // the zero after the chunk stops this
        const char* after = q < end && *q != '\n' ? kelParseFloat(q, end, &rgb[extra]) : q;
        if (after == q) break;
        last = after;
    }
    if (extra == 3 && index) {
        KelModel* m = r.model;
        if (!m->colors) {
            size_t floats = 3 * (size_t(m->numvertices) + 1);
            if (!(m->colors = static_cast<float*>(kelTryAlloc(floats, sizeof(float))))) {
                kelSetMemoryError(r.error, floats, sizeof(float));
                return end;
            }
            for (size_t i = 0; i < floats; i++) m->colors[i] = 1;
        }
        memcpy(&m->colors[3 * size_t(index)], rgb, 3 * sizeof(float));
    }
    return kelSkipLine(last, end);
}

// "v", "vn" and "vt": the first pass counts them, the second reads their
// numbers; any other statement that starts with 'v' ends the read.
const char* vertexStatement(ObjReader& r, const char* p, const char* tokenEnd, bool fill) {
    KelModel* m = r.model;
    size_t length = size_t(tokenEnd - p);
    unsigned* read;
    unsigned total;
    float* table;
    int width = 3;
    if (length == 1) {
        read = &r.numvertices, total = m->numvertices, table = m->vertices;
    } else if (length == 2 && p[1] == 'n') {
        read = &r.numnormals, total = m->numnormals, table = m->normals;
    } else if (length == 2 && p[1] == 't') {
        read = &r.numtexcoords, total = m->numtexcoords, table = m->texcoords, width = 2;
    } else {
        kelSetError(r.error, KEL_ERROR_STATEMENT, lineOf(r, p), "kelFirstPass(): Unknown token \"%.*s\".", int(length),
                    p);
        return r.end;
    }
    if (!fill) {
        ++*read;
        return kelSkipLine(tokenEnd, r.end);
    }
    // Whatever follows the numbers on the line of the last one is dropped,
    // as the first pass drops the rest of the line.
    float scratch[3];
    float* entry = *read < total ? &table[width * ++*read] : scratch;
    if (length == 1) return vertexNumbers(r, tokenEnd, entry, entry == scratch ? 0 : *read);
    return kelReadNumbers(tokenEnd, r.end, entry, width);
}

// Second pass: makes the group named `name` current, with its room, and
// gives it the current material.
void selectGroup(ObjReader& r, const char* name) {
    unsigned i = 0;
    KelGroup* group = r.model->groups;
    for (; group && strcmp(group->name, name) != 0; group = group->next) i++;
    r.group = group;
    r.groupRoom = group ? r.rooms[i] : 0;
    if (group) group->material = r.material;
}

// "g": the group's name is the whole rest of the line, the blanks after the
// keyword included, without the line end ("\n" or "\r\n"). The name is
// NUL-terminated in place for the lookup and the byte put back afterwards.
const char* groupStatement(ObjReader& r, const char* tokenEnd, bool fill) {
    char* p = const_cast<char*>(tokenEnd);
    char* lineEnd = const_cast<char*>(kelSkipLine(p, r.end));
    const char* next = lineEnd;
    if (lineEnd > p && lineEnd[-1] == '\n') lineEnd--;
    while (lineEnd > p && lineEnd[-1] == '\r') lineEnd--;
    char saved = *lineEnd;
    *lineEnd = '\0';
    if (fill) {
        selectGroup(r, p);
    } else if (!(r.group = kelTryAddGroup(r.model, p))) {
        kelSetMemoryError(r.error, 1, sizeof(KelGroup));
        next = r.end;
    }
    *lineEnd = saved;
    return next;
}

// Reads the library `name` in the first pass. A library that cannot be
// opened is an error, or with optionalLibrary a warning that leaves the
// model with only the "default" material.
void readLibrary(ObjReader& r, const char* name, size_t length, const char* at) {
    KelModel* m = r.model;
    free(m->mtllibname);
    if (!(m->mtllibname = kelTryCopyName(name, length))) return kelSetMemoryError(r.error, length + 1, 1);
    KelError libraryError = {};
    int status = kelLoadMTLChunks(m, m->mtllibname, r.chunk, r.options, &libraryError);
    r.libraryMissing = false;
    if (status == KEL_OK) return;
    if (status == KEL_ERROR_LIBRARY && r.options->optionalLibrary) {
        printf("kelReadOBJ() warning: %s; every material is \"default\".\n", libraryError.message);
        r.libraryMissing = true;
        if (!kelDefaultMaterials(m)) kelSetMemoryError(r.error, 1, sizeof(KelMaterial));
        return;
    }
    libraryError.line = status == KEL_ERROR_MEMORY ? 0 : lineOf(r, at);
    *r.error = libraryError;
}

// "mtllib" (first pass) and "usemtl" (second pass): the first word after the
// keyword names the library or material; the name is NUL-terminated in place
// while it is used. Other statements that start with 'm' or 'u' are skipped.
const char* materialStatement(ObjReader& r, const char* p, const char* tokenEnd, bool fill) {
    bool library = kelIsWord(p, tokenEnd, "mtllib");
    bool use = kelIsWord(p, tokenEnd, "usemtl");
    const char* wordEnd = tokenEnd;
    const char* word = tokenEnd;
    if ((library && !fill) || (use && fill)) word = kelLineWord(tokenEnd, r.end, &wordEnd);
    if (word != wordEnd) {
        char* name = const_cast<char*>(word);
        char saved = *wordEnd;
        name[wordEnd - word] = '\0';
        if (library) {
            readLibrary(r, name, size_t(wordEnd - word), p);
        } else {
            r.material = r.libraryMissing ? 0 : kelFindMaterial(r.model, name);
            if (r.group) r.group->material = r.material;
        }
        name[wordEnd - word] = saved;
    }
    return kelSkipLine(wordEnd, r.end);
}

// The statements of one chunk, in either pass. Only "mtllib" and "usemtl" are matched whole; the others by
// their first letter ("v" by its first two).
void readStatements(ObjReader& r, bool fill) {
    const char* end = r.end;
    const char* p = kelSkipSpace(r.begin, end);
    // A statement that ends the read returns `end`; after an index error the
    // rest of the chunk is still scanned, and only the first error is kept.
    while (p < end) {
        // Keywords are mostly one letter followed by a blank.
        const char* tokenEnd = kelIsSpace(p[1]) ? p + 1 : kelTokenEnd(p + 1, end);
        switch (*p) {
        case 'v': p = vertexStatement(r, p, tokenEnd, fill); break;
        case 'f': p = faceStatement(r, tokenEnd, fill); break;
        case 'g': p = groupStatement(r, tokenEnd, fill); break;
        case 'm':
        case 'u': p = materialStatement(r, p, tokenEnd, fill); break;
        default: p = kelSkipLine(tokenEnd, end); break;  // '#' comments and everything unsupported
        }
        p = kelSkipSpace(p, end);
    }
}

// Reports progress after each chunk: both passes make up the total. False
// (with the error set) when the callback asks to stop.
bool reportProgress(ObjReader& r, int pass, bool last) {
    if (!r.options->progress) return true;
    unsigned long long total = 2 * r.chunks.total;
    unsigned long long done = last ? total : pass * r.chunks.total + kelChunkEnd(&r.chunks);
    if (done > total) done = total;
    if (r.options->progress(r.options->user, done, total) == 0) return true;
    kelSetError(r.error, KEL_ERROR_CANCELLED, 0, "kelReadOBJ() cancelled reading \"%s\".", r.name);
    return false;
}

// One pass over the input, chunk by chunk; false when it stopped on an error.
bool readPass(ObjReader& r, bool fill) {
    while (kelNextChunk(&r.chunks)) {
        r.begin = r.chunks.data + r.chunks.start;
        r.end = r.chunks.data + r.chunks.split;
        readStatements(r, fill);
        if (r.error->code != KEL_OK || !reportProgress(r, fill, false)) return false;
    }
    switch (r.chunks.error) {
    case KEL_OK: return true;
    case KEL_ERROR_MEMORY: kelSetMemoryError(r.error, r.chunks.capacity, 2); break;
    case KEL_ERROR_ENCODING:
        kelSetError(r.error, KEL_ERROR_ENCODING, 0,
                    "kelReadOBJ() failed: \"%s\" is UTF-16 text; kel reads ASCII or UTF-8.", r.name);
        break;
    default: kelSetError(r.error, KEL_ERROR_IO, 0, "kelReadOBJ() failed: can't open data file \"%s\".", r.name); break;
    }
    return false;
}

bool firstPass(ObjReader& r) {
    KelModel* m = r.model;
    if (!(r.group = kelTryAddGroup(m, "default"))) return kelSetMemoryError(r.error, 1, sizeof(KelGroup)), false;
    if (!readPass(r, false)) return false;
    m->numvertices = r.numvertices;
    m->numnormals = r.numnormals;
    m->numtexcoords = r.numtexcoords;
    if (!(r.rooms = static_cast<unsigned*>(kelTryAlloc(m->numgroups, sizeof(unsigned)))))
        return kelSetMemoryError(r.error, m->numgroups, sizeof(unsigned)), false;
    unsigned i = 0;
    for (KelGroup* g = m->groups; g; g = g->next) {
        if (!(g->triangles = static_cast<unsigned*>(kelTryAlloc(g->numtriangles, sizeof(unsigned)))))
            return kelSetMemoryError(r.error, g->numtriangles, sizeof(unsigned)), false;
        r.rooms[i++] = g->numtriangles;
        g->numtriangles = 0;
    }
    return true;
}

// Every table zero-filled: numbers that fail to parse and index kinds a
// face does not carry read as 0.
bool allocateTables(ObjReader& r) {
    KelModel* m = r.model;
    struct {
        void** table;
        size_t count, size;
    } tables[] = {
        {reinterpret_cast<void**>(&m->vertices), 3 * (size_t(m->numvertices) + 1), sizeof(float)},
        {reinterpret_cast<void**>(&m->triangles), m->numtriangles, sizeof(KelTriangle)},
        {reinterpret_cast<void**>(&m->normals), m->numnormals ? 3 * (size_t(m->numnormals) + 1) : 0, sizeof(float)},
        {reinterpret_cast<void**>(&m->texcoords), m->numtexcoords ? 2 * (size_t(m->numtexcoords) + 1) : 0,
         sizeof(float)},
    };
    for (auto& t : tables) {
        if (t.count == 0 && t.table != reinterpret_cast<void**>(&m->triangles)) continue;
        if (!(*t.table = kelTryAlloc(t.count, t.size))) return kelSetMemoryError(r.error, t.count, t.size), false;
    }
    return true;
}

bool secondPass(ObjReader& r) {
    r.numvertices = r.numnormals = r.numtexcoords = 0;
    r.maxtriangles = r.model->numtriangles;
    r.model->numtriangles = 0;
    r.material = 0;
    selectGroup(r, "default");
    kelRewindChunks(&r.chunks);
    return readPass(r, true) && reportProgress(r, 1, true);
}

// Reads the opened input into a new model; null on failure, with nothing
// held.
KelModel* readObj(ObjReader& r) {
    KelModel* model = static_cast<KelModel*>(kelTryAlloc(1, sizeof(KelModel)));
    if (model && !(model->pathname = kelTryCopyName(r.name, strlen(r.name)))) free(model), model = nullptr;
    if (!model) {
        kelSetMemoryError(r.error, 1, sizeof(KelModel));
    } else {
        r.model = model;
        if (!(firstPass(r) && allocateTables(r) && secondPass(r))) {
            kelDelete(model);
            model = nullptr;
        }
    }
    kelCloseChunks(&r.chunks);
    free(r.rooms);
    return model;
}

// Reads input opened (or not) with `status` into a new model.
KelModel* loadObj(KelChunks* chunks, int status, const char* name, size_t chunk, const KelReadOptions* options,
                  KelError* error) {
    KelError local;
    if (!error) error = &local;
    *error = {};
    if (status == KEL_ERROR_OPEN) {
        kelSetError(error, KEL_ERROR_OPEN, 0, "kelReadOBJ() failed: can't open data file \"%s\".", name);
        return nullptr;
    }
    if (status == KEL_ERROR_MEMORY) {
        kelSetMemoryError(error, chunk, 1);
        return nullptr;
    }
    static const KelReadOptions defaults = {};
    ObjReader r = {};
    r.name = name;
    r.chunk = chunk;
    r.options = options ? options : &defaults;
    r.error = error;
    r.chunks = *chunks;
    return readObj(r);
}

}  // namespace

KelModel* kelLoadOBJChunks(const char* path, size_t chunk, const KelReadOptions* options, KelError* error) {
    KelChunks chunks;
    int status = kelOpenChunks(path, chunk, &chunks);
    return loadObj(&chunks, status, path, chunk, options, error);
}

KelModel* kelLoadOBJFromMemoryChunks(const void* data, size_t size, const char* name, size_t chunk,
                                     const KelReadOptions* options, KelError* error) {
    KelChunks chunks;
    int status = kelOpenMemoryChunks(data, size, chunk, &chunks);
    return loadObj(&chunks, status, name, chunk, options, error);
}

KelModel* kelLoadOBJ(const char* path, const KelReadOptions* options, KelError* error) {
    return kelLoadOBJChunks(path, kelChunkSize, options, error);
}

KelModel* kelLoadOBJFromMemory(const void* data, size_t size, const char* name, const KelReadOptions* options,
                               KelError* error) {
    return kelLoadOBJFromMemoryChunks(data, size, name, kelChunkSize, options, error);
}

KelModel* kelReadOBJ(const char* filename) {
    KelError error;
    KelModel* model = kelLoadOBJ(filename, nullptr, &error);
    if (!model) {
        // An unknown statement has always been reported on stdout.
        fprintf(error.code == KEL_ERROR_STATEMENT ? stdout : stderr, "%s\n", error.message);
        exit(1);
    }
    return model;
}
