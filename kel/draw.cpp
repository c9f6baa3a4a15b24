// Drawing a model with OpenGL in immediate mode, or into a display list.
#include <GL/gl.h>

#include <cstdio>

#include "kel/kel_internal.h"

void kelSetMaterial(const KelMaterial* material, unsigned mode) {
    if (mode & KEL_MATERIAL) {
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, material->ambient);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, material->diffuse);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, material->specular);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, material->shininess);
    }
    if (mode & KEL_COLOR) glColor3fv(material->diffuse);
}

// One block of `primitive` (GL_LINES, GL_POINTS) over `count` 1-based vertex
// indices, with their colours under KEL_VERTEX_COLOR; nothing when count is 0.
static void drawVertices(const KelModel* model, GLenum primitive, const unsigned* indices, size_t count,
                         unsigned mode) {
    if (!count) return;
    glBegin(primitive);
    for (size_t i = 0; i < count; i++) {
        if (mode & KEL_VERTEX_COLOR) glColor3fv(&model->colors[3 * size_t(indices[i])]);
        glVertex3fv(&model->vertices[3 * size_t(indices[i])]);
    }
    glEnd();
}

void kelDraw(KelModel* model, unsigned mode) {
    assert(model);
    assert(model->vertices);

    static const char* const warnings[8] = {
        "kelDraw() warning: flat render mode requested with no facet normals defined.\n",
        "kelDraw() warning: smooth render mode requested with no normals defined.\n",
        "kelDraw() warning: texture render mode requested with no texture coordinates defined.\n",
        "kelDraw() warning: flat render mode requested and smooth render mode requested (using smooth).\n",
        "kelDraw() warning: color render mode requested with no materials defined.\n",
        "kelDraw() warning: material render mode requested with no materials defined.\n",
        "kelDraw() warning: color and material render mode requested using only material mode.\n",
        "kelDraw() warning: vertex color render mode requested with no vertex colors defined.\n",
    };
    mode = kelCheckMode(model, mode, warnings, nullptr);

    if (mode & KEL_COLOR)
        glEnable(GL_COLOR_MATERIAL);
    else if (mode & KEL_MATERIAL)
        glDisable(GL_COLOR_MATERIAL);

    const bool wireframe = mode & KEL_WIREFRAME;
    const bool materials = mode & (KEL_MATERIAL | KEL_COLOR);
    for (const KelGroup* group = model->groups; group; group = group->next) {
        // A group's material is set at its start; a triangle of another
        // material (read from a usemtl inside the group) sets its own first.
        unsigned current = group->material;
        if (materials) kelSetMaterial(&model->materials[current], mode);
        if (!wireframe) glBegin(GL_TRIANGLES);
        for (unsigned i = 0; i < group->numtriangles; i++) {
            unsigned index = group->triangles[i];
            const KelTriangle* t = &model->triangles[index];
            if (materials && model->trimaterials && model->trimaterials[index] != current)
                kelSetMaterial(&model->materials[current = model->trimaterials[index]], mode);
            if (wireframe) glBegin(GL_LINE_LOOP);
            if (mode & KEL_FLAT) glNormal3fv(&model->facetnorms[3 * t->findex]);
            for (int k = 0; k < 3; k++) {
                if (mode & KEL_SMOOTH) glNormal3fv(&model->normals[3 * t->nindices[k]]);
                if (mode & KEL_TEXTURE) glTexCoord2fv(&model->texcoords[2 * t->tindices[k]]);
                if (mode & KEL_VERTEX_COLOR) glColor3fv(&model->colors[3 * t->vindices[k]]);
                glVertex3fv(&model->vertices[3 * t->vindices[k]]);
            }
            if (wireframe) glEnd();
        }
        if (!wireframe) glEnd();
    }
    if (mode & KEL_LINES) {
        drawVertices(model, GL_LINES, model->lines, 2 * size_t(model->numlines), mode);
        drawVertices(model, GL_POINTS, model->points, model->numpoints, mode);
    }
}

unsigned kelCompileList(KelModel* model, unsigned mode) {
    GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    kelDraw(model, mode);
    glEndList();
    return list;
}
