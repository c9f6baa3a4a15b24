// OBJ reader. A first pass over the file's bytes counts what it holds,
// creates the groups and reads the material library, every table is then
// allocated once at its final size, and a second pass fills them. Both passes
// read the file in chunks of whole statements and find statements the same
// way; the second never writes past what the first counted, even when the
// file changes between them.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// How a face writes its vertex references, decided by its first one.
enum FaceForm { FORM_V, FORM_VT, FORM_VN, FORM_VTN };

struct ObjReader {
    KelModel* model;
    const char* filename;
    size_t chunk;  // chunk size, for the material library too
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
    FaceForm form;          // the form of the last face filled (second pass)
};

// The read in progress, for kelAbandonRead.
ObjReader* reading;

inline bool isDigit(char c) { return unsigned(c - '0') < 10; }

// Whether a vertex reference starts at p: an integer as scanf's %d reads it.
inline bool startsIndex(const char* p, const char* end) {
    if (p < end && isDigit(*p)) return true;
    return p + 1 < end && (*p == '-' || *p == '+') && isDigit(p[1]);
}

// The integer at p (optional sign, digits), saturating far beyond any table
// size. Returns p when there is none.
inline const char* parseIndex(const char* p, const char* end, long long* out) {
    if (!startsIndex(p, end)) return p;
    bool negative = *p == '-';
    if (!isDigit(*p)) p++;
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

// The form of a face's first reference, the token at p. Common tokens are
// decided as they are parsed; the others by the rules in full: one that
// holds "//" is vertex//normal, else the longest of v/t/n, v/t and v that
// its numbers match.
FaceForm faceForm(const char* p, const char* end) {
    long long ignored;
    const char* q = parseIndex(p, end, &ignored);
    if (q == end || kelIsSpace(*q)) return FORM_V;
    if (*q == '/' && q[1] == '/') return FORM_VN;
    const char* t = q + 1;
    const char* r = *q == '/' ? parseIndex(t, end, &ignored) : t;
    if (r != t) {
        if (r == end || kelIsSpace(*r)) return FORM_VT;
        if (*r == '/' && r[1] == '/') return FORM_VN;
        const char* n = r + 1;
        const char* s = *r == '/' ? parseIndex(n, end, &ignored) : n;
        if (s != n && (s == end || kelIsSpace(*s))) return FORM_VTN;
    }
    const char* tokenEnd = kelTokenEnd(p, end);
    for (const char* c = p; c + 1 < tokenEnd; c++)
        if (c[0] == '/' && c[1] == '/') return FORM_VN;
    q = parseIndex(p, tokenEnd, &ignored);
    if (q == tokenEnd || *q != '/') return FORM_V;
    r = parseIndex(q + 1, tokenEnd, &ignored);
    if (r == q + 1) return FORM_V;
    if (r < tokenEnd && *r == '/' && parseIndex(r + 1, tokenEnd, &ignored) != r + 1) return FORM_VTN;
    return FORM_VT;
}

[[noreturn]] void indexOutOfRange(const ObjReader& r, const char* kind, long long index, const char* at) {
    fprintf(stderr, "kelReadOBJ() failed: %s index %lld out of range in \"%s\" line %zu.\n", kind, index, r.filename,
            kelChunkLine(&r.chunks, at));
    kelExit(1);
}

// Turns an index as written (negative: counted back from the latest entry
// read) into a table index, ending the read when it names no entry.
inline unsigned resolve(const ObjReader& r, long long index, unsigned sofar, unsigned total, const char* kind,
                        const char* at) {
    if (index > 0 && index <= (long long)total) return unsigned(index);
    long long resolved = (long long)sofar + 1 + index;
    if (index >= 0 || resolved < 1) indexOutOfRange(r, kind, index, at);
    return unsigned(resolved);
}

// One vertex reference {vertex, texture coordinate, normal} written in
// `form`, at p; returns the end of its token. Members the token lacks keep
// their values (those of the face's previous reference). A texture
// coordinate or normal in a file without any reads as 0.
const char* readReference(const ObjReader& r, const char* p, FaceForm form, unsigned ref[3]) {
    const KelModel* m = r.model;
    const char* end = r.end;
    long long index = 0;
    const char* q = parseIndex(p, end, &index);
    ref[0] = resolve(r, index, r.numvertices, m->numvertices, "vertex", p);
    if (form != FORM_V && q < end && *q == '/') {
        q++;
        bool more = true;
        if (form == FORM_VN) {
            more = q < end && *q == '/';
            q += more;
        } else {
            const char* t = q;
            q = parseIndex(t, end, &index);
            more = q != t;
            if (more && m->numtexcoords)
                ref[1] = resolve(r, index, r.numtexcoords, m->numtexcoords, "texture coordinate", t);
            if (form == FORM_VT || q == end || *q != '/') more = false;
            q += more;
        }
        const char* n = q;
        if (more && (q = parseIndex(n, end, &index)) != n && m->numnormals)
            ref[2] = resolve(r, index, r.numnormals, m->numnormals, "normal", n);
    }
    return kelTokenEnd(q, end);
}

// readReference for the common tokens, in one pass over their digits: every
// number the form asks for present, unsigned, within its table (so that
// resolve would return it as written) and the token ending right after the
// last one. Returns p when the token is anything else; readReference then
// reads it by the full rules. The members it sets are the ones
// readReference sets for such a token.
inline const char* quickReference(const ObjReader& r, const char* p, FaceForm form, unsigned ref[3]) {
    const KelModel* m = r.model;
    int length;
    uint32_t v = kelDigits8(p, &length);
    const char* q = p + length;
    if (length == 0 || v == 0 || v > m->numvertices) return p;
    uint32_t t = 0, n = 0;
    if (form == FORM_VT || form == FORM_VTN) {
        if (*q != '/') return p;
        t = kelDigits8(q + 1, &length);
        q += 1 + length;
        if (length == 0 || t == 0 || t > m->numtexcoords) return p;
    }
    if (form == FORM_VN || form == FORM_VTN) {
        if (q[0] != '/' || (form == FORM_VN && q[1] != '/')) return p;
        q += form == FORM_VN ? 2 : 1;
        n = kelDigits8(q, &length);
        q += length;
        if (length == 0 || n == 0 || n > m->numnormals) return p;
    }
    if (q < r.end && !kelIsSpace(*q)) return p;  // the padding makes reading *q safe
    ref[0] = v;
    if (form == FORM_VT || form == FORM_VTN) ref[1] = t;
    if (form == FORM_VN || form == FORM_VTN) ref[2] = n;
    return q;
}

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

// A face after its keyword: references, each one token, read across white
// space of any kind until a token that does not begin with a number (not
// consumed: its position is returned). N references make a fan of N - 2
// triangles; one or two make one triangle that repeats the last reference.
#if defined(__SSE2__)
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

// A face after its keyword: references, each one token, read across white
// space of any kind until a token that does not begin with a number (not
// consumed: its position is returned). N references make a fan of N - 2
// triangles; one or two make one triangle that repeats the last reference.
const char* countFace(ObjReader& r, const char* p) {
    const char* end = r.end;
    unsigned references = 0;
    const char* slowUntil = p;  // a line where a token needs a closer look
    for (p = kelSkipSpace(p, end); startsIndex(p, end); p = kelSkipSpace(p, end)) {
#if defined(__SSE2__)
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
    unsigned triangles = references == 0 ? 0 : references < 3 ? 1 : references - 2;
    r.model->numtriangles += triangles;
    r.group->numtriangles += triangles;
    return p;
}

const char* fillFace(ObjReader& r, const char* p) {
    const char* end = r.end;
    p = kelSkipSpace(p, end);
    if (!startsIndex(p, end)) return p;
    unsigned first[3] = {0, 0, 0}, previous[3], ref[3] = {0, 0, 0};
    // A first reference that reads quickly in the previous face's form has
    // that form (faceForm decides such a token the same way); any other
    // first reference has its face's form decided in full.
    const char* q = quickReference(r, p, r.form, ref);
    if (q == p) r.form = faceForm(p, end);
    const FaceForm form = r.form;
    int count = 0;
    for (;;) {
        p = q != p ? q : readReference(r, p, form, ref);
        count++;
        if (count == 1) memcpy(first, ref, sizeof ref);
        if (count >= 3) storeTriangle(r, form, first, previous, ref);
        memcpy(previous, ref, sizeof ref);
        p = kelSkipSpace(p, end);
        if (!startsIndex(p, end)) break;
        q = quickReference(r, p, form, ref);
    }
    if (count < 3) storeTriangle(r, form, first, previous, previous);
    return p;
}

// A vertex statement after its keyword: x, y and z as kelReadNumbers reads
// them, then, on the line of z, either a w (ignored) or exactly three more
// numbers, the colour scanners and exporters write. The colour table is
// made, at its final size and every entry 1, 1, 1, at the first colour.
// `index` is the vertex's entry, 0 when it has none. Returns the start of
// the line after z's.
const char* readVertex(ObjReader& r, const char* p, float* xyz, unsigned index) {
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
            m->colors = static_cast<float*>(kelAlloc(floats, sizeof(float)));
            for (size_t i = 0; i < floats; i++) m->colors[i] = 1;
        }
        memcpy(&m->colors[3 * size_t(index)], rgb, 3 * sizeof(float));
    }
    return kelSkipLine(last, end);
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

// A group statement after its keyword, at p; returns the start of the next
// line. Group names are the whole rest of the line, the blanks after the
// keyword included, without the line end ("\n" or "\r\n"). The name is
// NUL-terminated in place for the lookup and the byte put back afterwards.
const char* lineGroup(ObjReader& r, bool fill, char* p) {
    char* lineEnd = const_cast<char*>(kelSkipLine(p, r.end));
    const char* next = lineEnd;
    if (lineEnd > p && lineEnd[-1] == '\n') lineEnd--;
    while (lineEnd > p && lineEnd[-1] == '\r') lineEnd--;
    char saved = *lineEnd;
    *lineEnd = '\0';
    if (fill)
        selectGroup(r, p);
    else
        r.group = kelAddGroup(r.model, p);
    *lineEnd = saved;
    return next;
}

bool isWord(const char* p, const char* tokenEnd, const char* word) {
    size_t length = strlen(word);
    return size_t(tokenEnd - p) == length && memcmp(p, word, length) == 0;
}

// The statements of one chunk, in either pass. Only "mtllib" and "usemtl"
// are matched whole; the others by their first letter ("v" by its first
// two).
void readStatements(ObjReader& r, bool fill) {
    KelModel* m = r.model;
    const char* end = r.end;
    const char* p = kelSkipSpace(r.begin, end);
    while (p < end) {
        // Keywords are mostly one letter followed by a blank.
        const char* tokenEnd = kelIsSpace(p[1]) ? p + 1 : kelTokenEnd(p + 1, end);
        switch (*p) {
        case 'v': {
            size_t length = size_t(tokenEnd - p);
            unsigned* read;
            unsigned total;
            float* table;
            int width = 3;
            if (length == 1) {
                read = &r.numvertices, total = m->numvertices, table = m->vertices;
            } else if (p[1] == 'n') {
                read = &r.numnormals, total = m->numnormals, table = m->normals;
            } else if (p[1] == 't') {
                read = &r.numtexcoords, total = m->numtexcoords, table = m->texcoords, width = 2;
            } else {
                const_cast<char*>(p)[length] = '\0';  // the process ends here
                printf("kelFirstPass(): Unknown token \"%s\".\n", p);
                kelExit(1);
            }
            if (!fill) {
                ++*read;
                p = kelSkipLine(tokenEnd, end);
                break;
            }
            // Whatever follows the numbers on the line of the last one is
            // dropped, as the first pass drops the rest of the line.
            float scratch[3];
            float* entry = *read < total ? &table[width * ++*read] : scratch;
            if (length == 1)
                p = readVertex(r, tokenEnd, entry, entry == scratch ? 0 : *read);
            else
                p = kelReadNumbers(tokenEnd, end, entry, width);
            break;
        }
        case 'f': p = fill ? fillFace(r, tokenEnd) : countFace(r, tokenEnd); break;
        case 'g': p = lineGroup(r, fill, const_cast<char*>(tokenEnd)); break;
        case 'm':
        case 'u': {
            const char* wordEnd = tokenEnd;
            const char* word = tokenEnd;
            bool library = isWord(p, tokenEnd, "mtllib");
            bool use = isWord(p, tokenEnd, "usemtl");
            if ((library && !fill) || (use && fill)) word = kelLineWord(tokenEnd, end, &wordEnd);
            if (word != wordEnd) {
                // The first word names the library or material; the
                // name is NUL-terminated in place while it is used.
                char* name = const_cast<char*>(word);
                char saved = *wordEnd;
                name[wordEnd - word] = '\0';
                if (library) {
                    free(m->mtllibname);
                    m->mtllibname = kelCopyName(word, size_t(wordEnd - word));
                    kelReadMTLChunks(m, name, r.chunk);
                } else {
                    r.material = kelFindMaterial(m, name);
                    if (r.group) r.group->material = r.material;
                }
                name[wordEnd - word] = saved;
            }
            p = kelSkipLine(wordEnd, end);
            break;
        }
        default:  // '#' comments and everything unsupported
            p = kelSkipLine(tokenEnd, end);
            break;
        }
        p = kelSkipSpace(p, end);
    }
}

[[noreturn]] void cannotOpen(const char* filename) {
    fprintf(stderr, "kelReadOBJ() failed: can't open data file \"%s\".\n", filename);
    kelExit(1);
}

// One pass over the file, chunk by chunk.
void readFile(ObjReader& r, bool fill) {
    while (kelNextChunk(&r.chunks)) {
        r.begin = r.chunks.data;
        r.end = r.chunks.data + r.chunks.split;
        readStatements(r, fill);
    }
    if (r.chunks.failed) cannotOpen(r.filename);
}

void kelFirstPass(ObjReader& r) {
    KelModel* m = r.model;
    r.group = kelAddGroup(m, "default");
    readFile(r, false);
    m->numvertices = r.numvertices;
    m->numnormals = r.numnormals;
    m->numtexcoords = r.numtexcoords;
    r.rooms = static_cast<unsigned*>(kelAlloc(m->numgroups, sizeof(unsigned)));
    unsigned i = 0;
    for (KelGroup* g = m->groups; g; g = g->next) {
        g->triangles = static_cast<unsigned*>(kelAlloc(g->numtriangles, sizeof(unsigned)));
        r.rooms[i++] = g->numtriangles;
        g->numtriangles = 0;
    }
}

void kelSecondPass(ObjReader& r) {
    r.numvertices = r.numnormals = r.numtexcoords = 0;
    r.maxtriangles = r.model->numtriangles;
    r.model->numtriangles = 0;
    r.material = 0;
    selectGroup(r, "default");
    kelRewindChunks(&r.chunks);
    readFile(r, true);
}

}  // namespace

