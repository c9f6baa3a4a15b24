// Writes a model as an OBJ file (and its materials, through
// kel/write_mtl.cpp, as the MTL library beside it).
//
// A plain save writes the groups oldest first, each group's triangles
// together. An exact save writes the triangles in the order of the triangle
// table and places every statement so that the reader builds the same model
// again: the reader's own "default" group gets the faces that stand before
// the first "g" line and no line of its own, the groups are made in the
// order that gives the same list, and each group ends with the material the
// model gives it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"
#include "kel/out.h"

namespace {

constexpr unsigned kNone = ~0u;

// One table's lines: "<keyword> a b c" for each of the entries 1 to count
// of a 1-based table.
void putTable(KelOut* out, const char* keyword, const float* table, unsigned count, int components) {
    size_t keywordLength = strlen(keyword);
    for (size_t i = 1; i <= count; i++) kelPutNumbers(out, keyword, keywordLength, &table[components * i], components);
    if (out->progress) out->progress->done += count;
}

// "v x y z r g b" for each of the vertices 1 to count, colours from their
// own 1-based table.
void putColouredVertices(KelOut* out, const float* vertices, const float* colors, unsigned count) {
    for (size_t i = 1; i <= count; i++) {
        char* p = kelRoom(out, 2 + 7 * kelNumberRoom);
        *p++ = 'v';
        p = kelFormatNumbers(out, p, &vertices[3 * i], 3);
        p = kelFormatNumbers(out, p, &colors[3 * i], 3);
        *p++ = '\n';
        kelDone(out, p);
    }
    if (out->progress) out->progress->done += count;
}

// "<keyword><name>\n"
void putName(KelOut* out, const char* keyword, const char* name) {
    kelPut(out, keyword);
    kelPut(out, name);
    kelPut(out, "\n");
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
void putFace(KelOut* out, const KelModel* model, const KelTriangle* t, unsigned mode) {
    bool texture = (mode & KEL_TEXTURE) && namesEntries(t->tindices, 3, model->numtexcoords);
    bool smooth = (mode & KEL_SMOOTH) && namesEntries(t->nindices, 3, model->numnormals);
    bool flat = (mode & KEL_FLAT) && namesEntries(&t->findex, 1, model->numfacetnorms);
    char* p = kelRoom(out, 4 + 3 * 3 * kelNumberRoom);
    *p++ = 'f';
    for (int k = 0; k < 3; k++) {
        *p++ = ' ';
        p = kelFormatUnsigned(p, t->vindices[k]);
        if (texture) {
            *p++ = '/';
            p = kelFormatUnsigned(p, t->tindices[k]);
        }
        if (smooth || flat) {
            *p++ = '/';
            if (!texture) *p++ = '/';
            p = kelFormatUnsigned(p, smooth ? t->nindices[k] : t->findex);
        }
    }
    *p++ = '\n';
    kelDone(out, p);
}

// `count` 1-based vertex indices as "<keyword> i j k ..." lines. Segments
// (`segments`, two indices each) that continue where the one before ended
// share a line, as "l a b c" reads back as a-b and b-c.
void putIndexLines(KelOut* out, char keyword, const unsigned* indices, size_t count, bool segments) {
    const size_t perLine = 16;
    for (size_t i = 0; i < count;) {
        char* p = kelRoom(out, 4 + (perLine + 2) * kelNumberRoom);
        *p++ = keyword;
        size_t start = i;
        if (segments) {
            *p++ = ' ';
            p = kelFormatUnsigned(p, indices[i]);
            for (i += 2; i <= count;) {
                *p++ = ' ';
                p = kelFormatUnsigned(p, indices[i - 1]);
                // The next segment joins this line when it starts where this
                // one ended.
                if (i == count || (i - start) / 2 >= perLine || indices[i] != indices[i - 1]) break;
                i += 2;
            }
        } else {
            for (; i < count && i - start < perLine; i++) *p++ = ' ', p = kelFormatUnsigned(p, indices[i]);
        }
        *p++ = '\n';
        kelDone(out, p);
    }
}

// The faces, with what stands between them: "g", "usemtl", "o" and "s".
struct Faces {
    const KelModel* model;
    unsigned mode;
    KelOut* out;
    unsigned material;        // the material of the last usemtl (0 before any, as the reader starts)
    unsigned smoothing;       // the smoothing group in force
    unsigned* objectOrder;    // object indices by first triangle; owned by the caller
    unsigned nextObject;      // in file order: objects before this one are written
    const KelGroup** groups;  // in file order: the groups in list order
    unsigned current;         // in file order: the group the reader is in (an index into groups), or kNone
    unsigned* given;          // in file order: per group, the material the reader has given it so far
};

void putMaterial(Faces& f, unsigned material) {
    putName(f.out, "usemtl ", f.model->materials[material].name);
    f.material = material;
    if (f.given && f.current != kNone) f.given[f.current] = material;
}

// The objects whose first triangle is t, in a save by groups.
void putObjectsAt(Faces& f, unsigned t) {
    const KelObject* objects = f.model->objects;
    unsigned* end = f.objectOrder + f.model->numobjects;
    for (unsigned *o = std::lower_bound(f.objectOrder, end, t,
                                        [&](unsigned object, unsigned first) { return objects[object].first < first; });
         o < end && objects[*o].first == t; o++)
        putName(f.out, "o ", objects[*o].name);
}

// Triangle t's face line, after the usemtl and "s" lines it needs.
void putTriangle(Faces& f, unsigned t, unsigned material) {
    if ((f.mode & KEL_MATERIAL) && material != f.material) putMaterial(f, material);
    if (f.model->smoothing && f.model->smoothing[t] != f.smoothing) {
        f.smoothing = f.model->smoothing[t];
        char* p = kelRoom(f.out, 8 + kelNumberRoom);
        memcpy(p, "s ", 2);
        p = f.smoothing ? kelFormatUnsigned(p + 2, f.smoothing) : static_cast<char*>(memcpy(p + 2, "off", 3)) + 3;
        *p++ = '\n';
        kelDone(f.out, p);
    }
    putFace(f.out, f.model, &f.model->triangles[t], f.mode);
}

// A group's "g" line: "g" and the name one blank apart. A name that starts
// with a blank (or is empty) follows "g" directly, so that a reader that
// takes the whole rest of the line reads it back as it is.
void putGroupLine(KelOut* out, const char* name) {
    putName(out, *name == '\0' || (kelIsSpace(*name) && *name != '\n') ? "g" : "g ", name);
}

// A plain save: the groups oldest first (the order a reader makes them in,
// so reading the file back gives the same list), each with its "g" line,
// its material and its triangles. The oldest group, when named "default",
// is the reader's own: its faces come first, before any "g" line.
// Returns KEL_OK, or KEL_ERROR_MEMORY with nothing written.
int putFacesByGroup(Faces& f) {
    const KelModel* model = f.model;
    size_t count = 0;
    for (const KelGroup* group = model->groups; group; group = group->next) count++;
    const KelGroup** oldestFirst = static_cast<const KelGroup**>(kelTryAlloc(count + 1, sizeof(KelGroup*)));
    if (!oldestFirst) return KEL_ERROR_MEMORY;
    size_t g = count;
    for (const KelGroup* group = model->groups; group; group = group->next) oldestFirst[--g] = group;
    for (g = 0; g < count && f.out->ok; g++) {
        const KelGroup* group = oldestFirst[g];
        const bool readers = g == 0 && !strcmp(group->name, "default");
        const bool any = !readers || group->numtriangles || ((f.mode & KEL_MATERIAL) && group->material != f.material);
        if (!readers) putGroupLine(f.out, group->name);
        // The reader starts with material 0 in force.
        if ((f.mode & KEL_MATERIAL) && (!readers || group->material != f.material)) putMaterial(f, group->material);
        for (unsigned i = 0; i < group->numtriangles; i++) {
            unsigned t = group->triangles[i];
            if (model->numobjects) putObjectsAt(f, t);
            putTriangle(f, t, model->trimaterials ? model->trimaterials[t] : group->material);
        }
        // The reader gives a group the material of the last usemtl read in
        // it: after triangles of other materials, its own again.
        if ((f.mode & KEL_MATERIAL) && f.material != group->material) putMaterial(f, group->material);
        if (f.out->progress) f.out->progress->done += group->numtriangles;
        if (any) kelPut(f.out, "\n");
    }
    free(oldestFirst);
    // Objects that start at no written triangle come last.
    for (unsigned i = 0; i < model->numobjects; i++)
        if (model->objects[f.objectOrder[i]].first >= model->numtriangles)
            putName(f.out, "o ", model->objects[f.objectOrder[i]].name);
    return KEL_OK;
}

// Ends the reader's stay in the current group: the material the group must
// end with, when the reader would give it another.
void leaveGroup(Faces& f) {
    unsigned g = f.current;
    if ((f.mode & KEL_MATERIAL) && g != kNone && f.given[g] != f.groups[g]->material)
        putMaterial(f, f.groups[g]->material);
}

// Makes group g current.
void enterGroup(Faces& f, unsigned g) {
    leaveGroup(f);
    putGroupLine(f.out, f.groups[g]->name);
    f.current = g;
    f.given[g] = f.material;
}

// An exact save: the triangles in table order. Returns KEL_OK, or
// KEL_ERROR_MEMORY with nothing written.
int putFacesInOrder(Faces& f) {
    const KelModel* model = f.model;
    const unsigned n = model->numtriangles;
    unsigned count = 0;
    for (const KelGroup* g = model->groups; g; g = g->next) count++;
    // Per triangle the group that holds it (the first in list order), or
    // kNone; per group its first triangle after the reader's "default" and
    // the material given to it.
    f.groups = static_cast<const KelGroup**>(kelTryAlloc(size_t(count) + 1, sizeof(KelGroup*)));
    unsigned* owner = static_cast<unsigned*>(kelTryAlloc(size_t(n) + 1, sizeof(unsigned)));
    unsigned* first = static_cast<unsigned*>(kelTryAlloc(2 * (size_t(count) + 1), sizeof(unsigned)));
    if (!f.groups || !owner || !first) {
        free(f.groups);
        free(owner);
        free(first);
        return KEL_ERROR_MEMORY;
    }
    f.given = first + count + 1;
    unsigned g = 0;
    for (const KelGroup* group = model->groups; group; group = group->next) f.groups[g++] = group;
    std::fill(owner, owner + n, kNone);
    for (g = count; g-- > 0;) {
        first[g] = kNone;
        for (unsigned i = 0; i < f.groups[g]->numtriangles; i++)
            if (f.groups[g]->triangles[i] < n) owner[f.groups[g]->triangles[i]] = g;
    }
    // The group made first, when named "default", is the reader's own: it
    // takes the faces before the first "g" line. Where the others first get
    // faces tells whether the faces alone make them in list order (newest
    // first, so the last group first); if not, their "g" lines come first,
    // oldest first.
    const unsigned readers = count && !strcmp(f.groups[count - 1]->name, "default") ? count - 1 : kNone;
    unsigned prefix = 0;
    while (prefix < n && (owner[prefix] == kNone || owner[prefix] == readers)) prefix++;
    for (unsigned t = prefix; t < n; t++)
        if (owner[t] != kNone && first[owner[t]] == kNone) first[owner[t]] = t;
    bool ordered = true, any = false;
    unsigned previous = 0;
    for (g = count; g-- > 0;) {
        if (g == readers) continue;
        if (first[g] == kNone || (any && first[g] <= previous)) ordered = false;
        previous = first[g];
        any = true;
    }
    f.current = readers;
    for (g = 0; g < count; g++) f.given[g] = 0;
    for (unsigned t = 0; t <= n; t++) {
        if (t == prefix && !ordered)
            for (g = count; g-- > 0;)
                if (g != readers) enterGroup(f, g);
        if (t == n || owner[t] == kNone) continue;
        for (; f.nextObject < model->numobjects && model->objects[f.objectOrder[f.nextObject]].first <= t;
             f.nextObject++)
            putName(f.out, "o ", model->objects[f.objectOrder[f.nextObject]].name);
        // The reader cannot go back to its "default": a face of it after
        // the first "g" line stays in the current group.
        if (owner[t] != f.current && owner[t] != readers) enterGroup(f, owner[t]);
        putTriangle(f, t, model->trimaterials ? model->trimaterials[t] : f.groups[owner[t]]->material);
        if (f.out->progress) f.out->progress->done++;
    }
    for (; f.nextObject < model->numobjects; f.nextObject++)
        putName(f.out, "o ", model->objects[f.objectOrder[f.nextObject]].name);
    leaveGroup(f);
    free(f.groups);
    free(owner);
    free(first);
    return KEL_OK;
}

// The faces and what stands between them; KEL_OK or KEL_ERROR_MEMORY.
int putFaces(const KelModel* model, unsigned mode, KelOut* out) {
    Faces f = {model, mode, out, 0, 0, nullptr, 0, nullptr, kNone, nullptr};
    if (model->numobjects) {
        f.objectOrder = static_cast<unsigned*>(kelTryAlloc(model->numobjects, sizeof(unsigned)));
        if (!f.objectOrder) return KEL_ERROR_MEMORY;
        for (unsigned i = 0; i < model->numobjects; i++) f.objectOrder[i] = i;
        const KelObject* objects = model->objects;
        std::stable_sort(f.objectOrder, f.objectOrder + model->numobjects,
                         [&](unsigned a, unsigned b) { return objects[a].first < objects[b].first; });
    }
    int status = KEL_OK;
    if (out->exact)
        status = putFacesInOrder(f);
    else
        status = putFacesByGroup(f);
    free(f.objectOrder);
    return status;
}

}  // namespace

int kelSaveOBJWithOptions(const KelModel* model, const char* filename, unsigned mode, const KelSaveOptions* options,
                          KelError* error) {
    assert(model);
    KelError local;
    if (!error) error = &local;
    *error = {};
    static const char* const warnings[8] = {
        "kelWriteOBJ() warning: flat normal output requested with no facet normals defined.\n",
        "kelWriteOBJ() warning: smooth normal output requested with no normals defined.\n",
        "kelWriteOBJ() warning: texture coordinate output requested with no texture coordinates defined.\n",
        "kelWriteOBJ() warning: flat normal output requested and smooth normal output requested (using smooth).\n",
        "kelWriteOBJ() warning: color output requested with no colors (materials) defined.\n",
        "kelWriteOBJ() warning: material output requested with no materials defined.\n",
        "kelWriteOBJ() warning: color and material output requested outputting only materials.\n",
        nullptr,  // vertex colours are written whenever the model has them
    };
    const KelWarnings to = {options ? options->warning : nullptr, options ? options->user : nullptr};
    mode = kelCheckMode(model, mode, warnings, &to);
    const bool exact = options && options->exact;
    KelSaveProgress progress = {options ? options->progress : nullptr, options ? options->user : nullptr, 0, 0, false};
    progress.total = model->numvertices + model->numtriangles;
    if (mode & KEL_SMOOTH)
        progress.total += model->numnormals;
    else if (mode & KEL_FLAT)
        progress.total += model->numfacetnorms;
    if (mode & KEL_TEXTURE) progress.total += model->numtexcoords;
    static const KelSaveMessages cannot = {"kelWriteOBJ() failed: can't open file \"%s\" to write.",
                                           "kelWriteOBJ() failed: can't write file \"%s\"."};
    // The OBJ file never replaces a library the model was read from.
    bool overLibrary;
    if (kelIsReadLibrary(model, filename, &overLibrary) != KEL_OK)
        return kelSaveFailure(error, KEL_ERROR_MEMORY, &progress, cannot, filename, 0);
    if (overLibrary) {
        kelSetError(error, KEL_ERROR_OPEN, 0,
                    "kelWriteOBJ() failed: \"%s\" is the material library the model was read from.", filename);
        return KEL_ERROR_OPEN;
    }
    KelOut out;
    int status = kelOpenOut(&out, filename, &progress, exact);
    if (status != KEL_OK) return kelSaveFailure(error, status, &progress, cannot, filename, out.systemError);
    kelPut(&out, "#  \n#  Wavefront OBJ generated by KEL library\n#  \n#  KEL library\n");
    kelPut(&out, kelAuthorLines);
    kelPut(&out, "#  \n");
    // The library is written completely first, and both files are put in
    // place together at the end.
    KelOut library;
    const bool withLibrary = (mode & KEL_MATERIAL) && model->mtllibname;
    if (withLibrary) {
        char *name, *path;
        bool renamed;
        status = kelPlaceLibrary(model, filename, &name, &path, &renamed);
        if (renamed && status == KEL_OK)
            kelWarn(&to, 0,
                    "kelWriteOBJ() warning: \"%s\" is left as it is, as the model was read from it; the materials "
                    "go to \"%s\".",
                    model->mtllibname, path);
        if (status == KEL_OK) status = kelWriteMaterials(model, path, &progress, exact, &library, error);
        if (status == KEL_OK) {
            kelPut(&out, "\nmtllib ");
            kelPut(&out, name);
            kelPut(&out, "\n\n");
        }
        free(name);
        free(path);
        if (status != KEL_OK) {
            kelAbandonOut(&out);
            return status == KEL_ERROR_MEMORY ? kelSaveFailure(error, status, &progress, cannot, "", 0) : status;
        }
    }
    kelPutCount(&out, "\n# ", model->numvertices, " vertices\n");
    if (model->colors)
        putColouredVertices(&out, model->vertices, model->colors, model->numvertices);
    else
        putTable(&out, "v", model->vertices, model->numvertices, 3);
    // An empty table gets no section: reading the file back gives none.
    if ((mode & KEL_SMOOTH) && model->numnormals) {
        kelPutCount(&out, "\n# ", model->numnormals, " normals\n");
        putTable(&out, "vn", model->normals, model->numnormals, 3);
    } else if ((mode & KEL_FLAT) && !(mode & KEL_SMOOTH) && model->numfacetnorms) {
        kelPutCount(&out, "\n# ", model->numfacetnorms, " normals\n");
        putTable(&out, "vn", model->facetnorms, model->numfacetnorms, 3);
    }
    if ((mode & KEL_TEXTURE) && model->numtexcoords) {
        kelPutCount(&out, "\n# ", model->numtexcoords, " texcoords\n");
        putTable(&out, "vt", model->texcoords, model->numtexcoords, 2);
    }
    kelPutCount(&out, "\n# ", model->numgroups, " groups\n");
    kelPutCount(&out, "# ", model->numtriangles, " faces (triangles)\n\n");
    status = putFaces(model, mode, &out);
    if (model->numlines) putIndexLines(&out, 'l', model->lines, 2 * size_t(model->numlines), true);
    if (model->numpoints) putIndexLines(&out, 'p', model->points, model->numpoints, false);
    progress.done = progress.total;
    if (status != KEL_OK || !kelCompleteOut(&out)) {
        if (status != KEL_OK) kelAbandonOut(&out);  // a failed completion released it already
        if (withLibrary) kelAbandonOut(&library);
        return kelSaveFailure(error, status, &progress, cannot, filename, out.systemError);
    }
    status = kelPlaceOuts(withLibrary ? &library : nullptr, &out);
    return status == KEL_OK ? KEL_OK : kelSaveFailure(error, status, &progress, cannot, filename, out.systemError);
}

int kelSaveOBJWithProgress(const KelModel* model, const char* path, unsigned mode,
                           int (*progress)(void* user, unsigned long long done, unsigned long long total), void* user,
                           KelError* error) {
    KelSaveOptions options = {0, progress, user, nullptr};
    return kelSaveOBJWithOptions(model, path, mode, &options, error);
}

int kelSaveOBJ(const KelModel* model, const char* path, unsigned mode, KelError* error) {
    return kelSaveOBJWithOptions(model, path, mode, nullptr, error);
}

void kelWriteOBJ(KelModel* model, const char* filename, unsigned mode) {
    KelError error;
    if (kelSaveOBJ(model, filename, mode, &error) != KEL_OK) {
        kelPrintError(stderr, &error);
        exit(1);
    }
}
