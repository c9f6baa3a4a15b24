// Strict reading: every statement of OBJ text, and every number of MTL
// text, checked against what the format allows, line by line, before the
// text is read into a model.
#ifndef KEL_STRICT_H
#define KEL_STRICT_H

#include <cstddef>

#include "kel/kel_internal.h"

namespace kelobj {

// What a statement that the format does not allow does wrong.
enum StrictProblem {
    STRICT_OK,
    STRICT_FACE_REFERENCES,    // a face with fewer than three references
    STRICT_LINE_REFERENCES,    // a line with fewer than two
    STRICT_POINT_REFERENCES,   // a point statement with none
    STRICT_NOT_REFERENCE,      // `token` is no reference
    STRICT_MIXED_FORMS,        // `token` is written in another form than the first reference of its face
    STRICT_NOT_NUMBER,         // `token` is no number
    STRICT_VERTEX_NUMBERS,     // a vertex with `count` numbers
    STRICT_NORMAL_NUMBERS,     // a normal with `count` numbers
    STRICT_TEXCOORD_NUMBERS,   // a texture coordinate with `count` numbers
    STRICT_NUL,                // a NUL byte
    STRICT_UNKNOWN_KEYWORD,    // `token` is no keyword of the format
    STRICT_UNKNOWN_STATEMENT,  // `token` starts with 'v' but names no vertex statement (KEL_ERROR_STATEMENT)
    STRICT_NO_TEXCOORDS,       // a reference names a texture coordinate; the file has none
    STRICT_NO_NORMALS,         // a reference names a normal; the file has none
    STRICT_NO_NUMBER,          // an MTL statement `token` without its number
};

// The first statement found that is not allowed.
struct StrictFinding {
    StrictProblem problem;
    const char* at;  // where (for its line); in the text checked
    const char* token;
    size_t length;  // of token
    int count;
};

// What the check of the statements so far saw of the tables that
// references name.
struct StrictTables {
    bool texcoords, normals;               // "vt" or "vn" statements stood
    unsigned long long texcoordReference;  // input offset of the first reference that names one; ~0 for none
    unsigned long long normalReference;
};
inline StrictTables strictTablesNone() { return {false, false, ~0ull, ~0ull}; }

// Checks the whole lines [begin, end), which start at input offset
// `offset` (end is followed by a zero, as chunks are). Returns false with
// the first statement not allowed in *finding; otherwise notes in *tables
// what they hold and name.
bool strictCheckLines(const char* begin, const char* end, unsigned long long offset, StrictTables* tables,
                      StrictFinding* finding);

// Sets the error of `finding`, found at input line `line` of the input
// named `name`: KEL_ERROR_SYNTAX with the problem, or for an unknown vertex
// statement KEL_ERROR_STATEMENT as lenient reading reports it. `reader`
// names the reader in the message ("kelReadOBJ", "kelReadMTL").
void strictError(KelError* error, const char* reader, const char* name, unsigned long line,
                 const StrictFinding& finding);

// Checks the numbers of the MTL statements in the whole lines [begin, end)
// (followed by a zero): each word of a statement that takes numbers must
// be one. Returns false with the first that is not in *finding.
bool strictCheckLibraryLines(const char* begin, const char* end, StrictFinding* finding);
// Reads chunks (from their start) and checks them with
// strictCheckLibraryLines, then rewinds them. False, with the error set
// (the library named `path`), at the first finding or when the read fails
// (chunks->error then says why).
bool strictCheckLibrary(KelChunks* chunks, const char* path, KelError* error);

}  // namespace kelobj

#endif  // KEL_STRICT_H
