// The extension module kel._kel: the mode flags and the calls; the package
// kel (python/kel/__init__.py) gathers them with the Python types.
#include "kel_py.h"

PYBIND11_MODULE(_kel, m) {
    m.doc() = "kel's calls for Python; import kel, not this module.";
    m.attr("NONE") = KEL_NONE;
    m.attr("FLAT") = KEL_FLAT;
    m.attr("SMOOTH") = KEL_SMOOTH;
    m.attr("TEXTURE") = KEL_TEXTURE;
    m.attr("COLOR") = KEL_COLOR;
    m.attr("MATERIAL") = KEL_MATERIAL;
    m.attr("VERTEX_COLOR") = KEL_VERTEX_COLOR;
    m.attr("IF_PRESENT") = KEL_IF_PRESENT;
    m.attr("VERSION") = pybind11::make_tuple(KEL_VERSION_MAJOR, KEL_VERSION_MINOR, KEL_VERSION_PATCH);
    kelpy::defineLoads(m);
    kelpy::defineModel(m);
    kelpy::defineGLB(m);
}
