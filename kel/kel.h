// kel: a small model library. Reads Wavefront OBJ and MTL files into an
// in-memory model, draws it with OpenGL (immediate mode or a display list),
// computes facet and crease-angle vertex normals, measures and transforms it,
// generates texture coordinates, welds duplicate vertices and writes it back
// out as OBJ and MTL. Also reads raw PPM ("P6") images.
//
// Conventions
// - The vertex, normal, texture-coordinate and facet-normal tables are
//   1-based: a table of N entries has room for N + 1, entry 0 is never used.
//   Vectors are 3 floats per entry, texture coordinates 2.
// - The triangle and material tables are 0-based. After a material library
//   is read, material 0 is the material named "default".
// - A model owns every array and string hanging from it; kelDelete frees
//   them all. Every name the library keeps is its own heap copy: callers keep
//   ownership of the strings they pass in.
// - Failures: kelLoadOBJ, kelLoadOBJFromMemory and kelSaveOBJ return them in
//   a KelError; kelReadOBJ, kelReadMTL and kelWriteOBJ are their short forms
//   for programs that may end on a bad file: the message on stderr (stdout
//   for an unknown statement) and exit status 1. Every other call that
//   allocates returns KEL_ERROR_MEMORY (or null) when memory runs out and
//   leaves the model as it was. Mode warnings and lookup failures go to
//   stdout, or to the options' warning callback when a load or save has
//   one, and the call goes on; outside loads and saves every message goes
//   to the handler kelSetMessageHandler sets. A null model or missing table
//   is a programming error caught by an assertion.
// - Threads: loads and saves keep no shared state, so several may run at
//   once on different models; a model must not be changed while another
//   call reads it.
// - Language: the header compiles as C99 and as C++; every call has C
//   linkage, so a C program links the same library.
#ifndef KEL_KEL_H
#define KEL_KEL_H

#include <stddef.h>

// The library's version; the CMake package (find_package(kel)) carries the
// same one.
#define KEL_VERSION_MAJOR 1
#define KEL_VERSION_MINOR 0
#define KEL_VERSION_PATCH 0

// KEL_API marks the calls a shared build of the library exports; the rest of
// its symbols stay hidden.
#if defined(_WIN32) && defined(KEL_SHARED)
#ifdef KEL_BUILDING
#define KEL_API __declspec(dllexport)
#else
#define KEL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KEL_API __attribute__((visibility("default")))
#else
#define KEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// One triangle: 1-based indices into the model's tables, corners in drawing
// order. Index kinds that nothing has written hold 0, which names no entry.
typedef struct KelTriangle {
    unsigned vindices[3];  // vertex indices
    unsigned nindices[3];  // normal indices
    unsigned tindices[3];  // texture-coordinate indices
    unsigned findex;       // facet-normal index (written by kelFacetNormals)
} KelTriangle;

// The texture maps a material may name, in the order of KelMaterial::maps.
// Their MTL keywords: map_Ka map_Kd map_Ks map_Ns map_d map_Bump (also
// map_bump and bump) norm disp (also map_disp) map_Ke refl map_Pr map_Pm
// map_Ps.
enum {
    KEL_MAP_AMBIENT,
    KEL_MAP_DIFFUSE,
    KEL_MAP_SPECULAR,
    KEL_MAP_SHININESS,
    KEL_MAP_DISSOLVE,
    KEL_MAP_BUMP,
    KEL_MAP_NORMAL,
    KEL_MAP_DISPLACEMENT,
    KEL_MAP_EMISSION,
    KEL_MAP_REFLECTION,
    KEL_MAP_ROUGHNESS,
    KEL_MAP_METALLIC,
    KEL_MAP_SHEEN,
    KEL_MAP_KINDS
};

// One texture map of a material and the options written before its name.
typedef struct KelMap {
    char* name;       // owned file name (the rest of the line after the options, inner blanks kept), or null
    float offset[3];  // -o, default 0 0 0
    float scale[3];   // -s, default 1 1 1
    float bumpScale;  // -bm, default 1
    int clamp;        // -clamp on: 1, default 0
    char* options;    // owned: every other option as written, one blank apart (e.g. "-blendu off -imfchan l"), or null
} KelMap;

