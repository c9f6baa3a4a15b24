// The writers' output: a file written through one large buffer, numbers
// formatted in place, and files put in place only once complete. A regular
// file is written under a temporary name beside it and renamed over the
// target at the end, so a failed save leaves any earlier file intact;
// devices and other special files are written in place. Every write and
// the close are checked.
#ifndef KEL_OUT_H
#define KEL_OUT_H

#include <cstddef>
#include <cstdint>

#include "kel/kel.h"

// Room that one formatted number or index always fits in.
constexpr size_t kelNumberRoom = 64;

// Progress of one save, shared by the OBJ and MTL files it writes.
struct KelSaveProgress {
    int (*report)(void* user, unsigned long long done, unsigned long long total);  // may be null
    void* user;
    unsigned long long done, total;  // entries: vertices, normals, texture coordinates, triangles
    bool cancelled;
};

struct KelOut {
    int fd;
    char* target;  // the file finally written (a symbolic link resolved); owned
    char* temp;    // the temporary file renamed over target, or null; owned
    char* buffer;  // owned
    size_t length;
    bool ok;
    int systemError;            // the errno of the open, write, close or rename that failed; 0 while none did
    KelSaveProgress* progress;  // not owned; may be null
    bool exact;                 // numbers in their shortest exact form rather than printf's "%f"
};

// Opens `path` for writing. Returns KEL_OK, KEL_ERROR_OPEN (out->systemError
// set) or KEL_ERROR_MEMORY; nothing is left open or allocated on failure.
int kelOpenOut(KelOut* out, const char* path, KelSaveProgress* progress, bool exact);
// Gives up a file being written: the temporary file is removed, an earlier
// file of the same name stays as it was. A null out is nothing to give up.
void kelAbandonOut(KelOut* out);
// Writes out what is left and closes the file, its temporary kept for
// kelPlaceOuts; false (the temporary removed, out released, its
// systemError set) when that or an earlier write failed.
bool kelCompleteOut(KelOut* out);
// Puts completed files in place together: `first` (may be null) and then
// `second`. When the second cannot be put in place, the first's earlier
// file is put back (or the new one removed when there was none), so either
// both files change or neither does. Releases both; returns KEL_OK,
// KEL_ERROR_MEMORY or KEL_ERROR_IO (the rename's errno in
// second->systemError).
int kelPlaceOuts(KelOut* first, KelOut* second);

// A pointer to at least n free bytes of the buffer; `kelDone` then marks
// the buffer used up to `end`.
char* kelRoom(KelOut* out, size_t n);
inline void kelDone(KelOut* out, char* end) { out->length = size_t(end - out->buffer); }
void kelPut(KelOut* out, const char* text, size_t n);
void kelPut(KelOut* out, const char* text);
// "<prefix><count><suffix>"
void kelPutCount(KelOut* out, const char* prefix, unsigned count, const char* suffix);

char* kelFormatUnsigned(char* p, uint64_t value);
// The bytes printf("%f", double(f)) gives.
char* kelFormatFixed(char* p, float f);
// The fewest significant digits that strtof reads back as f, bit for bit
// (NaN as "nan" or "-nan", read back as a NaN).
char* kelFormatShortest(char* p, float f);
// f as the output's numbers are written: shortest when exact, else fixed.
inline char* kelFormatNumber(const KelOut* out, char* p, float f) {
    return out->exact ? kelFormatShortest(p, f) : kelFormatFixed(p, f);
}
// " a b c" for `components` numbers (at most kelNumberRoom bytes each).
char* kelFormatNumbers(const KelOut* out, char* p, const float* v, int components);
// "<keyword> a b c\n" for `components` numbers.
void kelPutNumbers(KelOut* out, const char* keyword, size_t keywordLength, const float* v, int components);

// --- What the OBJ and MTL writers share --------------------------------------

// The comment lines of both files' headers that name the library's makers.
extern const char kelAuthorLines[];
// The messages of a file that cannot be opened, and of one that cannot be
// written (or closed, or put in place) once open; each formats the path.
struct KelSaveMessages {
    const char* open;
    const char* write;
};
// The MTL writer's.
extern const KelSaveMessages kelCannotWriteMTL;
// The error of a save whose file could not be opened (`status`) or written
// (status KEL_OK or KEL_ERROR_IO): a memory error, the cancellation, or the
// message of `messages` with the path and the errno `systemError`. Returns
// the error's code.
int kelSaveFailure(KelError* error, int status, const KelSaveProgress* progress, const KelSaveMessages& messages,
                   const char* path, int systemError);
// The library name as a save writes it: `name` itself, or its last part when
// it is absolute or has a ".." part (the library is always written inside
// the OBJ file's folder). A new heap string, or null when out of memory.
char* kelSavedLibraryName(const char* name);
// Whether both paths (either may be null) name one existing file, links
// followed.
bool kelSameFile(const char* a, const char* b);
// Whether `path` names a file one of the model's libraries was read from
// (mtllibname and every entry of mtllibs: the name as it is when absolute,
// else beside the OBJ file), into *read. Returns KEL_OK or KEL_ERROR_MEMORY.
int kelIsReadLibrary(const KelModel* model, const char* path, bool* read);
// Where a save of the model to `objPath` writes its library: the name its
// mtllib line gives (kelSavedLibraryName) and the path beside objPath, each
// a new heap string the caller frees. Unless objPath is the model's own OBJ
// file, a library that would replace a file the model was read from is
// named after the OBJ file instead ("out.obj" gives "out.mtl", then
// "out-2.mtl", ...), and *renamed is set. Returns KEL_OK, or
// KEL_ERROR_MEMORY with both null.
int kelPlaceLibrary(const KelModel* model, const char* objPath, char** name, char** path, bool* renamed);
// Writes the model's materials into a new file at `path` through *out, which
// is left completed but not yet in place (see kelPlaceOuts). With `exact`,
// numbers are written in their shortest exact form and only what differs
// from the reader's defaults is written. A material 0 named "default" gets
// no newmtl line (its statements come first, where the reader gives them to
// its own "default"). Returns KEL_OK or the error (out released then).
int kelWriteMaterials(const KelModel* model, const char* path, KelSaveProgress* progress, bool exact, KelOut* out,
                      KelError* error);

#endif  // KEL_OUT_H
