// Line ends in chunked text. A line ends at '\n', "\r\n" or a lone '\r'
// (old Mac files); a backslash right before a line end joins the next line
// to its own.
#ifndef KEL_CHUNK_LINES_H
#define KEL_CHUNK_LINES_H

#include <cstddef>

#include "kel/chars.h"

// Whether strtof may read a number that starts with c: digits, a sign, a
// point, or the "inf" and "nan" it spells out.
inline bool kelMayStartNumber(char c) {
    return kelIsDigit(c) || c == '-' || c == '+' || c == '.' || c == 'i' || c == 'I' || c == 'n' || c == 'N';
}

// Whether a backslash followed by `next` joins lines: `next` starts a line
// end.
inline bool kelJoinsLines(char next) { return next == '\n' || next == '\r'; }

// The start of the last line in [data, data + size) whose first token is
// known and cannot be a number, and whose line end before it no backslash
// joins, searched from the end; 0 when there is none after data[0]. It is
// never inside a "\r\n".
size_t kelFindSplit(const char* data, size_t size);

// Rewrites the chunk [p, end), followed by the byte `after`, so that
// readers see every line end as '\n': a lone '\r' becomes one, and a
// backslash that joins lines becomes a blank, with the line end after it
// ("\\\n", "\\\r\n", "\\\r"). The bytes keep their places, so offsets stay
// those of the input; rewriting again changes nothing. Returns whether the
// chunk held a '\r' or a backslash.
bool kelJoinLines(char* p, char* end, char after);

// The line ends in [p, p + n) of text as the input has it (not rewritten):
// each '\n' and each lone '\r'; `after` is the byte after p + n.
size_t kelCountLineEnds(const char* p, size_t n, char after);

#endif  // KEL_CHUNK_LINES_H