typedef struct KelMaterial {
    char* name;         // owned: the rest of the newmtl line, the blanks around it dropped
    float diffuse[4];   // default 0.8, 0.8, 0.8, 1.0
    float ambient[4];   // default 0.2, 0.2, 0.2, 1.0
    float specular[4];  // default 0.0, 0.0, 0.0, 1.0
    float color4[4];    // spare colour slot; the library neither sets nor reads it
    float shininess;    // 0..128 scale, default 65.0
    float dissolve;     // opacity from "d" (or 1 - "Tr"), default 1; hand-built materials set it too
    // The diffuse and bump maps' file names again, each its own owned copy
    // (of maps[KEL_MAP_DIFFUSE].name and maps[KEL_MAP_BUMP].name when read),
    // or null. When set they name those maps on writing.
    char* diffuseMap;
    char* bumpMap;
    float emission[4];  // "Ke", default 0 0 0 1
    float ior;          // "Ni", default 1
    int illum;          // "illum", default -1 (not given)
    // "Pr", "Pm", "Ps", "Pc", "Pcr"; default 0.
    float roughness, metallic, sheen, clearcoat, clearcoatRoughness;
    KelMap maps[KEL_MAP_KINDS];
    // Owned: the material's statements kel does not read ("Tf", "sharpness",
    // other programs' own, and comments after its newmtl), each line as
    // written without its leading and trailing blanks and ending in "\n",
    // in file order; or null. Saves write them back after the statements
    // kel reads.
    char* extras;
} KelMaterial;

// An "o" statement: a named run of triangles.
typedef struct KelObject {
    char* name;      // owned: the rest of the "o" line after the blanks that follow "o", trailing blanks dropped
    unsigned first;  // its first triangle (0-based) and how many follow, in file order
    unsigned count;
} KelObject;

typedef struct KelGroup {
    // Owned; compared byte for byte. Read from a file: the rest of the "g"
    // line with the blanks around it dropped ("default" before any "g").
    char* name;
    unsigned numtriangles;  // entries in triangles
    unsigned* triangles;    // owned; 0-based indices into KelModel::triangles
    unsigned material;      // index into KelModel::materials
    struct KelGroup* next;  // next group in the model's list, or null
} KelGroup;

typedef struct KelModel {
    char* pathname;    // owned copy of the path the model was read from
    char* mtllibname;  // owned copy of the library name, or null

    unsigned numvertices;
    float* vertices;  // 1-based, 3 floats each, always allocated

    unsigned numnormals;
    float* normals;  // 1-based, 3 floats each, or null

    unsigned numtexcoords;
    float* texcoords;  // 1-based, 2 floats each, or null

    unsigned numfacetnorms;
    float* facetnorms;  // 1-based, 3 floats each, or null

    unsigned numtriangles;
    KelTriangle* triangles;  // 0-based, exactly numtriangles entries

    unsigned nummaterials;
    KelMaterial* materials;  // 0-based, or null when no library was read

    unsigned numgroups;
    KelGroup* groups;  // newest group first; "default" is last

    float position[3];  // set to 0, 0, 0 by the reader; nothing else uses it

    // 1-based, 3 floats (r, g, b) per vertex, or null when no vertex has a
    // colour; a vertex read without one among others that have one is 1, 1, 1.
    float* colors;

    // Per triangle (0-based): the index into materials of the last usemtl
    // read before it (0, "default", before any); a usemtl names the material
    // by the rest of its line, the blanks around it dropped. Set by the reader whenever
    // the model has materials; null for a model built by hand, whose
    // drawing and writing then use each group's material.
    unsigned* trimaterials;

    unsigned numobjects;
    KelObject* objects;  // one per "o" statement, in file order; null when the file has none

    // Per triangle (0-based): the "s" group in force, 0 for "s off", "s 0" or
    // none; null when no triangle has a nonzero one.
    unsigned* smoothing;

    unsigned numlines;
    unsigned* lines;  // numlines segments, 2 entries each: 1-based vertex indices ("l a b c" gives a-b and b-c)

    unsigned numpoints;
    unsigned* points;  // 1-based vertex indices, one per point of every "p" statement

    // Every library the model's materials were read from, as the mtllib
    // statements name them (the first is mtllibname again), each an owned
    // copy, or null when none was read. A save never replaces one of these
    // files.
    unsigned nummtllibs;
    char** mtllibs;
} KelModel;

