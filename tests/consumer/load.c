/* Loads the module built beside it and has it read a model of two
 * triangles. Usage: kel_consumer_load MODULE.so */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    static const char square[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n";
    void* module;
    void* symbol;
    int (*triangles)(const char*);
    int count;
    if (argc != 2) {
        fprintf(stderr, "usage: kel_consumer_load MODULE.so\n");
        return 2;
    }
    module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    symbol = dlsym(module, "consumerTriangles");
    if (!symbol) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    /* ISO C has no cast from an object pointer to a function pointer. */
    memcpy(&triangles, &symbol, sizeof triangles);
    count = triangles(square);
    printf("module: %d triangles\n", count);
    dlclose(module);
    return count == 2 ? 0 : 1;
}
