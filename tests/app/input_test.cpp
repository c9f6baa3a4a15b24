#include <GL/glut.h>
#include <gtest/gtest.h>

#include <utility>

#include "view_state.h"

using Calls = std::vector<std::string>;
static const Calls redisplay = {"glutPostRedisplay()"};

// Every float the keys may change.
static float* const viewFloats[] = {&eyeX,       &eyeY,      &eyeZ,      &centerX,    &centerY,
                                    &centerZ,    &shipX,     &shipY,     &shipZ,      &shipAngleY,
                                    &shipAngleZ, &sceneRotX, &sceneRotY, &sceneScale, &frameCount};

// Starts every view float at a value where float arithmetic and double
// arithmetic with the constants give different results for several steps.
static void startFloatsAt(float v) {
    for (float* f : viewFloats) *f = v;
}

struct Move {
    int key;
    bool special;
    std::vector<std::pair<float*, double>> steps;
};

TEST(Input, MovementKeysStepEachValueInDoubleAndRedisplay) {
    const Move moves[] = {
        {GLUT_KEY_UP, true, {{&shipY, 0.1}, {&eyeZ, -0.1}, {&centerZ, -0.1}}},
        {GLUT_KEY_DOWN, true, {{&shipY, -0.1}, {&eyeZ, 0.1}, {&centerZ, 0.1}}},
        {GLUT_KEY_LEFT, true, {{&eyeX, -0.1}, {&centerX, -0.1}, {&shipX, -0.1}}},
        {GLUT_KEY_RIGHT, true, {{&eyeX, 0.1}, {&centerX, 0.1}, {&shipX, 0.1}}},
        {'g', false, {{&shipAngleY, 5.0}, {&eyeX, -0.05}, {&centerX, -0.3}}},
        {'j', false, {{&shipAngleY, -5.0}, {&eyeX, 0.05}, {&centerX, 0.3}}},
        {'y', false, {{&shipAngleZ, 5.0}, {&eyeY, 0.001}, {&centerY, -0.15}}},
        {'h', false, {{&shipAngleZ, -5.0}, {&eyeY, -0.001}, {&centerY, 0.15}}},
        {'q', false, {{&shipZ, -0.1}, {&eyeY, -0.1}, {&centerY, -0.1}}},
        {'w', false, {{&shipZ, 0.1}, {&eyeY, 0.1}, {&centerY, 0.1}}},
    };
    const float start = 0.1233f;
    for (const Move& m : moves) {
        SCOPED_TRACE(m.key);
        resetViewState();
        startFloatsAt(start);
        if (m.special)
            specialKey(m.key, 7, 9);
        else
            keyboardKey(static_cast<unsigned char>(m.key), 7, 9);
        EXPECT_EQ(glCallStrings(), redisplay);
        for (float* f : viewFloats) {
            float expected = start;
            for (const auto& s : m.steps)
                if (s.first == f) expected = float(double(start) + s.second);
            EXPECT_EQ(*f, expected) << "value #" << (f - viewFloats[0]);
        }
    }
}

TEST(Input, ZoomKeysScaleSceneAndCameraBlockOppositeWays) {
    resetViewState();
    startFloatsAt(0.1233f);
    sceneScale = 1.3f;
    keyboardKey('z', 0, 0);
    EXPECT_EQ(sceneScale, float(1.3f * 1.125));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(*viewFloats[i], float(0.1233f / 1.125));
    EXPECT_EQ(shipX, 0.1233f);
    keyboardKey('x', 0, 0);
    EXPECT_FLOAT_EQ(sceneScale, 1.3f);
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(*viewFloats[i], 0.1233f);
    EXPECT_EQ(glCallStrings(), Calls(2, redisplay[0]));
}

