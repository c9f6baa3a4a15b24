#include "app/state.h"

#include <cmath>

// Start-up: piValue first, then the ship model (same translation unit, so in
// this order, before main).
double piValue = 4.0 * std::atan(1.0);
KelModel* shipModel = kelReadOBJ("data/111.obj");

float frameCount = 0.0f;
int32_t animating = 0;

float sceneRotX = 0.0f, sceneRotY = 0.0f, sceneRotZ = 0.0f;
float sceneScale = 1.0f;
float scaleStep = 1.125f;

float eyeX = 0.0f, eyeY = 0.0f, eyeZ = 0.0f;
float centerX = 0.0f, centerY = 0.0f, centerZ = 0.0f;

float shipX = 0.0f, shipY = 0.0f, shipZ = 0.0f;
float shipAngleY = 0.0f, shipAngleZ = 0.0f;

int32_t orthoView = 0;
float orthoHalfSize = 3.0f;
int32_t windowWidth = 0, windowHeight = 0;

int32_t depthTestOn = 1;
int32_t cullFaceOn = 1;
int32_t lightingOn = 1;
int32_t smoothShadeOn = 1;
int32_t frontFaceCW = 0;
int32_t localViewerOn = 0;
int32_t twoSideOn = 0;

int32_t shipModeIndex = 1;
int32_t shipDrawMode = 2;
int32_t shipModeChosen = 0;

int32_t dragButton = 0;
int32_t dragState = 0;
int32_t lastMouseX = 0, lastMouseY = 0;

BmpImage textureImage = {0, 0, nullptr};
