/* A shared module with kel inside it: counts the triangles of an OBJ text. */
#include <kel/kel.h>
#include <string.h>

int consumerTriangles(const char* text);

int consumerTriangles(const char* text) {
    KelError error;
    KelModel* model = kelLoadOBJFromMemory(text, strlen(text), "module.obj", NULL, &error);
    int count;
    if (!model) return -1;
    count = (int)model->numtriangles;
    kelDelete(model);
    return count;
}
