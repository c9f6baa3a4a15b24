// The OBJ reader's filling stage: the statements of a chunk read into the
// tables, vertices with their numbers and colours, faces as fans of
// triangles into the current group's span, groups made current and given
// the current material, and usemtl looked up. The second pass fills each
// planned chunk into the room its plan gives it; the one pass fills the
// input in file order into tables that grow (TableRoom).
#include <cassert>
#include <cstdint>

#include "kel/obj_reader.h"
#include "kel/obj_refs.h"

namespace kelobj {
namespace {

// --- Faces ------------------------------------------------------------------------

// Records that index `which` of a reference names no entry of its table.
// In one pass, an index past the entries read so far may name one further
// on: two passes then read the input.
[[gnu::cold, gnu::noinline]] unsigned outOfRange(FillReader& r, const Reference& ref, int which) {
    if (r.room == ROOM_GROWING && ref.index[which] > 0) return needTwoPasses(&r, INDEX_AHEAD), 0;
    static const char* const kinds[3] = {"vertex", "texture coordinate", "normal"};
    const char* written = ref.at[which];
    const char* digits = kelIsDigit(*written) ? written : written + 1;
    while (kelIsDigit(*digits)) digits++;
    unsigned long line = kelChunkLine(r.chunks, written);
    KelError* error = r.room == ROOM_GROWING ? &r.onePass->indexError : r.error;
    kelSetError(error, KEL_ERROR_INDEX, line, "kelReadOBJ() failed: %s index %.*s out of range in \"%s\" line %lu.",
                kinds[which], int(digits - written), written, r.name, line);
    return 0;
}

// Turns index `which` of a reference into a table index; records an error
// (and returns 0) when it names no entry.
inline unsigned resolve(FillReader& r, const Reference& ref, int which, unsigned sofar, unsigned total) {
    long long index = ref.index[which];
    if (index > 0 && index <= (long long)total) return unsigned(index);
    long long resolved = (long long)sofar + 1 + index;
    if (index < 0 && resolved >= 1) return unsigned(resolved);
    return outOfRange(r, ref, which);
}

// The corner a reference gives a face of `form`: the members it takes from
// the reference, as table indices; the others keep their values in
// `before` (those of the face's previous reference). A texture coordinate
// or normal in a file without any reads as 0.
inline Corner resolveReference(FillReader& r, const Reference& ref, FaceForm form, Corner before) {
    const KelModel* m = r.model;
    Corner c = before;
    c.v = resolve(r, ref, 0, r.numvertices, m->numvertices);
    if (form == FORM_V) return c;  // positions only: the commonest faces after v/t/n
    bool texture = (form & FORM_VT) && ref.at[1];
    bool normal = ref.at[2] && form == (ref.at[1] ? FORM_VTN : FORM_VN);
    if (texture && m->numtexcoords)
        c.t = resolve(r, ref, 1, r.numtexcoords, m->numtexcoords);
    else if (texture && r.room == ROOM_GROWING)
        r.onePass->unresolvedReferences = true;
    if (normal && m->numnormals)
        c.n = resolve(r, ref, 2, r.numnormals, m->numnormals);
    else if (normal && r.room == ROOM_GROWING)
        r.onePass->unresolvedReferences = true;
    return c;
}

__attribute__((always_inline)) inline void storeTriangle(FillReader& r, FaceForm form, Corner a, Corner b, Corner c) {
    // Never full in the second pass, unless the file changed after the
    // first; in one pass, full until grown.
    GroupSpan* span = r.span;
    if (r.triangle == r.triangleRoom || !span || span->filled == span->count) {
        if (r.room != ROOM_GROWING || !growTriangles(&r)) return;
        span = r.span;
    }
    assert(r.triangle < r.triangleRoom && span->filled < span->count);
    KelTriangle* t = &r.model->triangles[r.triangle];
    t->vindices[0] = a.v, t->vindices[1] = b.v, t->vindices[2] = c.v;
    if (form & FORM_VT) t->tindices[0] = a.t, t->tindices[1] = b.t, t->tindices[2] = c.t;
    if (form & FORM_VN) t->nindices[0] = a.n, t->nindices[1] = b.n, t->nindices[2] = c.n;
    span->group->triangles[span->first + span->filled++] = r.triangle++;
}

// A face: references, each one token, read across white space of any kind
// until a token that does not begin with a number (not consumed: its
// position is returned). N references make a fan of N - 2 triangles; one or
// two make one triangle that repeats the last reference.
const char* fillFace(FillReader& r, const char* p) {
    const char* end = r.end;
    p = kelSkipSpace(p, end);
    if (!startsIndex(p, end)) return p;
    if (r.room == ROOM_GROWING) {
        // Indices are checked against the entries read so far.
        KelModel* m = r.model;
        m->numvertices = r.numvertices, m->numnormals = r.numnormals, m->numtexcoords = r.numtexcoords;
    }
    Corner first = {0, 0, 0}, previous = {0, 0, 0}, current = {0, 0, 0};
    Reference ref;
    FaceForm form, ignored;
    int digits = r.indexDigits;
    p = parseReference(p, end, &ref, &form, &digits);
    for (int count = 1;; count++) {
        current = resolveReference(r, ref, form, current);
        if (count == 1) first = current;
        if (count >= 3) storeTriangle(r, form, first, previous, current);
        previous = current;
        p = kelSkipSpace(p, end);
        if (!startsIndex(p, end)) {
            if (count < 3) storeTriangle(r, form, first, previous, previous);
            r.indexDigits = digits;
            return p;
        }
        p = parseReference(p, end, &ref, &ignored, &digits);
    }
}

// --- Vertices ---------------------------------------------------------------------

// The colour table, every entry 1, 1, 1, made by the first thread that needs
// it, with room for the vertex table's; null (with the error set) when out
// of memory.
float* makeColors(FillReader& r) {
    std::lock_guard<std::mutex> hold(r.colors->lock);
    float* colors = r.colors->colors.load(std::memory_order_relaxed);
    if (colors) return colors;
    size_t floats = 3 * (size_t(r.room == ROOM_GROWING ? r.vertexRoom : r.model->numvertices) + 1);
    if (!(colors = static_cast<float*>(kelTryAlloc(floats, sizeof(float))))) {
        kelSetMemoryError(r.error, floats, sizeof(float));
        return nullptr;
    }
    for (size_t i = 0; i < floats; i++) colors[i] = 1;
    r.colors->colors.store(colors, std::memory_order_release);
    return colors;
}

// The numbers of a vertex: x, y and z as kelReadNumbers reads them, then, on
// the line of z, either a w (ignored) or exactly three more numbers, the
// colour scanners and exporters write. The colour table is made, every
// entry 1, 1, 1, at the first colour. `index` is the vertex's entry, 0 when
// it has none. Returns the start of the line after z's.
const char* vertexNumbers(FillReader& r, const char* p, float* xyz, unsigned index) {
    const char* end = r.end;
    const char* last = p;
    int n = 0;
    for (; n < 3; n++) {
        const char* q = kelSkipSpace(last, end);
        const char* after = kelParseFloat(q, end, &xyz[n]);
        if (after == q) break;
        last = after;
    }
    if (*last == '\n' && n == 3) return last + 1;  // most vertices: the line ends right after z
    // A number missing reads as 0. The tables of two passes are zero-filled,
    // but those of one pass grow without being cleared, and clearing each
    // entry before it is read costs more than this.
    for (int k = n; k < 3; k++) xyz[k] = 0;
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
        float* colors = r.colors->colors.load(std::memory_order_acquire);
        if (!colors) colors = makeColors(r);
        if (!colors) return end;
        memcpy(&colors[3 * size_t(index)], rgb, 3 * sizeof(float));
    }
    return kelSkipLine(last, end);
}

// "v", "vn" and "vt": their numbers read into the next entry of their
// table. Whatever follows the numbers on the line of the last one is
// dropped, as counting drops the rest of the line. Any other statement that
// starts with 'v' ends the read (one pass meets it first).
const char* fillVertex(FillReader& r, const char* p, const char* tokenEnd) {
    KelModel* m = r.model;
    size_t length = size_t(tokenEnd - p);
    unsigned* read;
    unsigned room;
    float* table;
    int width = 3;
    if (length == 1) {
        read = &r.numvertices, room = r.vertexRoom, table = m->vertices;
    } else if (length == 2 && p[1] == 'n') {
        read = &r.numnormals, room = r.normalRoom, table = m->normals;
    } else if (length == 2 && p[1] == 't') {
        read = &r.numtexcoords, room = r.texcoordRoom, table = m->texcoords, width = 2;
    } else {
        unknownStatementError(r.error, *r.chunks, p, tokenEnd);
        return r.end;
    }
    if (*read == room && r.room == ROOM_GROWING)
        return growEntries(&r, read, width) ? fillVertex(r, p, tokenEnd) : r.end;
    float scratch[3];  // for an entry past the room: the file changed since it was counted
    float* entry = *read < room ? &table[width * ++*read] : scratch;
    if (length == 1) return vertexNumbers(r, tokenEnd, entry, entry == scratch ? 0 : *read);
    int numbers;
    p = kelReadNumbers(tokenEnd, r.end, entry, width, &numbers);
    for (; numbers < width; numbers++) entry[numbers] = 0;  // see vertexNumbers
    return p;
}

// --- Groups and materials -------------------------------------------------------------

// "g": the group's name is the whole rest of the line, the blanks after the
// keyword included, without the line end ("\n" or "\r\n"). The group
// becomes current and gets the current material; one pass makes it when
// new.
const char* fillGroup(FillReader& r, const char* tokenEnd) {
    const char* lineEnd = kelSkipLine(tokenEnd, r.end);
    const char* next = lineEnd;
    if (lineEnd > tokenEnd && lineEnd[-1] == '\n') lineEnd--;
    while (lineEnd > tokenEnd && lineEnd[-1] == '\r') lineEnd--;
    NameCopy copy(r.error, tokenEnd, lineEnd);
    const char* name = copy.text;
    if (!name) return r.end;
    if (r.room == ROOM_GROWING) {
        KelNameSlot* slot = findOrAddGroup(r.model, r.onePass->groups, name, r.error);
        if (!(r.span = slot ? wholeListSpan(r.plan, slot, r.error) : nullptr)) return r.end;
    } else {
        r.span = filledSpan(r.chunkGroups, name, r.error);
    }
    if (r.span) r.span->material = r.material, r.span->assigned = true;
    return next;
}

// One pass: "mtllib" reads the library at once. The materials a usemtl
// already looked up may not be the ones it gives, so after one two passes
// read the input. False when the read ends here.
bool readLibraryNow(FillReader& r, char* name, const char* at) {
    OnePass* one = r.onePass;
    if (one->usedMaterial) return needTwoPasses(&r, LIBRARY_AFTER_USE), false;
    LibraryNote note = {name, r.chunks->offset + size_t(at - r.chunks->data)};
    KelError missing;
    switch (readLibrary(*one->setup, r.model, r.materials, note, &missing, r.error)) {
    case LIBRARY_READ: return true;
    case LIBRARY_MISSING: return needTwoPasses(&r, LIBRARY_MISSING_OK), false;
    case LIBRARY_FAILED: return false;
    }
    return false;
}

// "usemtl": the material named becomes current and the current group's.
void useMaterial(FillReader& r, const char* name) {
    if (r.onePass) r.onePass->usedMaterial = true;
    r.material = 0;
    if (!r.materials->libraryMissing && !lookupMaterial(*r.materials, name, &r.material))
        r.current->unknownMaterial = true;
    if (r.span) r.span->material = r.material, r.span->assigned = true;
}

// "usemtl", and in one pass "mtllib": the first word after the keyword
// names the material or library. Other statements that start with 'm' or
// 'u' are skipped (the second pass skips "mtllib": the first read it).
const char* fillMaterialStatement(FillReader& r, const char* p, const char* tokenEnd) {
    bool library = r.room == ROOM_GROWING && kelIsWord(p, tokenEnd, "mtllib");
    bool use = kelIsWord(p, tokenEnd, "usemtl");
    const char* wordEnd = tokenEnd;
    const char* word = tokenEnd;
    if (library || use) word = kelLineWord(tokenEnd, r.end, &wordEnd);
    bool goOn = true;
    if (word != wordEnd) {
        NameCopy copy(r.error, word, wordEnd);
        if (!copy.text)
            goOn = false;
        else if (library)
            goOn = readLibraryNow(r, copy.text, p);
        else
            useMaterial(r, copy.text);
    }
    return goOn ? kelSkipLine(wordEnd, r.end) : r.end;
}

}  // namespace

void fillStatements(FillReader* reader) {
    FillReader& r = *reader;
    assert(r.span || r.room == ROOM_COUNTED);  // one pass always has a current group
    const char* end = r.end;
    const char* p = kelSkipSpace(r.begin, end);
    // A statement that ends the read returns `end`; after an index error the
    // rest of the chunk is still read, and only the first error is kept.
    while (p < end) {
        // Keywords are mostly one letter followed by a blank.
        const char* tokenEnd = kelIsSpace(p[1]) ? p + 1 : kelTokenEnd(p + 1, end);
        switch (*p) {
        case 'v': p = fillVertex(r, p, tokenEnd); break;
        case 'f': p = fillFace(r, tokenEnd); break;
        case 'g': p = fillGroup(r, tokenEnd); break;
        case 'm':
        case 'u': p = fillMaterialStatement(r, p, tokenEnd); break;
        default: p = kelSkipLine(tokenEnd, end); break;  // '#' comments and everything unsupported
        }
        p = kelSkipSpace(p, end);
    }
}

}  // namespace kelobj
