// Drawing a mesh with OpenGL vertex arrays, range by range.
#include <GL/gl.h>

#include <cstdio>

#include "kel/kel_internal.h"

// glDrawElements of `count` indices, in pieces that a GLsizei can count,
// each of whole triangles or segments.
static void drawElements(GLenum primitive, const unsigned* indices, unsigned count) {
    const unsigned most = 0x7FFFFFF8;  // a multiple of 2 and 3
    for (unsigned done = 0; done < count; done += most) {
        unsigned n = count - done < most ? count - done : most;
        glDrawElements(primitive, GLsizei(n), GL_UNSIGNED_INT, indices + done);
    }
}

void kelDrawMesh(const KelMesh* mesh, unsigned mode) {
    assert(mesh);

    // Facet and vertex normals are one array in a mesh: with both flags it
    // is drawn once, so that pair needs no warning.
    static const char* const warnings[8] = {
        "kelDrawMesh() warning: flat render mode requested with no normals defined.\n",
        "kelDrawMesh() warning: smooth render mode requested with no normals defined.\n",
        "kelDrawMesh() warning: texture render mode requested with no texture coordinates defined.\n",
        nullptr,
        "kelDrawMesh() warning: color render mode requested with no materials defined.\n",
        "kelDrawMesh() warning: material render mode requested with no materials defined.\n",
        "kelDrawMesh() warning: color and material render mode requested using only material mode.\n",
        "kelDrawMesh() warning: vertex color render mode requested with no vertex colors defined.\n",
    };
    const KelModeTables tables = {mesh->normals != nullptr, mesh->normals != nullptr, mesh->texcoords != nullptr,
                                  mesh->materials != nullptr, mesh->colors != nullptr};
    mode = kelCheckModeTables(&tables, mode, warnings, nullptr);

    if (mode & KEL_COLOR)
        glEnable(GL_COLOR_MATERIAL);
    else if (mode & KEL_MATERIAL)
        glDisable(GL_COLOR_MATERIAL);

    // The arrays the mode asks for, each enabled for this call only.
    const struct {
        bool wanted;
        GLenum array;
    } arrays[4] = {{true, GL_VERTEX_ARRAY},
                   {(mode & (KEL_FLAT | KEL_SMOOTH)) != 0, GL_NORMAL_ARRAY},
                   {(mode & KEL_TEXTURE) != 0, GL_TEXTURE_COORD_ARRAY},
                   {(mode & KEL_VERTEX_COLOR) != 0, GL_COLOR_ARRAY}};
    glVertexPointer(3, GL_FLOAT, 0, mesh->positions);
    if (arrays[1].wanted) glNormalPointer(GL_FLOAT, 0, mesh->normals);
    if (arrays[2].wanted) glTexCoordPointer(2, GL_FLOAT, 0, mesh->texcoords);
    if (arrays[3].wanted) glColorPointer(3, GL_FLOAT, 0, mesh->colors);
    for (const auto& a : arrays)
        if (a.wanted) glEnableClientState(a.array);

    for (unsigned r = 0; r < mesh->numranges; r++) {
        const KelMeshRange* range = &mesh->ranges[r];
        if (mode & (KEL_MATERIAL | KEL_COLOR)) kelSetMaterial(&mesh->materials[range->material], mode);
        const unsigned* indices = mesh->indices + range->first;
        if (mode & KEL_WIREFRAME) {
            // Each triangle its own line loop, as kelDraw draws it: one
            // loop of a whole range would join the triangles.
            for (unsigned i = 0; i < range->count; i += 3)
                glDrawElements(GL_LINE_LOOP, 3, GL_UNSIGNED_INT, indices + i);
        } else {
            drawElements(GL_TRIANGLES, indices, range->count);
        }
    }

    bool enabled[4] = {arrays[0].wanted, arrays[1].wanted, arrays[2].wanted, arrays[3].wanted};
    if ((mode & KEL_LINES) && (mesh->numlineindices || mesh->numpointindices)) {
        // Segments and points carry positions and colours only: without
        // the normal and texture-coordinate arrays they take the current
        // normal and texture coordinate, as vertices sent alone do.
        for (int i = 1; i <= 2; i++)
            if (enabled[i]) glDisableClientState(arrays[i].array), enabled[i] = false;
        drawElements(GL_LINES, mesh->lineindices, mesh->numlineindices);
        drawElements(GL_POINTS, mesh->pointindices, mesh->numpointindices);
    }
    for (int i = 0; i < 4; i++)
        if (enabled[i]) glDisableClientState(arrays[i].array);
}