// Mode flags, OR-ed into a mode word for kelDraw, kelCompileList and
// kelWriteOBJ. Other bits are ignored.
#define KEL_NONE 0u           // vertices only
#define KEL_FLAT 1u           // one facet normal per triangle
#define KEL_SMOOTH 2u         // a vertex normal per corner
#define KEL_TEXTURE 4u        // a texture coordinate per corner
#define KEL_COLOR 8u          // per group, the colour from the material's diffuse
#define KEL_MATERIAL 16u      // per group, the full material
#define KEL_WIREFRAME 32u     // each triangle as its own line loop
#define KEL_VERTEX_COLOR 64u  // a vertex colour per corner (drawing only: written whenever present)
// Drawing only: the model's line segments (GL_LINES) and points (GL_POINTS)
// too, after the triangles.
#define KEL_LINES 128u
// With any of the calls that take a mode: the flags the model (or mesh)
// cannot serve for want of a table are dropped without a warning, so
// KEL_SMOOTH | KEL_TEXTURE | KEL_IF_PRESENT asks for what the file has.
#define KEL_IF_PRESENT 256u

// --- Records and lookups -----------------------------------------------------

// The group named `name`, or null. Asserts that model is not null.
KEL_API KelGroup* kelFindGroup(KelModel* model, const char* name);
// The group named `name`, created (with a copy of the name) at the head of
// the list if the model has none. Null when out of memory (the model is
// then unchanged).
KEL_API KelGroup* kelAddGroup(KelModel* model, const char* name);
// Index of the first material named `name`; sends a message (stdout by
// default, see kelSetMessageHandler) and returns 0 when there is none.
KEL_API unsigned kelFindMaterial(KelModel* model, const char* name);
// Frees the model and everything it owns. Asserts that model is not null.
KEL_API void kelDelete(KelModel* model);
// The directory part of `path` up to and including its last '/', or "".
// Returns a new heap string; the caller frees it with free(). Null when out
// of memory.
KEL_API char* kelDirName(const char* path);

// Where the messages of the calls outside loads and saves go (the mode
// warnings of kelDraw, kelDrawMesh and kelMakeMesh, kelFindMaterial's
// lookup failure, kelVertexNormals' count of vertices without a triangle,
// kelReadPPM's failures): while `handler` is not null, each is handed to it
// with `user`, as one line of text without its final newline, and nothing
// is printed. A null `handler` restores the default: stdout, stderr for
// kelVertexNormals and kelReadPPM.
// Loads and saves keep sending theirs to their options' warning callback,
// or stdout. The handler is called on the thread of the call that has the
// message, possibly on several threads at once, and may be changed while
// other threads call kel: a message goes either to the old or to the new
// handler, each with its own user pointer.
KEL_API void kelSetMessageHandler(void (*handler)(void* user, const char* message), void* user);
// The handler and user pointer kelSetMessageHandler set last (both null
// while none is set), as a pair that belongs together, e.g. to restore them
// later; either pointer may be null when that part is not wanted.
KEL_API void kelGetMessageHandler(void (**handler)(void* user, const char* message), void** user);

// --- Reading -------------------------------------------------------------------

// Error codes of KelError::code.
#define KEL_OK 0
#define KEL_ERROR_OPEN 1       // the OBJ file, or the file to write, cannot be opened
#define KEL_ERROR_LIBRARY 2    // the material library cannot be opened
#define KEL_ERROR_INDEX 3      // a face index outside its table
#define KEL_ERROR_STATEMENT 4  // an unknown vertex statement ("vp", "vx", ...)
#define KEL_ERROR_MEMORY 5     // an allocation failed; nothing was kept
#define KEL_ERROR_IO 6         // a read or write failed after the open
#define KEL_ERROR_CANCELLED 7  // the progress callback asked to stop
#define KEL_ERROR_ENCODING 8   // a UTF-16 file; kel reads ASCII or UTF-8
#define KEL_ERROR_LIMIT 9      // the input is larger than KelReadOptions::maxInput
#define KEL_ERROR_SYNTAX 10    // strict reading: a statement the format does not allow

typedef struct KelError {
    int code;            // KEL_OK or one of the codes above
    unsigned long line;  // 1-based line of the statement at fault, 0 when no line is at fault
    // The text the short forms print, without its final newline; "" for
    // KEL_OK. A longer text is cut here (the short forms print it whole).
    char message[512];
    // The errno of the system call that failed (ENOENT, EACCES, EISDIR,
    // ENOSPC, ...), 0 when none did; strerror gives its text.
    int systemError;
} KelError;

