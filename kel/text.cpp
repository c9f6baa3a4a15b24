// The text scanning shared by the OBJ and MTL readers.
#include "kel/scan.h"

const char* kelLineWord(const char* p, const char* end, const char** wordEnd) {
    while (p < end && *p != '\n' && kelIsSpace(*p)) p++;
    *wordEnd = kelTokenEnd(p, end);
    return p;
}
