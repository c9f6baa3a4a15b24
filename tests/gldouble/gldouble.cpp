#include "gldouble.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/glut.h>

#include <charconv>
#include <cstring>

std::vector<GlCall> glCalls;
bool glRecording = true;
long glCallCount = 0;
static GLuint nextListName = 1;

void glDoubleReset() {
    glCalls.clear();
    glCallCount = 0;
    nextListName = 1;
}

std::string glFormat(const std::string& name, const std::vector<double>& args) {
    std::string s = name + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) s += ", ";
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, args[i]);
        s.append(buf, r.ptr);
    }
    return s + ")";
}

std::string GlCall::str() const {
    if (!text.empty()) return name + "(\"" + text + "\")";
    return glFormat(name, args);
}

std::vector<std::string> glCallStrings() {
    std::vector<std::string> out;
    out.reserve(glCalls.size());
    for (const GlCall& c : glCalls) out.push_back(c.str());
    return out;
}

static GlCall* record(const char* name, std::initializer_list<double> args) {
    ++glCallCount;
    if (!glRecording) return nullptr;
    glCalls.push_back(GlCall{name, args, {}, nullptr, {}});
    return &glCalls.back();
}

static void recordPointer(const char* name, const void* pointer) {
    if (GlCall* c = record(name, {})) c->pointer = pointer;
}

static void recordVector(const char* name, std::initializer_list<double> args, const GLfloat* v, int count) {
    if (GlCall* c = record(name, args))
        for (int i = 0; i < count; ++i) c->args.push_back(v[i]);
}

extern "C" {

// --- GL ---
void glClear(GLbitfield mask) { record("glClear", {double(mask)}); }
void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) { record("glClearColor", {r, g, b, a}); }
void glMatrixMode(GLenum mode) { record("glMatrixMode", {double(mode)}); }
void glLoadIdentity() { record("glLoadIdentity", {}); }
void glPushMatrix() { record("glPushMatrix", {}); }
void glPopMatrix() { record("glPopMatrix", {}); }
void glRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) { record("glRotatef", {a, x, y, z}); }
void glScalef(GLfloat x, GLfloat y, GLfloat z) { record("glScalef", {x, y, z}); }
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { record("glTranslatef", {x, y, z}); }
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h) {
    record("glViewport", {double(x), double(y), double(w), double(h)});
}
void glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
    record("glOrtho", {l, r, b, t, n, f});
}
void glEnable(GLenum cap) { record("glEnable", {double(cap)}); }
void glDisable(GLenum cap) { record("glDisable", {double(cap)}); }
void glFlush() { record("glFlush", {}); }
void glFrontFace(GLenum mode) { record("glFrontFace", {double(mode)}); }
void glShadeModel(GLenum mode) { record("glShadeModel", {double(mode)}); }
void glPolygonMode(GLenum face, GLenum mode) { record("glPolygonMode", {double(face), double(mode)}); }
void glColorMaterial(GLenum face, GLenum mode) { record("glColorMaterial", {double(face), double(mode)}); }
void glPixelStorei(GLenum pname, GLint param) { record("glPixelStorei", {double(pname), double(param)}); }

void glLightModelf(GLenum pname, GLfloat param) { record("glLightModelf", {double(pname), param}); }
void glLightModelfv(GLenum pname, const GLfloat* params) { recordVector("glLightModelfv", {double(pname)}, params, 4); }
void glLightf(GLenum light, GLenum pname, GLfloat param) { record("glLightf", {double(light), double(pname), param}); }
void glLightfv(GLenum light, GLenum pname, const GLfloat* params) {
    recordVector("glLightfv", {double(light), double(pname)}, params, pname == GL_SPOT_DIRECTION ? 3 : 4);
}
void glMaterialf(GLenum face, GLenum pname, GLfloat param) {
    record("glMaterialf", {double(face), double(pname), param});
}
void glMaterialfv(GLenum face, GLenum pname, const GLfloat* params) {
    recordVector("glMaterialfv", {double(face), double(pname)}, params, pname == GL_SHININESS ? 1 : 4);
}
void glFogf(GLenum pname, GLfloat param) { record("glFogf", {double(pname), param}); }
void glFogi(GLenum pname, GLint param) { record("glFogi", {double(pname), double(param)}); }
void glFogfv(GLenum pname, const GLfloat* params) { recordVector("glFogfv", {double(pname)}, params, 4); }

void glBindTexture(GLenum target, GLuint texture) { record("glBindTexture", {double(target), double(texture)}); }
void glTexParameteri(GLenum target, GLenum pname, GLint param) {
    record("glTexParameteri", {double(target), double(pname), double(param)});
}
void glTexEnvf(GLenum target, GLenum pname, GLfloat param) {
    record("glTexEnvf", {double(target), double(pname), param});
}
void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const GLvoid* pixels) {
    GlCall* c = record("glTexImage2D", {double(target), double(level), double(internalFormat), double(width),
                                        double(height), double(border), double(format), double(type)});
    if (!c) return;
    c->pointer = pixels;
    if (pixels && width > 0 && height > 0) {
        const unsigned char* p = static_cast<const unsigned char*>(pixels);
        c->data.assign(p, p + size_t(width) * size_t(height) * 3);
    }
}