typedef struct KelReadOptions {
    // Threads that read: 0 for as many as help, 1 for the calling thread only.
    // One thread reads the input once, into tables that grow; several read
    // it twice, counting first, and fill the tables together. The model is
    // the same either way.
    unsigned threads;
    // Nonzero: a material library that is missing or cannot be read is a
    // warning, whatever the reason; the model then has the "default"
    // material only and every usemtl falls back to it silently.
    int optionalLibrary;
    // Called as the input is read (at least every 16 MiB read, also within
    // one long statement, and once at the end; `done` never decreasing,
    // done == total on the last call). `done` and `total` count the input's
    // bytes, each once however many passes read it: `total` is the input's
    // size, constant, but for input whose size is unknown at the open (a
    // pipe, a device such as /dev/zero): that is read whole first, `done`
    // the bytes read so far and `total` 0, and from then on `done` and
    // `total` are both its size. A nonzero return cancels the load with
    // KEL_ERROR_CANCELLED, and it is not called again. May be null.
    int (*progress)(void* user, unsigned long long done, unsigned long long total);
    void* user;  // handed to progress, library and warning
    // Where material libraries come from; null to read them from the disk,
    // beside the OBJ file (or beside `name` for a load from memory). Called
    // with the library's name as the mtllib statement writes it; returns its
    // bytes and stores their count in *size, or returns null when there is
    // no such library. The bytes stay the caller's and must stay valid until
    // the load returns.
    const void* (*library)(void* user, const char* name, size_t* size);
    // A file is read through a buffer, which another process may change,
    // cut short or replace meanwhile: the load then gives a model or an
    // error. Nonzero copyInput keeps it so whatever mapInput says.
    int copyInput;
    // Nonzero (and copyInput 0): a regular file is mapped into memory
    // instead. Another process that cuts the file short while it is read
    // then stops this process with SIGBUS, as with any mapped file; map
    // only files nothing else writes.
    int mapInput;
    // The most input bytes the load reads; larger input fails with
    // KEL_ERROR_LIMIT before more is read. 0: no limit.
    unsigned long long maxInput;
    // When not null, every message the load would print (a missing
    // material, an optional library that is missing) goes here instead,
    // without its final newline, with the line of the statement it concerns
    // (the mtllib line for a library); nothing then goes to the standard
    // streams. Null: the messages go to stdout. Gets `user`.
    void (*warning)(void* user, unsigned long line, const char* message);
    // Nonzero: a statement the format does not allow fails the load with
    // KEL_ERROR_SYNTAX, its line and the problem: a face with fewer than
    // three references or a line with fewer than two, a reference that is
    // no number, references of one face in different forms, an index kind
    // for which the file has no table, a vertex with other than 3, 4 or 6
    // numbers, a normal with other than 3, a texture coordinate with other
    // than 1 to 3, a number that does not parse, a NUL byte, a word that is
    // no OBJ keyword (keywords kel does not read, such as curv or surf, are
    // skipped), and in the library a number that does not parse. Zero: such
    // statements are read leniently, as files in the wild need.
    int strict;
} KelReadOptions;

// Reads an OBJ file and the MTL libraries it names into a new model that the
// caller owns (free it with kelDelete). Every name of every mtllib statement
// is read (beside the OBJ file, or as it is when absolute), each library's
// materials after those before it; a name defined twice is found at its
// first definition, and mtllibname is the first library named. `options`
// may be null (defaults: all zero). On failure returns null, fills `error` (when not null) and keeps
// nothing: no memory, no open file. On success error->code is KEL_OK.
// A directory, or another file that cannot be read as text, is
// KEL_ERROR_OPEN with systemError set (EISDIR for a directory).
KEL_API KelModel* kelLoadOBJ(const char* path, const KelReadOptions* options, KelError* error);
// kelLoadOBJ for OBJ text held in memory: `size` bytes at `data`, which stay
// the caller's and are not changed. `name` stands for the file in messages
// and in the model's pathname, and a library is looked up beside it unless
// options->library supplies it. A null `name` names the input "<memory>"
// and looks up no library on disk (only through options->library). `data`
// may be null when size is 0.
KEL_API KelModel* kelLoadOBJFromMemory(const void* data, size_t size, const char* name, const KelReadOptions* options,
                                       KelError* error);

// Reads an OBJ file (and the MTL library it names) into a new model that the
// caller owns (free it with kelDelete). Never returns null: on any error of
// kelLoadOBJ it prints the message and ends the process with status 1.
KEL_API KelModel* kelReadOBJ(const char* filename);
// Reads the MTL library `name` from the directory of model->pathname (or
// from `name` itself when it is an absolute path) into the model's material
// table, replacing any earlier table. A texture map's name
// is the rest of its line after the map's options, inner blanks kept. Ends
// the process with status 1 when the file cannot be opened or read.
KEL_API void kelReadMTL(KelModel* model, const char* name);

