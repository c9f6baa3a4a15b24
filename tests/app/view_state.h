// Puts the shell's globals back to their start values (with eyeZ as the
// first perspective reshape of a 500 by 500 window leaves it) and clears the
// recording, so each test starts from a known state.
#ifndef ORVANDEL_TESTS_APP_VIEW_STATE_H
#define ORVANDEL_TESTS_APP_VIEW_STATE_H

#include "app/state.h"
#include "gldouble/gldouble.h"

inline void resetViewState() {
    frameCount = 0.0f;
    animating = 0;
    sceneRotX = sceneRotY = sceneRotZ = 0.0f;
    sceneScale = 1.0f;
    eyeX = eyeY = centerX = centerY = centerZ = 0.0f;
    eyeZ = 10.0f;
    shipX = shipY = shipZ = shipAngleY = shipAngleZ = 0.0f;
    orthoView = 0;
    windowWidth = windowHeight = 500;
    depthTestOn = cullFaceOn = lightingOn = smoothShadeOn = 1;
    frontFaceCW = localViewerOn = twoSideOn = 0;
    shipModeIndex = 1;
    shipDrawMode = 2;
    shipModeChosen = 0;
    dragButton = dragState = lastMouseX = lastMouseY = 0;
    glRecording = true;
    glDoubleReset();
}

#endif  // ORVANDEL_TESTS_APP_VIEW_STATE_H
