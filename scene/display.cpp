// One whole frame: camera, scene rotation and zoom, the ship in front of the
// camera, then the Sun and the eight planets.
#include <GL/glut.h>

#include "app/state.h"
#include "scene/scene.h"

namespace {

// The Sun's radius and the orbit distances derive from this one number.
constexpr int orbitBase = 2;

struct Body {
    unsigned texture;     // texture object made by initScene
    double orbitDivisor;  // frameCount / divisor = orbit angle; 0 for no orbit
    int distance;         // from the Sun
    double spinDivisor;   // frameCount / divisor = spin angle; negative turns backwards
    float radius;
};

// Divisors: orbital periods in days / 100 and rotation periods in days.
const Body bodyTable[9] = {
    {1, 0.0, 0, 25.0, float(2 * orbitBase)},   // Sun
    {2, 0.87, orbitBase + 3, 58.0, 0.04f},     // Mercury
    {3, 2.24, orbitBase + 4, -243.0, 0.08f},   // Venus
    {4, 3.65, orbitBase + 6, 1.0, 0.09f},      // Earth
    {5, 6.86, orbitBase + 8, 1.0, 0.05f},      // Mars
    {6, 43.0, orbitBase + 12, 0.4, 1.02f},     // Jupiter
    {7, 109.0, orbitBase + 17, 0.35, 0.78f},   // Saturn
    {8, 306.0, orbitBase + 20, -0.75, 0.37f},  // Uranus
    {9, 598.0, orbitBase + 25, 0.67, 0.355f},  // Neptune
};

}  // namespace

void displayScene() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    // The orthographic view has no camera transform.
    if (!orthoView) gluLookAt(eyeX, double(eyeY) + 1.0, double(eyeZ) + 7.0, centerX, centerY, centerZ, 0.0, 1.0, 0.0);

    glRotatef(sceneRotX, 1.0f, 0.0f, 0.0f);
    glRotatef(sceneRotY, 0.0f, 1.0f, 0.0f);
    glRotatef(sceneRotZ, 0.0f, 0.0f, 1.0f);
    glScalef(sceneScale, sceneScale, sceneScale);
    // Lay the orbits flat: the bodies orbit in the X-Y plane of this frame.
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);

    // The ship, untextured, 15 units along -Y of the turned frame: just in
    // front of and below the initial eye. Its units are a hundredth of ours.
    glPushMatrix();
    glDisable(GL_TEXTURE_2D);
    glTranslatef(float(double(shipX) + 0.0), float(double(shipY) - 15.0), shipZ);
    glScalef(0.01f, 0.01f, 0.01f);
    glRotatef(90.0f, 0.0f, 0.0f, -1.0f);
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(shipAngleZ, 0.0f, 0.0f, 1.0f);
    glRotatef(shipAngleY, 0.0f, 1.0f, 0.0f);
    kelDraw(shipModel, shipModeChosen ? unsigned(shipDrawMode) : KEL_WIREFRAME);
    glEnable(GL_TEXTURE_2D);
    glPopMatrix();

    for (const Body& b : bodyTable) {
        glPushMatrix();
        if (b.orbitDivisor != 0.0) {
            glRotatef(float(double(frameCount) / b.orbitDivisor), 0.0f, 0.0f, 1.0f);
            glTranslatef(0.0f, float(b.distance), 0.0f);
        }
        glRotatef(float(double(frameCount) / b.spinDivisor), 0.0f, 0.0f, 1.0f);
        glBindTexture(GL_TEXTURE_2D, b.texture);
        drawSphere(b.radius, 20, 20);
        glPopMatrix();
    }

    glFlush();
    glutSwapBuffers();
}
