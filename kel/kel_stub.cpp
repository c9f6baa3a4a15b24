// Temporary stand-ins until the reader and the drawing land.
#include <cstdlib>
#include <cstring>

#include "kel/kel.h"

KelModel* kelReadOBJ(const char* filename) {
    KelModel* m = static_cast<KelModel*>(calloc(1, sizeof(KelModel)));
    m->pathname = strdup(filename);
    m->vertices = static_cast<float*>(calloc(3, sizeof(float)));
    return m;
}

void kelDraw(KelModel*, unsigned) {}
