// Reads a model, unitizes it, gives it normals, writes it and reads it back;
// links the drawing calls too (no GL context here to call them in).
#include <kel/kel.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kel_consumer IN.obj OUT.obj\n");
        return 2;
    }
    void (*volatile draw)(KelModel*, unsigned) = kelDraw;
    unsigned (*volatile compile)(KelModel*, unsigned) = kelCompileList;
    if (!draw || !compile) return 1;
    KelModel* model = kelReadOBJ(argv[1]);
    kelUnitize(model);
    kelFacetNormals(model);
    kelVertexNormals(model, 90.0f);
    kelWriteOBJ(model, argv[2], KEL_SMOOTH);
    KelModel* back = kelReadOBJ(argv[2]);
    int ok = back->numvertices == model->numvertices && back->numtriangles == model->numtriangles &&
             back->numnormals == model->numnormals;
    std::printf("%u vertices, %u triangles, %u normals: %s\n", back->numvertices, back->numtriangles, back->numnormals,
                ok ? "round trip ok" : "round trip differs");
    kelDelete(back);
    kelDelete(model);
    return ok ? 0 : 1;
}