// Reads a raw PPM ("P6") image. Returns a new heap array of width * height * 3
// bytes (R, G, B, top row first) that the caller frees with free(), and
// stores the size; returns null after a message (on stderr by default, see
// kelSetMessageHandler) and leaves the size untouched on failure. Samples of 16 bits are scaled to 8 bits. An
// image with more pixels than the file has bytes is refused (so memory stays
// within three times the file's size); a raster cut short leaves the rest of
// the image zero. Files that cannot seek (pipes) are read alike.
KEL_API unsigned char* kelReadPPM(const char* filename, int* width, int* height);

// --- Drawing -------------------------------------------------------------------
//
// Both calls issue GL commands: the caller must have made a GL context
// current on this thread first.

// Sends the model to OpenGL in immediate mode, group by group. Mode flags
// the model cannot serve are dropped with a warning (stdout by default, see
// kelSetMessageHandler). With KEL_MATERIAL or KEL_COLOR a group's material
// is set at its start, and again before any triangle whose material
// (trimaterials, when the model has them) differs from the one last set. KEL_LINES adds one GL_LINES block for
// the segments and one GL_POINTS block for the points (each only when there
// are any), with vertex colours under KEL_VERTEX_COLOR. Asserts that model
// and its vertex table are not null.
KEL_API void kelDraw(KelModel* model, unsigned mode);
// Records kelDraw into a new display list and returns its name; the caller
// owns the list (glCallList, glDeleteLists).
KEL_API unsigned kelCompileList(KelModel* model, unsigned mode);

// --- Meshes: arrays ready for vertex arrays and buffers -------------------------
//
// A mesh holds one vertex per distinct combination of the model's indices
// that a mode uses (position and vertex colour, normal or facet normal,
// texture coordinate): the same numbers in the same combination make one
// vertex, equal values under different indices stay apart (kelWeld merges
// those). Every table is 0-based. Vertices are numbered in the order the
// corners of `indices` first use them; the vertices of lines and points
// (position and colour only) come after those of the triangles.

// A run of triangles drawn with one material: entries [first, first +
// count) of the mesh's indices, `first` and `count` multiples of 3.
typedef struct KelMeshRange {
    unsigned first;
    unsigned count;
    unsigned material;  // index into the mesh's materials, 0 when it has none
    const char* group;  // the name of the group the triangles come from, owned by the mesh
} KelMeshRange;

// Every array is owned by the mesh (kelDeleteMesh frees them all) and
// allocated with malloc, so a caller may take one over by setting its
// pointer to null and freeing it with free() later; the ranges and their
// group names are one allocation.
typedef struct KelMesh {
    unsigned numvertices;
    float* positions;  // 3 floats per vertex
    float* normals;    // 3 floats per vertex, or null
    float* texcoords;  // 2 floats per vertex, or null
    float* colors;     // 3 floats (r, g, b) per vertex, or null
    unsigned numindices;
    unsigned* indices;  // 3 per triangle, in the order kelDraw draws the triangles
    unsigned numranges;
    KelMeshRange* ranges;  // the model's groups in list order, in each the runs of one material; none empty
    unsigned numlineindices;
    unsigned* lineindices;  // 2 per segment, into the same vertices, or null
    unsigned numpointindices;
    unsigned* pointindices;  // 1 per point, or null
    unsigned nummaterials;
    KelMaterial* materials;  // copies of the model's materials (names and maps too), or null
} KelMesh;

