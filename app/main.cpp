// Program entry: opens the one window, registers the callbacks, sets up the
// scene and hands control to the GLUT main loop.
#include <GL/glut.h>

#include <cstdio>

#include "app/state.h"
#include "scene/scene.h"

int main(int argc, char** argv) {
    // Diagnostics are whole lines: send each at once, so none is lost when
    // the process is ended from outside.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    openSceneWindow(&argc, argv);
    glutKeyboardFunc(keyboardKey);
    glutSpecialFunc(specialKey);
    glutMouseFunc(mouseButton);
    glutMotionFunc(mouseDrag);

    // The GL context is current now and no frame has been drawn yet.
    initScene();
    glutMainLoop();
    return 0;
}
