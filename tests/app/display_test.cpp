#include <GL/gl.h>
#include <gtest/gtest.h>

#include <set>

#include "scene/scene.h"
#include "view_state.h"

using Calls = std::vector<std::string>;

// The frame's calls with the sphere faces (glBegin .. glEnd) left out.
static Calls frameOutline() {
    static const std::set<std::string> faceCalls = {"glBegin", "glEnd", "glNormal3fv", "glTexCoord2fv", "glVertex3fv"};
    Calls out;
    for (const GlCall& c : glCalls)
        if (!faceCalls.count(c.name)) out.push_back(c.str());
    return out;
}

static std::string rotate(double angle, double x, double y, double z) {
    return glFormat("glRotatef", {angle, x, y, z});
}

// The orbit and spin divisors, distances and radii of the nine bodies.
struct Row {
    double orbit;
    double distance;
    double spin;
    float radius;
};
static const Row rows[9] = {{0, 0, 25.0, 4.0f},       {0.87, 5, 58.0, 0.04f},    {2.24, 6, -243.0, 0.08f},
                            {3.65, 8, 1.0, 0.09f},    {6.86, 10, 1.0, 0.05f},    {43.0, 14, 0.4, 1.02f},
                            {109.0, 19, 0.35, 0.78f}, {306.0, 22, -0.75, 0.37f}, {598.0, 27, 0.67, 0.355f}};

static Calls expectedFrame(bool withCamera) {
    Calls e = {"glClear(16640)", "glMatrixMode(5888)", "glLoadIdentity()"};
    if (withCamera)
        e.push_back(
            glFormat("gluLookAt", {eyeX, double(eyeY) + 1.0, double(eyeZ) + 7.0, centerX, centerY, centerZ, 0, 1, 0}));
    const Calls scene = {rotate(sceneRotX, 1, 0, 0),
                         rotate(sceneRotY, 0, 1, 0),
                         rotate(sceneRotZ, 0, 0, 1),
                         glFormat("glScalef", {sceneScale, sceneScale, sceneScale}),
                         rotate(-90, 1, 0, 0),
                         "glPushMatrix()",
                         "glDisable(3553)",
                         glFormat("glTranslatef", {float(double(shipX) + 0.0), float(double(shipY) - 15.0), shipZ}),
                         glFormat("glScalef", {0.01f, 0.01f, 0.01f}),
                         rotate(90, 0, 0, -1),
                         rotate(90, 1, 0, 0),
                         rotate(shipAngleZ, 0, 0, 1),
                         rotate(shipAngleY, 0, 1, 0),
                         "glEnable(3553)",
                         "glPopMatrix()"};
    e.insert(e.end(), scene.begin(), scene.end());
    for (int i = 0; i < 9; ++i) {
        e.push_back("glPushMatrix()");
        if (i > 0) {
            e.push_back(rotate(float(double(frameCount) / rows[i].orbit), 0, 0, 1));
            e.push_back(glFormat("glTranslatef", {0, rows[i].distance, 0}));
        }
        e.push_back(rotate(float(double(frameCount) / rows[i].spin), 0, 0, 1));
        e.push_back(glFormat("glBindTexture", {GL_TEXTURE_2D, double(i + 1)}));
        e.push_back("glPopMatrix()");
    }
    e.push_back("glFlush()");
    e.push_back("glutSwapBuffers()");
    return e;
}

TEST(Display, FrameAtStartPlacesEveryBodyOnItsAxis) {
    resetViewState();
    displayScene();
    const Calls e = expectedFrame(true);
    EXPECT_EQ(frameOutline(), e);
    EXPECT_EQ(e[3], "gluLookAt(0, 1, 17, 0, 0, 0, 0, 1, 0)");
    EXPECT_EQ(e[4 + 7], "glTranslatef(0, -15, 0)");
    EXPECT_EQ(e[4 + 15 + 1], "glRotatef(0, 0, 0, 1)");

    // Each body is one 20 by 20 sphere of its radius: 400 faces whose first
    // corner is the south pole.
    size_t body = 0;
    for (size_t i = 0; i < glCalls.size(); ++i) {
        if (glCalls[i].name != "glBindTexture") continue;
        ASSERT_LT(body, 9u);
        size_t faces = 0, j = i + 1;
        for (; j < glCalls.size() && glCalls[j].name != "glPopMatrix"; ++j) faces += glCalls[j].name == "glBegin";
        EXPECT_EQ(faces, 400u);
        ASSERT_EQ(glCalls[i + 4].name, "glVertex3fv");
        EXPECT_EQ(glCalls[i + 4].args[2], -rows[body].radius);
        ++body;
    }
    EXPECT_EQ(body, 9u);
}

TEST(Display, LaterFrameTurnsEachBodyByTheExactFloatAngles) {
    resetViewState();
    frameCount = 19841.0f;
    sceneRotX = 12.5f;
    sceneRotY = -3.25f;
    sceneScale = 1.265625f;
    eyeX = 0.1233f;
    eyeY = -0.3f;
    centerZ = -1.9f;
    shipX = 0.1233f;
    shipY = 0.7f;
    shipZ = -0.2f;
    shipAngleY = 15.0f;
    shipAngleZ = -10.0f;
    displayScene();
    const Calls outline = frameOutline();
    EXPECT_EQ(outline, expectedFrame(true));
    // Spot checks against worked values (the first two differ from a
    // division in float): Mercury's orbit, Saturn's spin, Uranus's backward spin.
    EXPECT_EQ(outline[24], "glRotatef(22805.748046875, 0, 0, 1)");
    EXPECT_EQ(outline[56], "glRotatef(56688.5703125, 0, 0, 1)");
    EXPECT_EQ(outline[62], "glRotatef(-26454.666015625, 0, 0, 1)");
}

TEST(Display, OrthographicViewSkipsTheCamera) {
    resetViewState();
    orthoView = 1;
    eyeZ = 0.0f;
    eyeX = 3.0f;
    displayScene();
    const Calls outline = frameOutline();
    EXPECT_EQ(outline, expectedFrame(false));
    for (const std::string& c : outline) EXPECT_EQ(c.find("gluLookAt"), std::string::npos);
}

// The names of the GL calls between the ship block's glDisable and glEnable
// of texturing.
static std::set<std::string> shipCalls() {
    std::set<std::string> names;
    bool inShip = false;
    for (const GlCall& c : glCalls) {
        const std::string call = c.str();
        if (call == "glDisable(3553)" || call == "glEnable(3553)")
            inShip = call == "glDisable(3553)";
        else if (inShip)
            names.insert(c.name == "glBegin" ? call : c.name);
    }
    return names;
}

TEST(Display, ShipIsAWireframeUntilMChoosesAMode) {
    resetViewState();
    displayScene();
    std::set<std::string> calls = shipCalls();
    EXPECT_TRUE(calls.count("glBegin(2)"));  // GL_LINE_LOOP per triangle
    EXPECT_FALSE(calls.count("glBegin(4)"));
    EXPECT_FALSE(calls.count("glNormal3fv"));

    keyboardKey('m', 0, 0);  // smooth with materials
    glDoubleReset();
    displayScene();
    calls = shipCalls();
    EXPECT_TRUE(calls.count("glBegin(4)"));  // GL_TRIANGLES per group
    EXPECT_TRUE(calls.count("glNormal3fv"));
    EXPECT_TRUE(calls.count("glMaterialfv"));
    EXPECT_FALSE(calls.count("glBegin(2)"));
}
