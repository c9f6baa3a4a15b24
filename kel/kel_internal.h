// Internals shared by the kel sources: assertions that stay on in every build,
// the one fatal-exit path, zero-filled allocation, whole-file loading and the
// text-scanning helpers of the OBJ and MTL readers.
#ifndef KEL_KEL_INTERNAL_H
#define KEL_KEL_INTERNAL_H

// A null model or missing table is a programming error in every build, so the
// library's assertions fire in release builds too. <cassert> redefines assert
// each time it is included, following NDEBUG as it stands then.
#undef NDEBUG
#include <cassert>
#include <cstddef>

#include "kel/kel.h"

// Every fatal exit of the library (a file that cannot be opened or read, an
// unknown vertex statement, a face index outside its table, exhausted memory)
// calls kelExit after printing its message. exit.cpp holds nothing else and
// ends the process; a fuzz target defines its own kelExit, which the linker
// then takes instead of the archive's, to free the interrupted read with
// kelAbandonRead and jump back to its harness.
[[noreturn]] void kelExit(int status);

// Frees whatever an OBJ read that kelExit interrupted still holds (the model
// in progress and the file text). Only a diverted kelExit calls it.
void kelAbandonRead();

// calloc that never returns null: out of memory ends the process.
void* kelAlloc(size_t count, size_t size);
// A heap copy of the first `length` bytes at `text`, NUL-terminated.
char* kelCopyName(const char* text, size_t length);

// The bytes of a whole file, followed by one NUL that is not counted in
// `size` (it stops the C library's number parsers).
struct KelText {
    char* data;  // owned; free() it
    size_t size;
};
// Reads the file at `path`; false (and nothing allocated) when it cannot be
// opened or read.
bool kelLoadText(const char* path, KelText* text);

// --- Scanning [p, end) --------------------------------------------------------
// White space is what isspace() takes in the C locale; a line ends at '\n'
// (a "\r\n" pair included).

inline bool kelIsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline const char* kelSkipSpace(const char* p, const char* end) {
    while (p < end && kelIsSpace(*p)) p++;
    return p;
}

inline const char* kelTokenEnd(const char* p, const char* end) {
    while (p < end && !kelIsSpace(*p)) p++;
    return p;
}

// Just past the line end at or after p, or end.
const char* kelSkipLine(const char* p, const char* end);

// The first white-space-delimited word between p and the end of its line:
// returns its start and stores its end in *wordEnd (start == *wordEnd when
// the rest of the line holds no word).
const char* kelLineWord(const char* p, const char* end, const char** wordEnd);

// Parses one number at p exactly as strtof would (no leading white space).
// Returns the position after it, or p when there is none (out untouched).
const char* kelParseFloat(const char* p, const char* end, float* out);

// The numbers of a vertex, colour or shininess statement: reads up to n
// numbers, each after any white space, stopping at the first that does not
// parse (its slot keeps its value). Returns the position just past the line
// on which the last number read stands (the line of p when none was read),
// so whatever follows the numbers on that line is dropped.
const char* kelReadNumbers(const char* p, const char* end, float* out, int n);

#endif  // KEL_KEL_INTERNAL_H