KelModel* kelReadOBJChunks(const char* filename, size_t chunk) {
    ObjReader r = {};
    if (!kelOpenChunks(filename, chunk, &r.chunks)) cannotOpen(filename);
    reading = &r;
    KelModel* model = static_cast<KelModel*>(kelAlloc(1, sizeof(KelModel)));
    model->pathname = kelCopyName(filename, strlen(filename));
    r.model = model;
    r.filename = filename;
    r.chunk = chunk;
    kelFirstPass(r);

    // Every table zero-filled: numbers that fail to parse and index kinds a
    // face does not carry read as 0.
    model->vertices = static_cast<float*>(kelAlloc(3 * (size_t(model->numvertices) + 1), sizeof(float)));
    model->triangles = static_cast<KelTriangle*>(kelAlloc(model->numtriangles, sizeof(KelTriangle)));
    if (model->numnormals)
        model->normals = static_cast<float*>(kelAlloc(3 * (size_t(model->numnormals) + 1), sizeof(float)));
    if (model->numtexcoords)
        model->texcoords = static_cast<float*>(kelAlloc(2 * (size_t(model->numtexcoords) + 1), sizeof(float)));

    kelSecondPass(r);
    kelCloseChunks(&r.chunks);
    free(r.rooms);
    reading = nullptr;
    return model;
}

KelModel* kelReadOBJ(const char* filename) { return kelReadOBJChunks(filename, kelChunkSize); }

void kelAbandonRead() {
    if (!reading) return;
    if (reading->model) kelDelete(reading->model);
    kelCloseChunks(&reading->chunks);
    free(reading->rooms);
    reading = nullptr;
}