TEST(Input, ToggleKeysFlipTheirFlagAndSetGlStateFromTheNewValue) {
    struct Toggle {
        unsigned char key;
        int32_t* flag;
        std::string whenOn, whenOff;
    };
    const Toggle toggles[] = {
        {'c', &cullFaceOn, "glEnable(2884)", "glDisable(2884)"},
        {'d', &depthTestOn, "glEnable(2929)", "glDisable(2929)"},
        {'l', &lightingOn, "glEnable(2896)", "glDisable(2896)"},
        {'s', &smoothShadeOn, "glShadeModel(7425)", "glShadeModel(7424)"},
        {'f', &frontFaceCW, "glFrontFace(2304)", "glFrontFace(2305)"},
        {'t', &twoSideOn, "glLightModelf(2898, 1)", "glLightModelf(2898, 0)"},
        {'v', &localViewerOn, "glLightModelf(2897, 1)", "glLightModelf(2897, 0)"},
    };
    for (const Toggle& t : toggles) {
        SCOPED_TRACE(t.key);
        resetViewState();
        const int32_t first = *t.flag;
        keyboardKey(t.key, 0, 0);
        keyboardKey(t.key, 0, 0);
        EXPECT_EQ(*t.flag, first);
        const std::string& a = first ? t.whenOff : t.whenOn;
        const std::string& b = first ? t.whenOn : t.whenOff;
        EXPECT_EQ(glCallStrings(), (Calls{a, redisplay[0], b, redisplay[0]}));
    }
}

TEST(Input, SpaceStartsAndStopsTheIdleStepWhichAdvancesFrameCount) {
    resetViewState();
    keyboardKey(' ', 0, 0);
    EXPECT_EQ(animating, 1);
    ASSERT_EQ(glCalls.size(), 2u);
    EXPECT_EQ(glCalls[0].name, "glutIdleFunc");
    EXPECT_EQ(glCalls[0].pointer, reinterpret_cast<const void*>(idleAdvance));
    EXPECT_EQ(glCalls[1].name, "glutPostRedisplay");

    idleAdvance();
    idleAdvance();
    EXPECT_EQ(frameCount, 2.0f);
    glDoubleReset();
    keyboardKey(' ', 0, 0);
    EXPECT_EQ(animating, 0);
    ASSERT_EQ(glCalls.size(), 2u);
    EXPECT_EQ(glCalls[0].name, "glutIdleFunc");
    EXPECT_EQ(glCalls[0].pointer, nullptr);
    EXPECT_EQ(frameCount, 2.0f);

    // Single precision: at 2^24 one more frame changes nothing.
    frameCount = 16777216.0f;
    glDoubleReset();
    idleAdvance();
    EXPECT_EQ(frameCount, 16777216.0f);
    EXPECT_EQ(glCallStrings(), redisplay);
}

TEST(Input, ReshapeSetsViewportAndEitherProjection) {
    resetViewState();
    eyeZ = 3.0f;
    reshapeWindow(640, 480);
    EXPECT_EQ(glCallStrings(),
              (Calls{"glClear(16640)", "glViewport(0, 0, 640, 480)", "glMatrixMode(5889)", "glLoadIdentity()",
                     glFormat("gluPerspective", {60, 640.0 / 480.0, 0.01, 1000}), "glEnable(2929)"}));
    EXPECT_EQ(eyeZ, 10.0f);
    EXPECT_EQ(windowWidth, 640);
    EXPECT_EQ(windowHeight, 480);

    // "p" switches to the orthographic box with the stored size, and back.
    glDoubleReset();
    depthTestOn = 0;
    keyboardKey('p', 0, 0);
    EXPECT_EQ(orthoView, 1);
    EXPECT_EQ(eyeZ, 0.0f);
    EXPECT_EQ(depthTestOn, 0);  // the reshape enables depth testing regardless
    EXPECT_EQ(glCallStrings(),
              (Calls{"glClear(16640)", "glViewport(0, 0, 640, 480)", "glMatrixMode(5889)", "glLoadIdentity()",
                     "glOrtho(-3, 3, -3, 3, -3, 3)", "glEnable(2929)", "glutPostRedisplay()"}));
    keyboardKey('p', 0, 0);
    EXPECT_EQ(orthoView, 0);
    EXPECT_EQ(eyeZ, 10.0f);
}

TEST(Input, ReshapeToHeightZeroChangesNothing) {
    for (int ortho : {0, 1}) {
        resetViewState();
        orthoView = ortho;
        eyeZ = 4.5f;
        reshapeWindow(300, 0);
        EXPECT_TRUE(glCalls.empty());
        EXPECT_EQ(eyeZ, 4.5f);
        EXPECT_EQ(windowWidth, 500);
        EXPECT_EQ(windowHeight, 500);
    }
    // Before the first reshape, "p" reshapes to the stored 0 by 0: nothing.
    resetViewState();
    windowWidth = windowHeight = 0;
    keyboardKey('p', 0, 0);
    EXPECT_EQ(glCallStrings(), redisplay);
}