void glBegin(GLenum mode) { record("glBegin", {double(mode)}); }
void glEnd() { record("glEnd", {}); }
void glVertex3fv(const GLfloat* v) { recordVector("glVertex3fv", {}, v, 3); }
void glNormal3fv(const GLfloat* v) { recordVector("glNormal3fv", {}, v, 3); }
void glTexCoord2fv(const GLfloat* v) { recordVector("glTexCoord2fv", {}, v, 2); }
void glColor3fv(const GLfloat* v) { recordVector("glColor3fv", {}, v, 3); }

// Vertex arrays: each pointer call keeps its pointer; glDrawElements keeps
// the index values after its three scalars.
void glVertexPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
    if (GlCall* c = record("glVertexPointer", {double(size), double(type), double(stride)})) c->pointer = pointer;
}
void glNormalPointer(GLenum type, GLsizei stride, const GLvoid* pointer) {
    if (GlCall* c = record("glNormalPointer", {double(type), double(stride)})) c->pointer = pointer;
}
void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
    if (GlCall* c = record("glTexCoordPointer", {double(size), double(type), double(stride)})) c->pointer = pointer;
}
void glColorPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
    if (GlCall* c = record("glColorPointer", {double(size), double(type), double(stride)})) c->pointer = pointer;
}
void glEnableClientState(GLenum array) { record("glEnableClientState", {double(array)}); }
void glDisableClientState(GLenum array) { record("glDisableClientState", {double(array)}); }
void glDrawElements(GLenum mode, GLsizei count, GLenum type, const GLvoid* indices) {
    GlCall* c = record("glDrawElements", {double(mode), double(count), double(type)});
    if (!c) return;
    c->pointer = indices;
    if (type == GL_UNSIGNED_INT)
        for (GLsizei i = 0; i < count; ++i) c->args.push_back(static_cast<const GLuint*>(indices)[i]);
}
void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
    record("glDrawArrays", {double(mode), double(first), double(count)});
}

GLuint glGenLists(GLsizei range) {
    GLuint name = nextListName;
    nextListName += GLuint(range);
    record("glGenLists", {double(range)});
    return name;
}
void glNewList(GLuint list, GLenum mode) { record("glNewList", {double(list), double(mode)}); }
void glEndList() { record("glEndList", {}); }
void glCallList(GLuint list) { record("glCallList", {double(list)}); }
void glDeleteLists(GLuint list, GLsizei range) { record("glDeleteLists", {double(list), double(range)}); }

// --- GLU ---
void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    record("gluPerspective", {fovy, aspect, zNear, zFar});
}
void gluLookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz, GLdouble ux, GLdouble uy,
               GLdouble uz) {
    record("gluLookAt", {ex, ey, ez, cx, cy, cz, ux, uy, uz});
}

// --- GLUT ---
void glutInit(int* argc, char** argv) {
    (void)argv;
    record("glutInit", {double(argc ? *argc : 0)});
}
void glutInitDisplayMode(unsigned int mode) { record("glutInitDisplayMode", {double(mode)}); }
void glutInitWindowSize(int width, int height) { record("glutInitWindowSize", {double(width), double(height)}); }
int glutCreateWindow(const char* title) {
    if (GlCall* c = record("glutCreateWindow", {})) c->text = title;
    return 1;
}
void glutDisplayFunc(void (*f)()) { recordPointer("glutDisplayFunc", reinterpret_cast<const void*>(f)); }
void glutReshapeFunc(void (*f)(int, int)) { recordPointer("glutReshapeFunc", reinterpret_cast<const void*>(f)); }
void glutKeyboardFunc(void (*f)(unsigned char, int, int)) {
    recordPointer("glutKeyboardFunc", reinterpret_cast<const void*>(f));
}
void glutSpecialFunc(void (*f)(int, int, int)) { recordPointer("glutSpecialFunc", reinterpret_cast<const void*>(f)); }
void glutMouseFunc(void (*f)(int, int, int, int)) { recordPointer("glutMouseFunc", reinterpret_cast<const void*>(f)); }
void glutMotionFunc(void (*f)(int, int)) { recordPointer("glutMotionFunc", reinterpret_cast<const void*>(f)); }
void glutIdleFunc(void (*f)()) { recordPointer("glutIdleFunc", reinterpret_cast<const void*>(f)); }
void glutMainLoop() { record("glutMainLoop", {}); }
void glutPostRedisplay() { record("glutPostRedisplay", {}); }
void glutSwapBuffers() { record("glutSwapBuffers", {}); }

}  // extern "C"
