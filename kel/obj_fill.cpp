// The OBJ reader's filling stage: the statements of a chunk read into the
// tables, vertices with their numbers and colours, faces as fans of
// triangles into the current group's span (each with the current material
// and smoothing group), lines, points and objects, groups made current and
// given the current material, and usemtl looked up. The second pass fills each
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
    KelModel* m = r.model;
    KelTriangle* t = &m->triangles[r.triangle];
    t->vindices[0] = a.v, t->vindices[1] = b.v, t->vindices[2] = c.v;
    if (form & FORM_VT) t->tindices[0] = a.t, t->tindices[1] = b.t, t->tindices[2] = c.t;
    if (form & FORM_VN) t->nindices[0] = a.n, t->nindices[1] = b.n, t->nindices[2] = c.n;
    if (m->trimaterials) m->trimaterials[r.triangle] = r.material;
    if (m->smoothing) m->smoothing[r.triangle] = r.smoothing;
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

// --- Lines, points, objects and smoothing groups --------------------------------------

// Stores a segment from `from` to `to`, or (`line` false) the point `to`.
// Past the room only when the file changed since it was counted: then it
// is dropped (the chunk's check reports it). False when out of memory.
bool storeLineEntry(FillReader& r, bool line, unsigned from, unsigned to) {
    unsigned* count = line ? &r.numlines : &r.numpoints;
    if (*count == (line ? r.lineRoom : r.pointRoom)) {
        if (r.room != ROOM_GROWING) return true;
        if (!growList(&r, count)) return false;
    }
    if (line)
        r.model->lines[2 * size_t(*count)] = from, r.model->lines[2 * size_t(*count) + 1] = to;
    else
        r.model->points[*count] = to;
    ++*count;
    return true;
}

// "l" and "p": each reference's vertex index, checked like a face's; "l a b
// c" gives the segments a-b and b-c, "p a b" the points a and b.
const char* fillLineOrPoints(FillReader& r, bool line, const char* tokenEnd) {
    KelModel* m = r.model;
    if (r.room == ROOM_GROWING) m->numvertices = r.numvertices;  // indices are checked against those read so far
    unsigned previous = 0;
    bool first = true, stored = true;
    const char* next = lineReferences(tokenEnd, r.end, [&](const Reference& ref) {
        unsigned v = resolve(r, ref, 0, r.numvertices, m->numvertices);
        if (stored && (!line || !first)) stored = storeLineEntry(r, line, previous, v);
        previous = v;
        first = false;
    });
    return stored ? next : r.end;
}

// "o": an object starts at the next triangle.
const char* fillObject(FillReader& r, const char* tokenEnd) {
    const char* nameEnd;
    const char* next;
    const char* name = statementName(tokenEnd, r.end, &nameEnd, &next);
    if (r.numobjects == r.objectRoom && r.room == ROOM_GROWING && !growList(&r, &r.numobjects)) return r.end;
    if (r.numobjects == r.objectRoom) return next;  // the file changed since it was counted
    KelObject* object = &r.model->objects[r.numobjects];
    if (!(object->name = kelTryCopyName(name, size_t(nameEnd - name))))
        return kelSetMemoryError(r.error, size_t(nameEnd - name) + 1, 1), r.end;
    object->first = r.triangle;
    object->count = 0;
    r.numobjects++;
    if (r.room == ROOM_GROWING) r.model->numobjects = r.numobjects;  // so kelDelete frees the names on failure
    return next;
}

// "s": the smoothing group of the triangles that follow. One pass makes the
// table at the first group other than 0.
const char* fillSmoothing(FillReader& r, const char* tokenEnd) {
    const char* next;
    r.smoothing = smoothingGroup(tokenEnd, r.end, &next);
    if (r.smoothing && !r.model->smoothing && r.room == ROOM_GROWING && !addTriangleTable(&r, &r.model->smoothing))
        return r.end;
    return next;
}

// Statements that start with another letter: "o", "s", "l" and "p"; the
// rest ('#' comments and everything unsupported) are skipped.
const char* fillOther(FillReader& r, const char* p, const char* tokenEnd) {
    if (isKeyword(p, tokenEnd, 'l') || isKeyword(p, tokenEnd, 'p')) return fillLineOrPoints(r, *p == 'l', tokenEnd);
    if (isKeyword(p, tokenEnd, 'o')) return fillObject(r, tokenEnd);
    if (isKeyword(p, tokenEnd, 's')) return fillSmoothing(r, tokenEnd);
    return kelSkipLine(tokenEnd, r.end);
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

// "g": the group's name is the rest of the line with the blanks around it
// dropped (statementName). The group becomes current and gets the current
// material; one pass makes it when new.
const char* fillGroup(FillReader& r, const char* tokenEnd) {
    const char *nameEnd, *next;
    const char* start = statementName(tokenEnd, r.end, &nameEnd, &next);
    NameCopy copy(r.error, start, nameEnd);
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
    case LIBRARY_READ:
        // The model has materials from here on: its triangles have theirs,
        // 0 for those before (no usemtl came before).
        return r.model->trimaterials || addTriangleTable(&r, &r.model->trimaterials);
    case LIBRARY_MISSING: return needTwoPasses(&r, LIBRARY_MISSING_OK), false;
    case LIBRARY_FAILED: return false;
    }
    return false;
}

// "usemtl": the material named becomes current and the current group's.
void useMaterial(FillReader& r, const char* name) {
    if (r.onePass) r.onePass->usedMaterial = true;
    if (!lookupMaterial(*r.materials, name, &r.material)) {
        r.material = 0;
        if (!r.materials->libraryMissing) r.current->unknownMaterial = true;
    }
    if (r.span) r.span->material = r.material, r.span->assigned = true;
}

// "usemtl": the rest of the line names the material (statementName); in
// one pass "mtllib": every word names a library. Other statements that
// start with 'm' or 'u' are skipped (the second pass skips "mtllib": the
// first read it).
const char* fillMaterialStatement(FillReader& r, const char* p, const char* tokenEnd) {
    if (kelIsWord(p, tokenEnd, "usemtl")) {
        const char *nameEnd, *next;
        const char* name = statementName(tokenEnd, r.end, &nameEnd, &next);
        if (name == nameEnd) return next;
        NameCopy copy(r.error, name, nameEnd);
        if (!copy.text) return r.end;
        useMaterial(r, copy.text);
        return next;
    }
    bool library = r.room == ROOM_GROWING && kelIsWord(p, tokenEnd, "mtllib");
    const char* wordEnd = tokenEnd;
    while (library) {
        const char* word = kelLineWord(wordEnd, r.end, &wordEnd);
        if (word == wordEnd) break;
        NameCopy copy(r.error, word, wordEnd);
        if (!copy.text) return r.end;
        if (!readLibraryNow(r, copy.text, p)) return r.end;
    }
    return kelSkipLine(wordEnd, r.end);
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
        default: p = fillOther(r, p, tokenEnd); break;
        }
        p = kelSkipSpace(p, end);
    }
}

}  // namespace kelobj
