// The program's window, shared by the program and the frame-rate benchmark so
// that both draw into the same kind of window.
#include <GL/glut.h>

#include "app/state.h"
#include "scene/scene.h"

void openSceneWindow(int* argc, char** argv) {
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(500, 500);
    glutCreateWindow("Orvandel");
    glutDisplayFunc(displayScene);
    glutReshapeFunc(reshapeWindow);
}