// The mesh of `model` as `mode` asks: KEL_SMOOTH gives the vertex normals,
// KEL_FLAT the facet normals (kelFacetNormals first), KEL_TEXTURE the
// texture coordinates and KEL_VERTEX_COLOR the colours; flags the model
// cannot serve are dropped with kelDraw's warnings (naming kelMakeMesh;
// stdout by default, see kelSetMessageHandler), and the others do not
// matter. Ranges and materials come whatever the mode. Uses every core for a large model; the mesh is the
// same on any number of threads. Returns a new mesh that the caller owns
// (free it with kelDeleteMesh), or null with `error` (when not null) set and
// nothing kept: KEL_ERROR_MEMORY when out of memory or when a count does not
// fit 32 bits, KEL_ERROR_INDEX for an index outside its table (index 0 names
// the unused entry 0, as in kelDraw). Asserts that model and its vertex
// table are not null. The model is not changed.
KEL_API KelMesh* kelMakeMesh(const KelModel* model, unsigned mode, KelError* error);
// kelLoadOBJ (on options->threads), kelFacetNormals when the mode takes
// facet normals, then kelMakeMesh, without keeping the model: its tables
// are let go as soon as the mesh no longer needs them. Where the groups
// draw the triangles in stretches of the order they were read (unless they
// take turns more often than every eighth triangle), one thread turns the
// triangle table into the index array in place, so that making the mesh
// takes no more memory than the model did; otherwise the mesh is made on as
// many threads as the load. The mesh is the same either way. `options` may
// be null. The mode's warnings (kelMakeMesh's) go, like the load's, to
// options->warning when it is set (line 0), else to stdout; KEL_IF_PRESENT
// drops the flags the file cannot serve silently. Failures as for
// kelLoadOBJ and kelMakeMesh; nothing is kept.
KEL_API KelMesh* kelLoadMesh(const char* path, const KelReadOptions* options, unsigned mode, KelError* error);
// Frees the mesh and everything it owns; null is nothing to free.
KEL_API void kelDeleteMesh(KelMesh* mesh);
// Draws the mesh from vertex arrays (a current GL context needed): the
// arrays the mode asks for (KEL_FLAT or KEL_SMOOTH: normals, KEL_TEXTURE,
// KEL_VERTEX_COLOR) are enabled, and disabled again at the end; KEL_COLOR,
// KEL_MATERIAL and KEL_WIREFRAME as kelDraw treats them, each range's
// material set as kelDraw sets a group's, so both draw the same triangles in
// the same order with the same state. Flags the mesh cannot serve are
// dropped with a warning (stdout by default, see kelSetMessageHandler).
// Asserts that mesh is not null.
KEL_API void kelDrawMesh(const KelMesh* mesh, unsigned mode);

// --- Vectors and normals ---------------------------------------------------------

// The dot product of two 3-vectors; neither may be null.
KEL_API float kelDot(const float* u, const float* v);
// Writes u x v into n. All three point to 3 floats and may not be null; n
// must not overlap u or v.
KEL_API void kelCross(const float* u, const float* v, float* n);
// Scales v to unit length in place; a zero vector is left as it is.
KEL_API void kelNormalize(float* v);
// The three normal calls below return KEL_OK, or KEL_ERROR_MEMORY when
// memory runs out, the model then left exactly as it was.
// One unit normal per triangle: facetnorms gets numtriangles + 1 entries and
// triangle t gets findex t + 1. Replaces any earlier facet normals.
KEL_API int kelFacetNormals(KelModel* model);
// Per-corner normals with a crease angle in degrees: at each vertex the
// triangles whose facet normals lie within `angle` of a reference triangle
// share one averaged normal, the others keep their facet normal. Needs
// kelFacetNormals first. Replaces any earlier normals. Vertices that no
// triangle uses get no normal; when there are any, one message gives their
// count (stderr by default, see kelSetMessageHandler).
KEL_API int kelVertexNormals(KelModel* model, float angle);
// Vertex normals from smoothing groups: at each vertex, the triangles of one
// nonzero smoothing group (model->smoothing) share one averaged normal (the
// normalised sum of their facet normals); every corner of a triangle of
// group 0 gets its own copy of its facet normal. A model without a
// smoothing table is all group 0. Needs kelFacetNormals first (asserts
// model->facetnorms). Replaces any earlier normals: they are numbered by
// vertex, and within a vertex by group, group 0's corners first.
KEL_API int kelSmoothingGroupNormals(KelModel* model);

// --- Measuring and transforming ----------------------------------------------------

// -f when f is below zero, otherwise f itself (so -0 and NaN come back as
// they are).
KEL_API float kelAbs(float f);
// b when a < b, otherwise a: a on ties (-0 and +0) and when either is NaN.
KEL_API float kelMax(float a, float b);
// Extents |max| + |min| along x, y and z into dimensions[0..2].
KEL_API void kelDimensions(KelModel* model, float* dimensions);
// Centres the bounding box on the origin and scales by 2 / largest extent;
// returns the factor applied (1 when every extent is zero).
KEL_API float kelUnitize(KelModel* model);
// Multiplies every vertex component by scale; normals, facet normals and
// texture coordinates are left as they are. model may not be null.
KEL_API void kelScale(KelModel* model, float scale);
// Adds offset[0..2] to every vertex. Neither model nor offset may be null.
KEL_API void kelTranslate(KelModel* model, const float* offset);
// Reverses every triangle's corner order and negates every normal.
KEL_API void kelReverseWinding(KelModel* model);

