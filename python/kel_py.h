// The Python module kel._kel: what its sources share. load.cpp reads files
// and memory, arrays.cpp turns kel's buffers and records into numpy arrays
// and Python objects, model.cpp wraps KelModel.
#ifndef KEL_PYTHON_KEL_PY_H
#define KEL_PYTHON_KEL_PY_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kel/kel.h"

namespace kelpy {

namespace py = pybind11;

// The module kel._types, where the exception and record classes live.
py::module_ types();

// Raises the kel.Error (or subclass) for `error`; `filename` is the path
// concerned (for OSError's filename), or None.
[[noreturn]] void raise(const KelError& error, py::handle filename);

// The keywords every load takes, and the Python callbacks they bring. A
// load fills `options` with trampolines that reach the callbacks through
// `user`; they may run on kel's threads while the GIL is released.
struct Load {
    KelReadOptions options = {};
    py::object progress, warning, library;  // None when not given
    // The first Python exception a callback raised; the load is cancelled
    // and this is raised in place of kel's error.
    std::unique_ptr<py::error_already_set> pending;
    // Warnings, collected under the mutex while kel runs and sent on the
    // calling thread when it returns, so that they point at the caller.
    std::mutex lock;
    std::vector<std::pair<unsigned long, std::string>> warnings;
    // Buffers of the libraries the library callback gave, released after
    // the load.
    std::vector<Py_buffer> buffers;

    Load(unsigned threads, bool optionalLibrary, bool strict, unsigned long long maxInput, py::object progress,
         py::object warning, py::object library);
    ~Load();
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;
    // After kel returns (GIL held): raises a pending exception, sends the
    // warnings, raises kel's error when `ok` is false.
    void finish(bool ok, const KelError& error, py::handle filename);
};

// The mode word for `mode`: None is what the file has (KEL_SMOOTH |
// KEL_TEXTURE | KEL_VERTEX_COLOR | KEL_IF_PRESENT).
unsigned modeOf(const py::object& mode);

// A kel.Mesh made from `mesh`, whose arrays it takes over (the KelMesh is
// left with null pointers); the caller still deletes the KelMesh. `source`
// is the path (bytes) of the file it was read from, where save_glb looks
// for textures, or None.
py::object meshObject(KelMesh* mesh, py::object source);
// The kel.Material list for `count` materials.
py::list materialList(const KelMaterial* materials, unsigned count);
// A numpy array of `rows` x `width` (width 0: one dimension) over `data`,
// which the array owns from now on (freed with free()); null data gives
// None, or an empty array when `emptyIsArray`.
template <typename T>
py::object ownedArray(T* data, size_t rows, size_t width, bool emptyIsArray);

void defineLoads(py::module_& m);
void defineModel(py::module_& m);
void defineGLB(py::module_& m);

}  // namespace kelpy

#endif  // KEL_PYTHON_KEL_PY_H
