/* A C99 program on kel::core: reads a model, gives it facet normals, writes
 * it and reads it back; reads a triangle from memory. */
#include <kel/kel.h>
#include <stdio.h>
#include <string.h>

#if KEL_VERSION_MAJOR != PACKAGE_MAJOR || KEL_VERSION_MINOR != PACKAGE_MINOR || KEL_VERSION_PATCH != PACKAGE_PATCH
#error "kel.h states another version than the package"
#endif

static int fail(const KelError* error) {
    fprintf(stderr, "%s\n", error->message);
    return 1;
}

int main(int argc, char** argv) {
    static const char triangle[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    KelReadOptions options;
    KelError error;
    KelModel *model, *back, *small;
    int ok;
    if (argc != 3) {
        fprintf(stderr, "usage: kel_consumer_c IN.obj OUT.obj\n");
        return 2;
    }
    memset(&options, 0, sizeof options);
    options.threads = 1;
    model = kelLoadOBJ(argv[1], &options, &error);
    if (!model) return fail(&error);
    kelFacetNormals(model);
    if (kelSaveOBJ(model, argv[2], KEL_FLAT | KEL_MATERIAL, &error) != KEL_OK) return fail(&error);
    back = kelLoadOBJ(argv[2], NULL, &error);
    if (!back) return fail(&error);
    small = kelLoadOBJFromMemory(triangle, sizeof triangle - 1, "triangle.obj", NULL, &error);
    if (!small) return fail(&error);
    ok = back->numvertices == model->numvertices && back->numtriangles == model->numtriangles &&
         back->numnormals == model->numfacetnorms && small->numtriangles == 1 &&
         kelEqual(&small->vertices[3], &small->vertices[6], 1.5f) == 1;
    printf("C, kel %d.%d.%d: %u vertices, %u triangles, %u normals: %s\n", KEL_VERSION_MAJOR, KEL_VERSION_MINOR,
           KEL_VERSION_PATCH, back->numvertices, back->numtriangles, back->numnormals,
           ok ? "round trip ok" : "round trip differs");
    kelDelete(small);
    kelDelete(back);
    kelDelete(model);
    return ok ? 0 : 1;
}
