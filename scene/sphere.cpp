// The latitude-longitude sphere every body is drawn with: built, drawn face
// by face in immediate mode and freed again on every call.
#include <GL/gl.h>

#include <climits>
#include <cmath>
#include <cstdlib>

#include "app/state.h"
#include "scene/scene.h"

void drawFaces(const float* positions, const float* faceNormals, const int* vertexIndices, int faceCount,
               int cornersPerFace, const float* texCoords, const int* texIndices) {
    size_t slot = 0;
    for (int f = 0; f < faceCount; ++f) {
        glBegin(GL_POLYGON);
        glNormal3fv(faceNormals + 3 * size_t(f));
        for (int c = 0; c < cornersPerFace; ++c, ++slot) {
            glTexCoord2fv(texCoords + 2 * size_t(texIndices[slot]));
            glVertex3fv(positions + 3 * size_t(vertexIndices[slot]));
        }
        glEnd();
    }
}

void drawSphere(float radius, int stacks, int slices) {
    // Nothing to draw for an empty grid, nor for one whose corner slots
    // would not fit the int indices.
    if (stacks < 1 || slices < 1) return;
    const size_t nv = (size_t(slices) + 1) * (size_t(stacks) + 1);
    const size_t nf = size_t(slices) * size_t(stacks);
    if (nv > INT_MAX || nf > INT_MAX / 4) return;

    // Five heap arrays, freed below on every path (free(nullptr) is a no-op).
    float* positions = static_cast<float*>(malloc(nv * 3 * sizeof(float)));
    float* normals = static_cast<float*>(malloc(nf * 3 * sizeof(float)));
    int* vertexIndices = static_cast<int*>(malloc(nf * 4 * sizeof(int)));
    float* texCoords = static_cast<float*>(malloc(nv * 2 * sizeof(float)));
    int* texIndices = static_cast<int*>(malloc(nf * 4 * sizeof(int)));

    if (positions && normals && vertexIndices && texCoords && texIndices) {
        const float dLon = float(2.0 * piValue / slices);
        const float dLat = float(piValue / stacks);

        // Grid points and face normals together, row by row from the south
        // pole. The angles are accumulated in float; the positions use
        // single-precision sine and cosine, the face normals the cell
        // centre's angles in double.
        //
        // (slices + 1) x (stacks + 1) points; point (j, k) is number
        // j * (slices + 1) + k, at latitude -90 + 180 j / stacks degrees and
        // longitude 360 k / slices, with texture coordinate (k / slices,
        // j / stacks). Column slices repeats column 0 on the seam; every
        // point of row 0 or row stacks sits on a pole.
        //
        //   j = stacks   S*T ....................... S*T + slices    north pole
        //     ...
        //   j = 1        S      S + 1      ...       S + slices
        //   j = 0        0      1          ...       slices          south pole
        //                k = 0  k = 1                k = slices
        //
        //   where S = slices + 1 and T = stacks
        float* pos = positions;
        float* tex = texCoords;
        float* nrm = normals;
        float lat = float(-0.5 * piValue);
        for (int j = 0; j <= stacks; ++j) {
            const float cosLat = cosf(lat), sinLat = sinf(lat);
            const double latC = double(lat) + double(dLat) / 2.0;
            const double cosLatC = cos(latC), sinLatC = sin(latC);
            float lon = 0.0f;
            for (int k = 0; k <= slices; ++k) {
                *pos++ = radius * cosLat * cosf(lon);
                *pos++ = radius * cosLat * sinf(lon);
                *pos++ = radius * sinLat;
                *tex++ = float(k) / float(slices);
                *tex++ = float(j) / float(stacks);
                if (j < stacks && k < slices) {
                    const double lonC = double(lon) + double(dLon) / 2.0;
                    const float centre[3] = {float(radius * cosLatC * cos(lonC)), float(radius * cosLatC * sin(lonC)),
                                             float(radius * sinLatC)};
                    for (float c : centre) *nrm++ = c / radius;
                }
                lon += dLon;
            }
            lat += dLat;
        }

        // Corners (j, k), (j, k + 1), (j + 1, k + 1), (j + 1, k): counter-
        // clockwise seen from outside. g steps over the seam column after
        // each row.
        //
        //   g + slices + 1 <-- g + slices + 2     row j + 1
        //         |                  ^
        //         v                  |
        //         g -------------> g + 1          row j
        int* vi = vertexIndices;
        int* ti = texIndices;
        int g = 0;
        for (int j = 0; j < stacks; ++j, ++g) {
            for (int k = 0; k < slices; ++k, ++g) {
                const int corners[4] = {g, g + 1, g + slices + 2, g + slices + 1};
                for (int c : corners) *vi++ = *ti++ = c;
            }
        }

        drawFaces(positions, normals, vertexIndices, int(nf), 4, texCoords, texIndices);
    }

    free(positions);
    free(normals);
    free(vertexIndices);
    free(texCoords);
    free(texIndices);
}