TEST(Input, MKeyCyclesShipDrawModes) {
    resetViewState();
    const int32_t modes[] = {18, 32, 2, 18};
    const int32_t positions[] = {2, 0, 1, 2};
    for (int i = 0; i < 4; ++i) {
        keyboardKey('m', 0, 0);
        EXPECT_EQ(shipModeIndex, positions[i]);
        EXPECT_EQ(shipDrawMode, modes[i]);
        EXPECT_EQ(shipModeChosen, 1);
    }
    EXPECT_EQ(glCallStrings(), Calls(4, redisplay[0]));
}

TEST(Input, UnlistedKeysOnlyRedisplay) {
    const unsigned char keys[] = {'a', 'A', 'Z', 'P', 27, 0, 13, 127, 255};
    for (unsigned char key : keys) {
        SCOPED_TRACE(int(key));
        resetViewState();
        keyboardKey(key, 0, 0);
        EXPECT_EQ(glCallStrings(), redisplay);
        for (float* f : viewFloats) EXPECT_EQ(*f, f == &eyeZ ? 10.0f : f == &sceneScale ? 1.0f : 0.0f);
        EXPECT_EQ(animating + orthoView + frontFaceCW + twoSideOn + localViewerOn + shipModeChosen, 0);
        EXPECT_EQ(depthTestOn + cullFaceOn + lightingOn + smoothShadeOn, 4);
    }
}

TEST(Input, OtherSpecialKeysDoNothingAtAll) {
    // Function keys, Page Up, Home, and Shift/Ctrl/Alt as freeglut reports them.
    for (int key : {GLUT_KEY_F1, GLUT_KEY_F12, GLUT_KEY_PAGE_UP, GLUT_KEY_HOME, 0x70, 0x71, 0x72, 0x74, -1}) {
        resetViewState();
        specialKey(key, 0, 0);
        EXPECT_TRUE(glCalls.empty()) << key;
        for (float* f : viewFloats) EXPECT_EQ(*f, f == &eyeZ ? 10.0f : f == &sceneScale ? 1.0f : 0.0f);
    }
    moveWithArrow(GLUT_KEY_F1);
    EXPECT_EQ(eyeX + shipX + shipY, 0.0f);
}

TEST(Input, LeftDragTurnsTheSceneFromTheInitialRecord) {
    resetViewState();
    // The start record reads as a left button held at (0, 0).
    mouseDrag(10, -5);
    EXPECT_EQ(sceneRotY, 2.0f);
    EXPECT_EQ(sceneRotX, -1.0f);
    EXPECT_EQ(lastMouseX, 10);
    EXPECT_EQ(lastMouseY, -5);

    mouseButton(GLUT_LEFT_BUTTON, GLUT_DOWN, 100, 100);
    EXPECT_EQ(dragState, GLUT_DOWN);
    mouseDrag(97, 104);
    EXPECT_EQ(sceneRotY, float(double(2.0f) - 3 / 5.0));
    EXPECT_EQ(sceneRotX, float(double(-1.0f) + 4 / 5.0));
    mouseButton(GLUT_LEFT_BUTTON, GLUT_UP, 50, 50);
    EXPECT_EQ(dragState, -1);
    EXPECT_EQ(glCallStrings(), Calls(4, redisplay[0]));

    // After the release no drag turns anything; other buttons are ignored.
    glDoubleReset();
    const float rx = sceneRotX, ry = sceneRotY;
    mouseButton(GLUT_RIGHT_BUTTON, GLUT_DOWN, 0, 0);
    mouseButton(GLUT_MIDDLE_BUTTON, GLUT_UP, 0, 0);
    mouseButton(3, GLUT_DOWN, 0, 0);  // wheel
    mouseDrag(400, 400);
    EXPECT_TRUE(glCalls.empty());
    EXPECT_EQ(sceneRotX, rx);
    EXPECT_EQ(sceneRotY, ry);
    EXPECT_EQ(lastMouseX, 97);
}