// --- Texture coordinates -------------------------------------------------------------

// Projects x and z into a 0..1 range; texture coordinate i belongs to vertex
// i. Replaces any earlier texture coordinates. KEL_OK or KEL_ERROR_MEMORY
// (the model unchanged).
KEL_API int kelLinearTexture(KelModel* model);
// Maps each vertex normal through two spherical angles; texture coordinate i
// belongs to normal i. Needs vertex normals. KEL_OK or KEL_ERROR_MEMORY (the
// model unchanged).
KEL_API int kelSpheremapTexture(KelModel* model);

// --- Welding ----------------------------------------------------------------------------

// 1 when every component differs by strictly less than epsilon, otherwise 0 (so 0
// for a NaN component or epsilon). Neither vector may be null.
KEL_API int kelEqual(const float* u, const float* v, float epsilon);
// Finds the distinct vectors of a 1-based table of *numvectors entries: each
// is kept unless an earlier kept vector equals it within epsilon. Returns a
// new 1-based table of the kept vectors (the caller frees it with free()),
// sets *numvectors to their count and, as scratch, writes into the x
// component of every input vector the index of the kept vector it maps to.
// Null when out of memory, the vectors and *numvectors then unchanged.
KEL_API float* kelWeldVectors(float* vectors, unsigned* numvectors, float epsilon);
// Merges vertices within epsilon of a kept vertex (as kelWeldVectors) and
// renumbers every vertex index of the model: the triangles', the lines' and
// the points'; the vertex colours follow their vertices (a merged vertex
// keeps the kept one's colour). Indices that name no vertex are left as
// they are. KEL_OK or KEL_ERROR_MEMORY (the model unchanged).
KEL_API int kelWeld(KelModel* model, float epsilon);

// --- Writing ------------------------------------------------------------------------------

// Writes the model as OBJ (and, with KEL_MATERIAL and a library name, its
// MTL library beside it). Vertex colours, objects ("o"), smoothing groups
// ("s"), lines ("l") and points ("p"), when the model has them, are written
// whatever the mode; with KEL_MATERIAL a "usemtl" line stands again before
// any face whose material (trimaterials) differs from the last one written,
// and the library holds every material field that differs from its default
// and each material's extras. The library is always written inside the OBJ
// file's folder: a name that is absolute or has a ".." part is written under
// its last part, and the "mtllib" line names that. A save never replaces a
// file the model was read from (model->pathname and the library
// model->mtllibname names beside it, links followed) unless `path` is that
// OBJ file itself: a library that would replace one is named after the OBJ
// file instead ("out.obj" gives "out.mtl", then "out-2.mtl", ...), with a
// warning, and the "mtllib" line names it; a `path` that is the model's
// library fails with KEL_ERROR_OPEN and writes nothing. A plain save writes
// the groups oldest first, the reader's own "default" group (the oldest,
// when so named) without a "g" line and material 0 named "default" without
// a newmtl line, so that saving the model read back from it gives the same
// bytes. The files are replaced only once both are complete, so on failure
// neither earlier file changes. Returns KEL_OK or an error code, with the
// message in `error` when it is not null.
KEL_API int kelSaveOBJ(const KelModel* model, const char* path, unsigned mode, KelError* error);
// kelSaveOBJ that also reports progress: `progress` (may be null) is called
// with the entries written so far out of the model's vertices, normals,
// texture coordinates and triangles; a nonzero return cancels the save with
// KEL_ERROR_CANCELLED.
KEL_API int kelSaveOBJWithProgress(const KelModel* model, const char* path, unsigned mode,
                                   int (*progress)(void* user, unsigned long long done, unsigned long long total),
                                   void* user, KelError* error);

typedef struct KelSaveOptions {
    // Nonzero: written so that kelLoadOBJ reads back the same model. For a
    // model kelLoadOBJ read (and kel's own calls changed), saved with
    // KEL_SMOOTH | KEL_TEXTURE | KEL_MATERIAL, every table comes back bit for
    // bit, the triangles in the same order, the groups in the same list
    // order with the same triangles, and no second "default" group or
    // material. Every number is written with the fewest digits that read
    // back as the same float (0.5 as "0.5"); faces follow the triangle
    // table's order rather than the groups'.
    int exact;
    // As for kelSaveOBJWithProgress; may be null.
    int (*progress)(void* user, unsigned long long done, unsigned long long total);
    void* user;  // handed to progress and warning
    // When not null, the warnings the save would print (mode flags the
    // model cannot serve, a library written under another name) go here
    // instead, without their final newline, with line 0; nothing then goes
    // to the standard streams. Null: stdout.
    void (*warning)(void* user, unsigned long line, const char* message);
} KelSaveOptions;

