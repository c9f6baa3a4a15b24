// The solar-system scene: GL setup, the sphere mesh and the frame.
#ifndef ORVANDEL_SCENE_SCENE_H
#define ORVANDEL_SCENE_SCENE_H

// Light, material and fog constants read by initScene.
extern const float lightModelAmbient[4];
extern const float lightPosition[4];
extern const float lightAmbient[4];
extern const float lightDiffuse[4];
extern const float lightSpecular[4];
extern const float spotDirection[3];
extern const float materialEmission[4];
extern const float fogColor[4];

struct SceneMaterial {
    float ambient[4];
    float diffuse[4];
    float specular[4];
    float shininess;
};
extern const SceneMaterial sceneMaterial;

// Texture object i + 1 is read from bodyImages[i].opened in the working
// directory; the build copies it there from textures/ under that name. The
// list stands in scene/bodies.def.
struct BodyImage {
    const char* texture;  // the file in the source tree's textures/
    const char* opened;   // the name the program opens (CP949 bytes)
};
constexpr unsigned bodyImageCount = 10;
extern const BodyImage bodyImages[bodyImageCount];

// Opens the program's window (500 x 500, double-buffered RGB with depth,
// titled "Orvandel") and registers displayScene and reshapeWindow. It starts
// GLUT, so it comes before any other GLUT call.
void openSceneWindow(int* argc, char** argv);

// Sets the GL state every frame is drawn in and makes texture objects 1 to 10
// from the body images in the working directory. Needs a current GL context.
void initScene();

// Builds, draws and frees a latitude-longitude sphere (stacks, slices >= 1).
void drawSphere(float radius, int stacks, int slices);
// Draws faceCount faces of cornersPerFace corners, each its own GL_POLYGON.
void drawFaces(const float* positions, const float* faceNormals, const int* vertexIndices, int faceCount,
               int cornersPerFace, const float* texCoords, const int* texIndices);

// The GLUT display callback: one whole frame.
void displayScene();

#endif  // ORVANDEL_SCENE_SCENE_H
