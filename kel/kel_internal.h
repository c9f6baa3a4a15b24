// Internals shared by the kel sources: allocation and errors, chunked input,
// text scanning, the mode check of drawing and writing, and the readers'
// entry points with a chosen chunk size (tests and fuzz targets force small
// chunks).
#ifndef KEL_KEL_INTERNAL_H
#define KEL_KEL_INTERNAL_H

#include "kel/alloc.h"
#include "kel/chunks.h"
#include "kel/kel.h"
#include "kel/scan.h"

// The mode word with every flag the model cannot serve dropped, in a fixed
// order, each dropped flag announced with its warning (one of eight: no
// facet normals, no normals, no texture coordinates, flat and smooth,
// colour without materials, material without materials, colour and
// material, vertex colour without vertex colours; each ends in a newline)
// where `to` says (kelWarn).
unsigned kelCheckMode(const KelModel* model, unsigned mode, const char* const warnings[8], const KelWarnings* to);
// Which tables a model or a mesh has for the flags that need one.
struct KelModeTables {
    bool facetnorms, normals, texcoords, materials, colors;
};
// kelCheckMode against `tables`; a null warning drops its flag silently.
unsigned kelCheckModeTables(const KelModeTables* tables, unsigned mode, const char* const warnings[8],
                            const KelWarnings* to);

// The material calls of KEL_MATERIAL, or the colour of KEL_COLOR, for one
// material; the drawing of models and of meshes share it (needs GL).
void kelSetMaterial(const KelMaterial* material, unsigned mode);

// kelMakeMesh on `threads` threads (0: as many as help for the model's
// size). When `release` is not null it is `model`, which the call may strip
// of its triangles and group lists once the mesh no longer needs them (the
// model is then fit only for kelDelete).
KelMesh* kelMakeMeshThreads(const KelModel* model, unsigned mode, unsigned threads, KelModel* release, KelError* error);
// The flags of `mode` that matter to a mesh of `model`, those it cannot
// serve dropped with kelMakeMesh's warnings, sent where `to` says (kelWarn).
unsigned kelMeshMode(const KelModel* model, unsigned mode, const KelWarnings* to);
// The second half of kelLoadMesh: the mesh of `model`, just loaded with
// `options` (may be null), which it deletes; the mode's warnings go to
// options->warning when set.
KelMesh* kelMeshOfLoad(KelModel* model, const KelReadOptions* options, unsigned mode, KelError* error);

// kelAddGroup that returns null (adding nothing) when out of memory.
KelGroup* kelTryAddGroup(KelModel* model, const char* name);
// kelTryAddGroup for a name no group of the model has: the group added
// without searching the model's list.
KelGroup* kelTryNewGroup(KelModel* model, const char* name);

// A hash index by name. Each slot holds a name (null when the slot is
// empty; not owned), and for the index's user a group and a value and a
// stamp (the OBJ reader keeps there a group, its span in a chunk and that
// chunk; or a material's index).
struct KelNameSlot {
    const char* name;
    size_t hash;  // of the name
    KelGroup* group;
    size_t value, stamp;
};
struct KelNameIndex {
    KelNameSlot* slots;  // owned; free with kelFreeNameIndex
    size_t capacity, count;
};
// Makes room for one more name, so that the slot kelNameSlot gives next may
// be filled. False when out of memory.
bool kelReserveNameSlot(KelNameIndex* index);
// The slot of `name`, or the empty slot where it would go; null while the
// index has no room at all. Slots move when room is made. Only reads, so
// threads may look up at once in an index none of them changes.
KelNameSlot* kelNameSlot(const KelNameIndex* index, const char* name);
// Fills empty slot `slot`, which kelNameSlot gave for `name`, with `name`
// (which must outlive the index).
void kelFillNameSlot(KelNameIndex* index, KelNameSlot* slot, const char* name);
void kelFreeNameIndex(KelNameIndex* index);
// kelFindMaterial without its message: false when no material is named
// `name` (*index untouched).
bool kelLookupMaterial(const KelModel* model, const char* name, unsigned* index);
// kelFindMaterial's message for a name it does not find, where `to` says
// (kelWarn), for the statement at input line `line`.
void kelMaterialNotFound(const KelWarnings* to, unsigned long line, const char* name);
// Gives every field of *material its default (no name, no maps).
void kelMaterialDefaults(KelMaterial* material);
// Frees the strings a material owns (not the material itself).
void kelFreeMaterialStrings(KelMaterial* material);
// Frees a material table of `count` entries and the strings they own; a
// null table is nothing to free.
void kelFreeMaterials(KelMaterial* materials, unsigned count);
// A new table of copies of `count` materials, every string they own
// copied too (the caller frees it with kelFreeMaterials), or null when out
// of memory.
KelMaterial* kelCopyMaterials(const KelMaterial* materials, unsigned count);
// Replaces the model's material table with the one material "default";
// false (the table unchanged) when out of memory.
bool kelDefaultMaterials(KelModel* model);

// kelLoadOBJ and kelLoadOBJFromMemory reading through chunks of about
// `chunk` bytes (the public calls use kelChunkSize).
KelModel* kelLoadOBJChunks(const char* path, size_t chunk, const KelReadOptions* options, KelError* error);
KelModel* kelLoadOBJFromMemoryChunks(const void* data, size_t size, const char* name, size_t chunk,
                                     const KelReadOptions* options, KelError* error);
// Reads the library `name` (from options->library, else, when `onDisk`,
// beside model->pathname unless it is an absolute path) into the model's
// material table: in place of any earlier table, or with `append` after the
// materials the model has (statements before the library's first newmtl
// then change nothing); strictly when options->strict. Returns KEL_OK, or
// KEL_ERROR_LIBRARY, _IO, _MEMORY, _ENCODING or _SYNTAX with `error` set
// (its line is the caller's to fill); the model keeps its old table then.
int kelLoadMTLChunks(KelModel* model, const char* name, size_t chunk, const KelReadOptions* options, bool onDisk,
                     bool append, KelError* error);

#endif  // KEL_KEL_INTERNAL_H
