// Draws a model with kelDraw and with kelDrawMesh in a real GL window, in
// each mode given, and compares the pixels the two leave. The GL state is
// set alike before every draw (the model's draw leaves a normal, a colour
// and a material behind). Prints one line per mode: "MODE same N" with the
// number of pixels drawn, or "MODE differ N" with the number of pixels that
// differ; exits with status 0 when every mode drew something and gave the
// same pixels, 1 otherwise, 2 when the model or the mesh cannot be had.
// Usage: mesh_pixels MODEL.obj MODE...
#include <GL/glut.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kel/kel.h"

namespace {

const int kSize = 256;

// The state every draw starts from: lit, depth-tested, the model in view.
void startState() {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_COLOR_MATERIAL);
    const float ambient[4] = {0.2f, 0.2f, 0.2f, 1}, diffuse[4] = {0.8f, 0.8f, 0.8f, 1}, black[4] = {0, 0, 0, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0);
    glNormal3f(0, 0, 1);
    glColor3f(0.6f, 0.7f, 0.8f);
    const float light[4] = {1, 2, 3, 0};
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(40, 1, 0.1, 20);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glLightfv(GL_LIGHT0, GL_POSITION, light);
    gluLookAt(1.2, 1.5, 2.5, 0, 0, 0, 0, 1, 0);
}

std::vector<unsigned char> pixels() {
    glFinish();
    std::vector<unsigned char> p(size_t(kSize) * kSize * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSize, kSize, GL_RGB, GL_UNSIGNED_BYTE, p.data());
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: mesh_pixels MODEL.obj MODE...\n");
        return 2;
    }
    glutInitDisplayMode(GLUT_RGB | GLUT_DEPTH | GLUT_SINGLE);
    glutInitWindowSize(kSize, kSize);
    glutCreateWindow("mesh pixels");
    KelError error;
    KelModel* model = kelLoadOBJ(argv[1], nullptr, &error);
    if (!model) {
        fprintf(stderr, "%s\n", error.message);
        return 2;
    }
    kelUnitize(model);
    int status = 0;
    for (int i = 2; i < argc; i++) {
        unsigned mode = unsigned(strtoul(argv[i], nullptr, 0));
        KelMesh* mesh = kelMakeMesh(model, mode, &error);
        if (!mesh) {
            fprintf(stderr, "%s\n", error.message);
            return 2;
        }
        startState();
        kelDraw(model, mode);
        std::vector<unsigned char> drawn = pixels();
        startState();
        kelDrawMesh(mesh, mode);
        std::vector<unsigned char> fromMesh = pixels();
        kelDeleteMesh(mesh);
        size_t lit = 0, differ = 0;
        for (size_t p = 0; p < drawn.size(); p += 3) {
            lit += drawn[p] || drawn[p + 1] || drawn[p + 2];
            differ += drawn[p] != fromMesh[p] || drawn[p + 1] != fromMesh[p + 1] || drawn[p + 2] != fromMesh[p + 2];
        }
        printf("%u %s %zu\n", mode, differ ? "differ" : "same", differ ? differ : lit);
        if (differ || lit == 0) status = 1;
    }
    kelDelete(model);
    return status;
}
