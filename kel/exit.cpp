// The library's one fatal-exit path (see kel_internal.h). This file must hold
// nothing else, so that a fuzz target's own kelExit replaces it at link time.
#include <cstdlib>

#include "kel/kel_internal.h"

void kelExit(int status) { std::exit(status); }
