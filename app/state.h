// The application's shared view state: a fixed set of globals through which
// the GLUT callbacks, the scene setup and the frame composition talk. Angles
// are in degrees; flags hold 0 or 1.
#ifndef ORVANDEL_APP_STATE_H
#define ORVANDEL_APP_STATE_H

#include <cstdint>

#include "image/bmp.h"
#include "kel/kel.h"

extern double piValue;       // 4 * atan(1), computed before main
extern KelModel* shipModel;  // read from "data/111.obj" before main; never freed

extern float frameCount;
extern int32_t animating;

extern float sceneRotX, sceneRotY, sceneRotZ;
extern float sceneScale;
extern float scaleStep;

// The camera block, in this order; displayScene adds 1.0 to eyeY and 7.0 to eyeZ.
extern float eyeX, eyeY, eyeZ;
extern float centerX, centerY, centerZ;

extern float shipX, shipY, shipZ;
extern float shipAngleY, shipAngleZ;

extern int32_t orthoView;
extern float orthoHalfSize;
extern int32_t windowWidth, windowHeight;

extern int32_t depthTestOn;
extern int32_t cullFaceOn;
extern int32_t lightingOn;
extern int32_t smoothShadeOn;
extern int32_t frontFaceCW;
extern int32_t localViewerOn;
extern int32_t twoSideOn;

// The ship's draw modes, cycled by the "m" key.
extern int32_t shipModeIndex;
extern int32_t shipDrawMode;
// 0 until "m" is first pressed: the ship is drawn as a wireframe until then,
// and with shipDrawMode afterwards.
extern int32_t shipModeChosen;

// The drag record of the left mouse button.
extern int32_t dragButton;
extern int32_t dragState;
extern int32_t lastMouseX, lastMouseY;

// The one record every texture image is read into.
extern BmpImage textureImage;

// GLUT callbacks of the application shell.
void idleAdvance();
void reshapeWindow(int width, int height);
void specialKey(int key, int x, int y);
void moveWithArrow(int key);
void keyboardKey(unsigned char key, int x, int y);
void mouseButton(int button, int state, int x, int y);
void mouseDrag(int x, int y);

#endif  // ORVANDEL_APP_STATE_H
