// What the glTF writer's parts share: JSON text, embedded images, the
// materials, and the vertex streams written from a mesh's own arrays.
#ifndef KEL_GLB_H
#define KEL_GLB_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kel/alloc.h"
#include "kel/kel.h"
#include "kel/out.h"

// --- JSON text ---------------------------------------------------------------

// `text` as a JSON string, quotes included: valid UTF-8 sequences as they
// are, every other byte taken as a Latin-1 character, control characters,
// quotes and backslashes escaped.
void kelJsonString(std::string& out, const char* text);
// A float as the fewest digits that read back as it; a NaN or an infinity,
// which JSON cannot hold, as 0.
void kelJsonNumber(std::string& out, float value);
void kelJsonCount(std::string& out, uint64_t value);

// --- Images --------------------------------------------------------------------

// An image to embed: its bytes (PNG or JPEG) and their media type.
struct KelGLBImage {
    std::string key;  // what it was made from, so that each file is embedded once
    std::string name;
    const char* mimeType;
    std::vector<unsigned char> bytes;
};

// The image of texture map `name` (looked up in `dir`, or as it is when
// absolute): PNG and JPEG bytes as they are, BMP and PPM converted to PNG.
// False after a warning (where `to` says) naming the material when the file
// cannot be read or is of another kind.
bool kelGLBReadImage(const char* dir, const char* name, const char* material, const KelWarnings* to,
                     KelGLBImage* image);
// The metallic-roughness image of two maps (either may be null, not both):
// the first channel of `roughness` in green, of `metallic` in blue, red
// white, as a PNG. False after a warning when a map cannot be read.
bool kelGLBPackMetallicRoughness(const char* dir, const char* roughness, const char* metallic, const char* material,
                                 const KelWarnings* to, KelGLBImage* image);

// --- Materials -----------------------------------------------------------------

struct KelGLBMaterials {
    std::string json;                 // the "materials" array, "" for a mesh without materials
    std::vector<KelGLBImage> images;  // texture i shows image i
    std::vector<bool> normalMapped;   // per material: it has a normal texture
    bool unlit;                       // a material is marked KHR_materials_unlit
};

// The mesh's materials as glTF materials, and the images their textures
// show (none with options->noTextures, and none without texture
// coordinates).
void kelGLBMaterials(const KelMesh* mesh, const KelGLBOptions& options, const KelWarnings* to,
                     KelGLBMaterials* materials);

// --- Vertex streams --------------------------------------------------------------

// The facts about a mesh the writer needs before its first byte: how many
// vertices the triangles use (those of lines and points come after them),
// the index range of each primitive, and the bounds of the positions.
struct KelGLBScan {
    unsigned triangleVertices;       // 1 + the largest triangle index, 0 without triangles
    std::vector<unsigned> rangeMax;  // the largest index of each range, then of the lines, then of the points
    // Whether every position, and every colour, is a finite number: the
    // format holds no others, so they are written as 0 (and bounded so).
    bool finitePositions, finiteColors;
    float low[3], high[3];             // bounds of the triangles' positions
    float allLow[3], allHigh[3];       // of every position
    std::vector<unsigned> zeroNormal;  // triangle vertices whose normal is zero (or not a number), ascending
    std::vector<float> facetNormal;    // for each of them the unit normal of a triangle that uses it
};
void kelGLBScanMesh(const KelMesh* mesh, KelGLBScan* scan);

// Unit tangents with their handedness (4 floats per vertex) for the
// triangles' vertices, from the triangles' texture coordinates as written
// (V flipped) and the written normals.
std::vector<float> kelGLBTangents(const KelMesh* mesh, const KelGLBScan& scan);

// Writers of the buffer's parts: each puts its bytes through `out` and adds
// them to progress->done. The normal of vertex v as written is
// kelGLBNormal.
void kelGLBNormal(const KelMesh* mesh, const KelGLBScan& scan, unsigned v, float n[3]);
void kelGLBPutBytes(KelOut* out, const void* bytes, size_t size);
// `count` floats, each NaN or infinity written as 0.
void kelGLBPutFinite(KelOut* out, const float* values, size_t count);
void kelGLBPutNormals(KelOut* out, const KelMesh* mesh, const KelGLBScan& scan);
void kelGLBPutTexcoords(KelOut* out, const KelMesh* mesh, unsigned count);
// Indices as 16 or 32 bits.
void kelGLBPutIndices(KelOut* out, const unsigned* indices, unsigned count, bool shortIndices);
// Zero bytes up to the next multiple of 4 of `size`.
void kelGLBPad(KelOut* out, uint64_t size);

#endif  // KEL_GLB_H
