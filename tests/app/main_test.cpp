#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cmath>

#include "scene/scene.h"
#include "view_state.h"

int appMain(int argc, char** argv);

template <typename F>
static const void* fn(F* f) {
    return reinterpret_cast<const void*>(f);
}

TEST(Main, OpensTheWindowRegistersCallbacksThenSetsUpTheSceneAndLoops) {
    resetViewState();
    char name[] = "orvandel";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(appMain(1, argv), 0);

    const std::vector<std::string> calls = glCallStrings();
    ASSERT_GE(calls.size(), 12u);
    const std::vector<std::string> head = {"glutInit(1)",
                                           "glutInitDisplayMode(18)",
                                           "glutInitWindowSize(500, 500)",
                                           "glutCreateWindow(\"Orvandel\")",
                                           "glutDisplayFunc()",
                                           "glutReshapeFunc()",
                                           "glutKeyboardFunc()",
                                           "glutSpecialFunc()",
                                           "glutMouseFunc()",
                                           "glutMotionFunc()"};
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 10), head);
    EXPECT_EQ(glCalls[4].pointer, fn(displayScene));
    EXPECT_EQ(glCalls[5].pointer, fn(reshapeWindow));
    EXPECT_EQ(glCalls[6].pointer, fn(keyboardKey));
    EXPECT_EQ(glCalls[7].pointer, fn(specialKey));
    EXPECT_EQ(glCalls[8].pointer, fn(mouseButton));
    EXPECT_EQ(glCalls[9].pointer, fn(mouseDrag));

    // The scene setup runs between the registrations and the main loop (its
    // first call sets the clear colour); no idle callback, no frame drawn.
    EXPECT_EQ(calls[10], "glClearColor(0, 0, 0, 1)");
    EXPECT_EQ(calls.back(), "glutMainLoop()");
    for (const std::string& c : calls) {
        EXPECT_NE(c, "glutIdleFunc()");
        EXPECT_NE(c, "glutSwapBuffers()");
    }
}

TEST(Main, StartUpValuesAreReadyBeforeMain) {
    EXPECT_EQ(piValue, 4.0 * std::atan(1.0));
    ASSERT_NE(shipModel, nullptr);
    ASSERT_NE(shipModel->vertices, nullptr);
}
