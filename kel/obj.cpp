// OBJ reader. The file is loaded once; a first pass over its bytes counts
// what it holds, creates the groups and reads the material library, every
// array is then allocated once at its final size, and a second pass fills
// them. Both passes find statements the same way, so the second never holds
// more than the first counted.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

namespace {

// How a face writes its vertex references, decided by its first one.
enum FaceForm { FORM_V, FORM_VT, FORM_VN, FORM_VTN };

struct ObjReader {
    KelModel* model;
    const char* filename;
    const char* begin;
    const char* end;
    bool fill;  // second pass: resolve, check and store
    // Entries read so far: the first pass's counts, or the second pass's
    // last filled index.
    unsigned numvertices, numnormals, numtexcoords;
    unsigned maxtriangles;  // room in model->triangles (second pass)
    KelGroup* group;        // current group
    unsigned material;      // current material (second pass)
};

// The model and text of the read in progress, for kelAbandonRead.
KelModel* readingModel;
char* readingText;

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// One integer as scanf's %d reads it (optional sign, digits) at p, without
// leading white space. Saturates far beyond any table size. Returns p when
// there is none.
const char* parseIndex(const char* p, const char* end, long long* out) {
    const char* q = p;
    bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+')) q++;
    if (q == end || !isDigit(*q)) return p;
    long long value = 0;
    for (; q < end && isDigit(*q); q++)
        if (value < 1000000000000000LL) value = value * 10 + (*q - '0');
    *out = negative ? -value : value;
    return q;
}

bool beginsWithIndex(const char* p, const char* end) {
    long long ignored;
    return parseIndex(p, end, &ignored) != p;
}

FaceForm faceForm(const char* p, const char* tokenEnd) {
    for (const char* q = p; q + 1 < tokenEnd; q++)
        if (q[0] == '/' && q[1] == '/') return FORM_VN;
    long long ignored;
    const char* q = parseIndex(p, tokenEnd, &ignored);
    if (q == tokenEnd || *q != '/') return FORM_V;
    const char* r = parseIndex(q + 1, tokenEnd, &ignored);
    if (r == q + 1) return FORM_V;
    if (r < tokenEnd && *r == '/' && parseIndex(r + 1, tokenEnd, &ignored) != r + 1) return FORM_VTN;
    return FORM_VT;
}

size_t lineNumber(const ObjReader& r, const char* at) {
    size_t line = 1;
    for (const char* p = r.begin; p < at; p++) line += *p == '\n';
    return line;
}

// Turns an index as written (negative: counted back from the latest entry
// read) into a table index, ending the read when it names no entry. A normal
// or texture coordinate in a file without any becomes 0.
unsigned resolve(const ObjReader& r, long long index, unsigned sofar, unsigned total,
                 const char* kind, bool optional, const char* at) {
    if (optional && total == 0) return 0;
    long long resolved = index < 0 ? (long long)sofar + 1 + index : index;
    if (resolved < 1 || resolved > (long long)total) {
        fprintf(stderr, "kelReadOBJ() failed: %s index %lld out of range in \"%s\" line %zu.\n", kind,
                index, r.filename, lineNumber(r, at));
        kelExit(1);
    }
    return unsigned(resolved);
}

// One vertex reference, the token [p, tokenEnd), written in `form`. Members
// the token lacks keep their values (those of the face's previous reference).
void readReference(const ObjReader& r, const char* p, const char* tokenEnd, FaceForm form,
                   unsigned ref[3]) {
    const KelModel* m = r.model;
    long long index;
    const char* q = parseIndex(p, tokenEnd, &index);
    if (r.fill) ref[0] = resolve(r, index, r.numvertices, m->numvertices, "vertex", false, p);
    if (form == FORM_V || q == tokenEnd || *q != '/') return;
    q++;
    if (form == FORM_VN) {
        if (q == tokenEnd || *q != '/') return;
        q++;
    } else {
        const char* t = q;
        q = parseIndex(t, tokenEnd, &index);
        if (q == t) return;
        if (r.fill)
            ref[1] = resolve(r, index, r.numtexcoords, m->numtexcoords, "texture coordinate", true, t);
        if (form == FORM_VT || q == tokenEnd || *q != '/') return;
        q++;
    }
    const char* n = q;
    q = parseIndex(n, tokenEnd, &index);
    if (q != n && r.fill) ref[2] = resolve(r, index, r.numnormals, m->numnormals, "normal", true, n);
}

// Adds the triangle (a, b, c) of references {vertex, texcoord, normal} to
// the current group: counted in the first pass, stored in the second.
void addTriangle(ObjReader& r, FaceForm form, const unsigned a[3], const unsigned b[3],
                 const unsigned c[3]) {
    KelModel* m = r.model;
    KelGroup* g = r.group;
    if (!r.fill) {
        m->numtriangles++;
        g->numtriangles++;
        return;
    }
    if (m->numtriangles == r.maxtriangles) return;  // never, as both passes agree
    KelTriangle* t = &m->triangles[m->numtriangles];
    const unsigned* corners[3] = {a, b, c};
    for (int k = 0; k < 3; k++) {
        t->vindices[k] = corners[k][0];
        if (form == FORM_VT || form == FORM_VTN) t->tindices[k] = corners[k][1];
        if (form == FORM_VN || form == FORM_VTN) t->nindices[k] = corners[k][2];
    }
    g->triangles[g->numtriangles++] = m->numtriangles++;
}

// A face after its keyword: references read across white space of any kind
// until a token that does not begin with a number, fanned into triangles.
// Returns the position of that token, which is not consumed.
const char* readFace(ObjReader& r, const char* p) {
    const char* end = r.end;
    p = kelSkipSpace(p, end);
    if (!beginsWithIndex(p, end)) return p;  // no reference: no triangle
    const char* tokenEnd = kelTokenEnd(p, end);
    FaceForm form = faceForm(p, tokenEnd);
    unsigned first[3] = {0, 0, 0}, previous[3], ref[3] = {0, 0, 0};
    int count = 0;
    for (;;) {
        readReference(r, p, tokenEnd, form, ref);
        count++;
        if (count == 1) memcpy(first, ref, sizeof ref);
        if (count >= 3) addTriangle(r, form, first, previous, ref);
        memcpy(previous, ref, sizeof ref);
        p = kelSkipSpace(tokenEnd, end);
        if (!beginsWithIndex(p, end)) break;
        tokenEnd = kelTokenEnd(p, end);
    }
    // One or two references still make a triangle, repeating the last one.
    if (count < 3) addTriangle(r, form, first, previous, previous);
    return p;
}

// Group names are the whole rest of the line, the blanks after the keyword
// included, without the line end ("\n" or "\r\n"). The name is NUL-terminated
// in place for the lookup and the byte put back afterwards.
KelGroup* lineGroup(ObjReader& r, char* p, const char** next) {
    char* lineEnd = const_cast<char*>(kelSkipLine(p, r.end));
    *next = lineEnd;
    if (lineEnd > p && lineEnd[-1] == '\n') lineEnd--;
    while (lineEnd > p && lineEnd[-1] == '\r') lineEnd--;
    char saved = *lineEnd;
    *lineEnd = '\0';
    KelGroup* group = r.fill ? kelFindGroup(r.model, p) : kelAddGroup(r.model, p);
    *lineEnd = saved;
    return group;
}

bool isWord(const char* p, const char* tokenEnd, const char* word) {
    size_t length = strlen(word);
    return size_t(tokenEnd - p) == length && memcmp(p, word, length) == 0;
}

// Statements of both passes. Only "mtllib" and "usemtl" are matched whole;
// the others by their first letter ("v" by its first two).
void readStatements(ObjReader& r) {
    KelModel* m = r.model;
    const char* end = r.end;
    const char* p = kelSkipSpace(r.begin, end);
    while (p < end) {
        const char* tokenEnd = kelTokenEnd(p, end);
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
                if (!r.fill) {
                    ++*read;
                    p = kelSkipLine(tokenEnd, end);
                    break;
                }
                // Whatever follows the numbers on the line of the last one is
                // dropped, as the first pass drops the rest of the line.
                float scratch[3];
                float* entry = *read < total ? &table[width * ++*read] : scratch;
                p = kelReadNumbers(tokenEnd, end, entry, width);
                break;
            }
            case 'f':
                p = readFace(r, tokenEnd);
                break;
            case 'g':
                r.group = lineGroup(r, const_cast<char*>(tokenEnd), &p);
                if (r.fill) r.group->material = r.material;
                break;
            case 'm':
            case 'u': {
                const char* wordEnd = tokenEnd;
                const char* word = tokenEnd;
                bool library = isWord(p, tokenEnd, "mtllib");
                bool use = isWord(p, tokenEnd, "usemtl");
                if ((library && !r.fill) || (use && r.fill))
                    word = kelLineWord(tokenEnd, end, &wordEnd);
                if (word != wordEnd) {
                    // The first word names the library or material; the
                    // name is NUL-terminated in place while it is used.
                    char* name = const_cast<char*>(word);
                    char saved = *wordEnd;
                    name[wordEnd - word] = '\0';
                    if (library) {
                        free(m->mtllibname);
                        m->mtllibname = kelCopyName(word, size_t(wordEnd - word));
                        kelReadMTL(m, name);
                    } else {
                        r.material = kelFindMaterial(m, name);
                        r.group->material = r.material;
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

void kelFirstPass(ObjReader& r) {
    KelModel* m = r.model;
    r.group = kelAddGroup(m, "default");
    readStatements(r);
    m->numvertices = r.numvertices;
    m->numnormals = r.numnormals;
    m->numtexcoords = r.numtexcoords;
    for (KelGroup* g = m->groups; g; g = g->next) {
        g->triangles = static_cast<unsigned*>(kelAlloc(g->numtriangles, sizeof(unsigned)));
        g->numtriangles = 0;
    }
}

void kelSecondPass(ObjReader& r) {
    r.fill = true;
    r.numvertices = r.numnormals = r.numtexcoords = 0;
    r.maxtriangles = r.model->numtriangles;
    r.model->numtriangles = 0;
    r.group = kelFindGroup(r.model, "default");
    r.material = 0;
    readStatements(r);
}

}  // namespace

KelModel* kelReadOBJ(const char* filename) {
    KelText text;
    if (!kelLoadText(filename, &text)) {
        fprintf(stderr, "kelReadOBJ() failed: can't open data file \"%s\".\n", filename);
        kelExit(1);
    }
    KelModel* model = static_cast<KelModel*>(kelAlloc(1, sizeof(KelModel)));
    model->pathname = kelCopyName(filename, strlen(filename));
    readingModel = model;
    readingText = text.data;

    ObjReader r = {};
    r.model = model;
    r.filename = filename;
    r.begin = text.data;
    r.end = text.data + text.size;
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
    free(text.data);
    readingModel = nullptr;
    readingText = nullptr;
    return model;
}

void kelAbandonRead() {
    if (readingModel) kelDelete(readingModel);
    free(readingText);
    readingModel = nullptr;
    readingText = nullptr;
}
