// The GL state every frame is drawn in: light, material, fog, and the ten
// body textures read from the working directory.
#include <GL/gl.h>

#include <cstdlib>

#include "app/state.h"
#include "image/bmp.h"
#include "scene/scene.h"

const float lightModelAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
const float lightPosition[4] = {0.0f, 0.0f, 50.0f, 1.0f};
const float lightAmbient[4] = {0.0f, 0.0f, 0.0f, 1.0f};
const float lightDiffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const float lightSpecular[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const float spotDirection[3] = {-1.0f, -1.0f, -1.0f};
const float materialEmission[4] = {0.0f, 0.0f, 0.0f, 0.0f};
const float fogColor[4] = {0.2f, 0.2f, 0.2f, 1.0f};

const SceneMaterial sceneMaterial = {
    {0.91f, 0.1f, 0.11f, 1.0f},
    {0.43f, 0.37f, 0.57f, 1.0f},
    {0.33f, 0.33f, 0.52f, 1.0f},
    10.0f,
};

const BodyImage bodyImages[bodyImageCount] = {
#define BODY(texture, opened) {texture, opened},
#include "scene/bodies.def"
#undef BODY
};

void initScene() {
    glClearColor(0, 0, 0, 1);

    glLightModelf(GL_LIGHT_MODEL_LOCAL_VIEWER, float(localViewerOn));
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, float(twoSideOn));
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, lightModelAmbient);

    // Given once under the identity model-view matrix: the light stays fixed
    // relative to the viewer and, with a cutoff of 180, shines all around.
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
    glLightfv(GL_LIGHT0, GL_AMBIENT, lightAmbient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, lightDiffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, lightSpecular);
    glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, spotDirection);
    glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, 180.0f);
    glLightf(GL_LIGHT0, GL_SPOT_EXPONENT, 30.0f);

    glMaterialfv(GL_FRONT, GL_AMBIENT, sceneMaterial.ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, sceneMaterial.diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, sceneMaterial.specular);
    glMaterialfv(GL_FRONT, GL_SHININESS, &sceneMaterial.shininess);
    glMaterialfv(GL_FRONT, GL_EMISSION, materialEmission);

    glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
    glShadeModel(GL_SMOOTH);

    glEnable(GL_CULL_FACE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_NORMALIZE);
    glEnable(GL_TEXTURE_2D);

    // Back faces show as outlines whenever culling is switched off.
    glPolygonMode(GL_BACK, GL_LINE);
    glPolygonMode(GL_FRONT, GL_FILL);

    // Linear fog from 10 down to -10: nothing 10 or more units away is
    // fogged, nearer fragments blend towards fogColor. The density has no
    // effect in linear mode.
    glEnable(GL_FOG);
    glFogfv(GL_FOG_COLOR, fogColor);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogf(GL_FOG_START, 10.0f);
    glFogf(GL_FOG_END, -10.0f);
    glFogf(GL_FOG_DENSITY, 0.3f);

    for (GLuint i = 0; i < bodyImageCount; ++i) {
        // A failed read leaves the previous image in the record, which is
        // then uploaded again; a successful one replaces the pixel array, and
        // the old one, already copied by GL, is freed. The last array stays
        // in textureImage.
        unsigned char* previous = textureImage.pixels;
        readBmpImage(bodyImages[i].opened, &textureImage);
        if (textureImage.pixels != previous) free(previous);

        glBindTexture(GL_TEXTURE_2D, i + 1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        // The reader packs rows without gaps, whatever the width.
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, textureImage.width, textureImage.height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                     textureImage.pixels);
    }
}