// kelSaveOBJ with options; `options` may be null (all zero: kelSaveOBJ).
KEL_API int kelSaveOBJWithOptions(const KelModel* model, const char* path, unsigned mode, const KelSaveOptions* options,
                                  KelError* error);
// kelSaveOBJ that ends the process with status 1 after the message on stderr
// when the file cannot be written.
KEL_API void kelWriteOBJ(KelModel* model, const char* filename, unsigned mode);
// Writes the model's materials to `mtllibname` in the directory of
// `modelpath` (under its last part when it is absolute or has a ".." part),
// whatever file stands there. Ends the process with status 1 when it cannot.
KEL_API void kelWriteMTL(KelModel* model, const char* modelpath, const char* mtllibname);

// --- Writing glTF 2.0 ----------------------------------------------------------------

typedef struct KelGLBOptions {
    // Nonzero: a material's "Pr" and "Pm" are its roughness and metallic
    // factors as they are, and map_Pr and map_Pm make its metallic-roughness
    // texture (their first channels packed into one PNG). Zero: the
    // Blinn-Phong fields are converted (metallic 0, roughness from Ns and Ks).
    int metallicRoughness;
    // Nonzero: every material is marked KHR_materials_unlit.
    int unlit;
    // Nonzero: no texture is written, none is looked up.
    int noTextures;
    // The folder texture maps are looked up in (a map's name is taken as it
    // is when absolute); typically the directory of the OBJ file
    // (kelDirName). Null or "": the current directory.
    const char* textureDir;
    // Called as the output is written (at least every 256 KiB) with the
    // bytes written so far out of the total of every file; a nonzero return
    // cancels the save with KEL_ERROR_CANCELLED, earlier files kept. May be
    // null.
    int (*progress)(void* user, unsigned long long done, unsigned long long total);
    void* user;  // handed to progress and warning
    // When not null, the warnings (a texture that is missing or of a kind
    // not written, a map that the mesh cannot carry) go here, without their
    // final newline, with line 0. Null: stdout.
    void (*warning)(void* user, unsigned long line, const char* message);
} KelGLBOptions;

// Writes the mesh as glTF 2.0: a path ending in ".gltf" (any case) gives
// that JSON file and its buffer beside it, named as the file with ".bin"
// for ".gltf"; any other path one binary ".glb" file. One buffer holds the
// mesh's vertex arrays, shared by every primitive: positions, normals
// scaled to unit length (a zero one replaced by the facet normal of a
// triangle that uses it), texture coordinates with V flipped (v' = 1 - v),
// vertex colours (COLOR_0), tangents when a material has a normal texture,
// and for each range its own indices (16-bit when they all fit). Each run of
// ranges of one group is a node and a mesh named after the group, each
// range a triangle primitive with its material; the line segments and the
// points are primitives of modes 1 and 0 of the meshes "lines" and
// "points". Names are written in UTF-8, a byte that is no part of UTF-8
// taken as Latin-1. Materials become metallic-roughness materials (see
// KelGLBOptions): Kd the base colour, d (or 1 - Tr) its alpha (blended and
// double-sided below 1), Ke the emissive factor, map_Kd, map_Ke and
// norm / map_Bump (its -bm the scale) their textures. Textures are
// embedded: PNG and JPEG files as they are, BMP and PPM files converted to
// PNG; another kind, or a file that cannot be read, is a warning and the
// texture is left out, as is every texture of a mesh without texture
// coordinates (and the normal texture of one without normals). A number
// the format cannot hold (not-a-number, an infinity) is written as 0.
// `options` may be null (all zero); `mesh` and `path` may not. Files are
// replaced only once the new ones are complete. Returns KEL_OK or the
// error, its message in `error` when not null: KEL_ERROR_OPEN or
// KEL_ERROR_IO (systemError set), KEL_ERROR_MEMORY, KEL_ERROR_CANCELLED,
// KEL_ERROR_INDEX for a range past the indices or an index past the
// vertices (a mesh not made by kel), or KEL_ERROR_LIMIT for a ".glb" that
// would pass the format's 4 GiB (nothing is written after these two). Assumes a little-endian host, as the format is.
KEL_API int kelSaveGLB(const KelMesh* mesh, const char* path, const KelGLBOptions* options, KelError* error);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KEL_KEL_H
