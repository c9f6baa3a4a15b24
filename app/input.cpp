// The frame loop's idle step and the callbacks through which the window and
// the user change the view. Every float update is computed in double
// precision from the float value and the double constant, then stored back as
// a float.
#include <GL/glut.h>

#include "app/state.h"

// v = v + d, computed in double and stored back as a float.
static void addTo(float& v, double d) { v = float(double(v) + d); }

// Flips a 0/1 flag and returns its new value.
static int32_t toggle(int32_t& flag) {
    flag = flag == 0 ? 1 : 0;
    return flag;
}

// Enables or disables a GL capability after its flag was toggled.
static void toggleCapability(int32_t& flag, GLenum cap) {
    if (toggle(flag))
        glEnable(cap);
    else
        glDisable(cap);
}

// The camera block, for the zoom keys.
static float* const cameraBlock[6] = {&eyeX, &eyeY, &eyeZ, &centerX, &centerY, &centerZ};

// Multiplies the scene scale by `factor` and the camera block by 1 / factor,
// so the camera moves towards the origin as the scene grows.
static void zoom(double factor, bool enlarge) {
    for (float* v : cameraBlock) *v = float(enlarge ? double(*v) / factor : double(*v) * factor);
    sceneScale = float(enlarge ? double(sceneScale) * factor : double(sceneScale) / factor);
}

// The ship's draw modes cycled by "m": wireframe, smooth, smooth with materials.
static const int32_t shipModes[3] = {int32_t(KEL_WIREFRAME), int32_t(KEL_SMOOTH), int32_t(KEL_SMOOTH | KEL_MATERIAL)};

void idleAdvance() {
    addTo(frameCount, 1.0);
    glutPostRedisplay();
}

void reshapeWindow(int width, int height) {
    if (height == 0) return;  // no aspect to compute; keep everything as it is
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (orthoView) {
        const double h = orthoHalfSize;
        glOrtho(-h, h, -h, h, -h, h);
        eyeZ = 0.0f;
    } else {
        gluPerspective(60.0, double(width) / double(height), 0.01, 1000.0);
        eyeZ = 10.0f;
    }
    glEnable(GL_DEPTH_TEST);
    windowWidth = width;
    windowHeight = height;
}

void moveWithArrow(int key) {
    // The ship offset and the camera move by the same step, so the ship keeps
    // its place in the picture.
    switch (key) {
    case GLUT_KEY_UP:
        addTo(shipY, 0.1);
        addTo(eyeZ, -0.1);
        addTo(centerZ, -0.1);
        break;
    case GLUT_KEY_DOWN:
        addTo(shipY, -0.1);
        addTo(eyeZ, 0.1);
        addTo(centerZ, 0.1);
        break;
    case GLUT_KEY_LEFT:
        addTo(eyeX, -0.1);
        addTo(centerX, -0.1);
        addTo(shipX, -0.1);
        break;
    case GLUT_KEY_RIGHT:
        addTo(eyeX, 0.1);
        addTo(centerX, 0.1);
        addTo(shipX, 0.1);
        break;
    default: break;
    }
}

void specialKey(int key, int, int) {
    // Other special keys (function keys, and Shift or Ctrl alone, which
    // freeglut reports here too) do nothing, not even a redisplay.
    if (key == GLUT_KEY_LEFT || key == GLUT_KEY_UP || key == GLUT_KEY_RIGHT || key == GLUT_KEY_DOWN) {
        moveWithArrow(key);
        glutPostRedisplay();
    }
}

void keyboardKey(unsigned char key, int, int) {
    switch (key) {
    case ' ': glutIdleFunc(toggle(animating) ? idleAdvance : nullptr); break;
    case 'c': toggleCapability(cullFaceOn, GL_CULL_FACE); break;
    case 'd': toggleCapability(depthTestOn, GL_DEPTH_TEST); break;
    case 'l': toggleCapability(lightingOn, GL_LIGHTING); break;
    case 'f': glFrontFace(toggle(frontFaceCW) ? GL_CW : GL_CCW); break;
    case 's': glShadeModel(toggle(smoothShadeOn) ? GL_SMOOTH : GL_FLAT); break;
    case 't': glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, float(toggle(twoSideOn))); break;
    case 'v': glLightModelf(GL_LIGHT_MODEL_LOCAL_VIEWER, float(toggle(localViewerOn))); break;
    case 'g':
        addTo(shipAngleY, 5.0);
        addTo(eyeX, -0.05);
        addTo(centerX, -0.3);
        break;
    case 'j':
        addTo(shipAngleY, -5.0);
        addTo(eyeX, 0.05);
        addTo(centerX, 0.3);
        break;
    case 'y':
        addTo(shipAngleZ, 5.0);
        addTo(eyeY, 0.001);
        addTo(centerY, -0.15);
        break;
    case 'h':
        addTo(shipAngleZ, -5.0);
        addTo(eyeY, -0.001);
        addTo(centerY, 0.15);
        break;
    case 'q':
        addTo(shipZ, -0.1);
        addTo(eyeY, -0.1);
        addTo(centerY, -0.1);
        break;
    case 'w':
        addTo(shipZ, 0.1);
        addTo(eyeY, 0.1);
        addTo(centerY, 0.1);
        break;
    case 'p':
        toggle(orthoView);
        reshapeWindow(windowWidth, windowHeight);
        break;
    case 'z': zoom(scaleStep, true); break;
    case 'x': zoom(scaleStep, false); break;
    case 'm':
        shipModeIndex = shipModeIndex >= 0 && shipModeIndex < 2 ? shipModeIndex + 1 : 0;
        shipDrawMode = shipModes[shipModeIndex];
        shipModeChosen = 1;
        break;
    default: break;
    }
    glutPostRedisplay();
}

void mouseButton(int button, int state, int x, int y) {
    if (button != GLUT_LEFT_BUTTON) return;
    if (state == GLUT_DOWN) {
        dragState = GLUT_DOWN;
        dragButton = GLUT_LEFT_BUTTON;
        lastMouseX = x;
        lastMouseY = y;
    } else if (state == GLUT_UP) {
        dragState = -1;
    } else {
        return;
    }
    glutPostRedisplay();
}

void mouseDrag(int x, int y) {
    if (dragButton != GLUT_LEFT_BUTTON || dragState != GLUT_DOWN) return;
    // Differences taken in double: 5 pixels of travel turn the scene 1 degree.
    addTo(sceneRotY, -(double(lastMouseX) - double(x)) / 5.0);
    addTo(sceneRotX, -(double(lastMouseY) - double(y)) / 5.0);
    glutPostRedisplay();
    lastMouseX = x;
    lastMouseY = y;
}
