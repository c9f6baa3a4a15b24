// Loads from files and from memory: the keywords, the callbacks kel calls
// back into Python through, the GIL released while kel reads, and kel's
// errors turned into Python exceptions.
#include <cstdlib>

// pybind11 first: kel's internal headers turn assertions on (undefining
// NDEBUG), and pybind11 lays out some of its classes by NDEBUG, which must
// stand as in the module's other sources.
#include "kel_py.h"
// (kelMeshOfLoad)
#include "kel/kel_internal.h"

namespace kelpy {

py::module_ types() { return py::module_::import("kel._types"); }

void raise(const KelError& error, py::handle filename) {
    py::object e = types().attr("_error")(error.code, error.line, error.systemError, py::str(error.message),
                                          filename.ptr() ? py::reinterpret_borrow<py::object>(filename) : py::none());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
    throw py::error_already_set();
}

unsigned modeOf(const py::object& mode) {
    if (mode.is_none()) return KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR | KEL_IF_PRESENT;
    return mode.cast<unsigned>();
}

namespace {

// Called by kel at least every 16 MiB read: checks for Ctrl-C (on the main
// thread) and calls the progress callback; nonzero cancels the load.
int progressHook(void* user, unsigned long long done, unsigned long long total) {
    Load* load = static_cast<Load*>(user);
    py::gil_scoped_acquire gil;
    if (load->pending) return 1;
    try {
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!load->progress.is_none()) {
            py::object stop = load->progress(done, total);
            if (PyObject_IsTrue(stop.ptr()) == 1) {
                return 1;  // kel reports KEL_ERROR_CANCELLED
            }
        }
    } catch (py::error_already_set& e) {
        load->pending.reset(new py::error_already_set(std::move(e)));
        return 1;
    }
    return 0;
}

void warningHook(void* user, unsigned long line, const char* message) {
    Load* load = static_cast<Load*>(user);
    std::lock_guard<std::mutex> hold(load->lock);
    load->warnings.emplace_back(line, message);
}

// The library named `name` from the dict or callable; its buffer stays held
// until the load ends.
const void* libraryHook(void* user, const char* name, size_t* size) {
    Load* load = static_cast<Load*>(user);
    py::gil_scoped_acquire gil;
    if (load->pending) return nullptr;
    try {
        py::str key(name);
        py::object bytes =
            py::isinstance<py::dict>(load->library) ? load->library.attr("get")(key) : load->library(key);
        if (bytes.is_none()) return nullptr;
        Py_buffer view;
        if (PyObject_GetBuffer(bytes.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
        load->buffers.push_back(view);
        *size = size_t(view.len);
        return view.buf ? view.buf : "";
    } catch (py::error_already_set& e) {
        load->pending.reset(new py::error_already_set(std::move(e)));
        return nullptr;
    }
}

// The path as the file system's bytes (str, bytes or os.PathLike).
std::string pathBytes(const py::object& path) {
    py::object encoded = py::module_::import("os").attr("fsencode")(path);
    return encoded.cast<std::string>();
}

py::object loadMesh(const py::object& path, const py::object& mode, unsigned threads, bool optionalLibrary, bool strict,
                    unsigned long long maxInput, py::object progress, py::object warning) {
    const std::string file = pathBytes(path);
    const unsigned modeWord = modeOf(mode);
    Load load(threads, optionalLibrary, strict, maxInput, std::move(progress), std::move(warning), py::none());
    KelError error;
    KelMesh* mesh;
    {
        py::gil_scoped_release nogil;
        mesh = kelLoadMesh(file.c_str(), &load.options, modeWord, &error);
    }
    std::unique_ptr<KelMesh, void (*)(KelMesh*)> owned(mesh, kelDeleteMesh);
    load.finish(mesh != nullptr, error, path);
    return meshObject(mesh, py::bytes(file));
}

py::object loadMeshBytes(const py::buffer& data, const py::object& name, const py::object& mode, py::object library,
                         unsigned threads, bool optionalLibrary, bool strict, unsigned long long maxInput,
                         py::object progress, py::object warning) {
    Py_buffer view;
    if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    std::unique_ptr<Py_buffer, void (*)(Py_buffer*)> held(&view, PyBuffer_Release);
    const bool named = !name.is_none();
    const std::string file = named ? pathBytes(name) : std::string();
    const unsigned modeWord = modeOf(mode);
    if (!library.is_none() && !py::isinstance<py::dict>(library) && !PyCallable_Check(library.ptr()))
        throw py::type_error("library must be a dict, a callable or None");
    Load load(threads, optionalLibrary, strict, maxInput, std::move(progress), std::move(warning), library);
    KelError error;
    KelMesh* mesh = nullptr;
    {
        py::gil_scoped_release nogil;
        KelModel* model =
            kelLoadOBJFromMemory(view.buf, size_t(view.len), named ? file.c_str() : nullptr, &load.options, &error);
        if (model) mesh = kelMeshOfLoad(model, &load.options, modeWord, &error);
    }
    std::unique_ptr<KelMesh, void (*)(KelMesh*)> owned(mesh, kelDeleteMesh);
    load.finish(mesh != nullptr, error, name);
    return meshObject(mesh, named ? py::object(py::bytes(file)) : py::object(py::none()));
}

}  // namespace

Load::Load(unsigned threads, bool optionalLibrary, bool strict, unsigned long long maxInput, py::object progress_,
           py::object warning_, py::object library_)
    : progress(std::move(progress_)), warning(std::move(warning_)), library(std::move(library_)) {
    options.threads = threads;
    options.optionalLibrary = optionalLibrary;
    options.strict = strict;
    options.maxInput = maxInput;
    options.user = this;
    options.progress = progressHook;
    options.warning = warningHook;
    if (!library.is_none()) options.library = libraryHook;
}

Load::~Load() {
    for (Py_buffer& b : buffers) PyBuffer_Release(&b);
}

void Load::finish(bool ok, const KelError& error, py::handle filename) {
    if (pending) {
        pending->restore();
        throw py::error_already_set();
    }
    // Sent even when the load failed: they tell what came before the fault.
    for (const auto& w : warnings) {
        if (!warning.is_none()) {
            warning(w.first, w.second);
        } else {
            // Called from C, so stack level 1 is the caller's frame.
            py::module_::import("warnings")
                .attr("warn")(types().attr("_warning")(w.first, w.second), py::arg("stacklevel") = 1);
        }
    }
    if (!ok) raise(error, filename);
}

void defineLoads(py::module_& m) {
    using namespace pybind11::literals;
    m.def("load_mesh", &loadMesh, "path"_a, "mode"_a = py::none(), py::kw_only(), "threads"_a = 0,
          "optional_library"_a = false, "strict"_a = false, "max_input"_a = 0, "progress"_a = py::none(),
          "warning"_a = py::none(),
          R"(Reads an OBJ file (and its MTL libraries) into a kel.Mesh.

path: str, bytes or os.PathLike.
mode: None for what the file has (normals, texture coordinates and vertex
  colours when it has them, silently), or an int of kel.FLAT, kel.SMOOTH,
  kel.TEXTURE, kel.VERTEX_COLOR, kel.IF_PRESENT (kel.NONE: positions only).
threads: reading threads, 0 for as many as help.
optional_library: a missing or unreadable MTL library is a warning.
strict: a statement the format does not allow raises kel.Error.
max_input: the most bytes to read (0: no limit).
progress: progress(done, total) called at least every 16 MiB read; a true
  result cancels (kel.Error, code kel.ERROR_CANCELLED); an exception it
  raises (KeyboardInterrupt included) cancels and propagates.
warning: warning(line, message) for each warning; None sends them to the
  warnings module as kel.Warning.

The GIL is released while kel reads and builds the mesh. Raises kel.Error
(FileNotFoundError, IsADirectoryError, PermissionError or MemoryError too
where that applies).)");
    m.def("load_mesh_bytes", &loadMeshBytes, "data"_a, "name"_a = py::none(), "mode"_a = py::none(), py::kw_only(),
          "library"_a = py::none(), "threads"_a = 0, "optional_library"_a = false, "strict"_a = false,
          "max_input"_a = 0, "progress"_a = py::none(), "warning"_a = py::none(),
          R"(Reads OBJ text from memory into a kel.Mesh.

data: any bytes-like object (read in place, not copied).
name: stands for the file in messages; libraries are looked up on disk
  beside it. None: "<memory>", and no library is read from disk.
library: where MTL libraries come from: a dict of name to bytes, or a
  callable taking the name and returning bytes (or None when there is no
  such library). Other keywords as for load_mesh.)");
}

}  // namespace kelpy
