// kel.Model: a KelModel read with kel.load, its tables shown as numpy arrays
// over the model's own memory, its operations, meshes and saving.
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <type_traits>

#include "kel_py.h"
// (kelMeshMode) after pybind11, as load.cpp explains
#include "kel/kel_internal.h"

namespace kelpy {

namespace {

struct Model {
    KelModel* model = nullptr;
    // Tables that arrays show: an operation that would free one gives the
    // model a copy instead and keeps the old one here until the model goes,
    // so arrays taken before it stay valid (and keep their old values).
    std::set<const void*> shown;
    std::vector<void*> retired;

    explicit Model(KelModel* m) : model(m) {}
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;
    ~Model() {
        for (void* p : retired) free(p);
        if (model) kelDelete(model);
    }
    // Before an operation that replaces *table (of `entries` + 1 entries
    // of `width` floats).
    void retire(float** table, size_t entries, size_t width) {
        if (!*table || !shown.count(*table)) return;
        size_t bytes = (entries + 1) * width * sizeof(float);
        float* copy = static_cast<float*>(malloc(bytes));
        if (!copy) throw std::bad_alloc();
        memcpy(copy, *table, bytes);
        shown.erase(*table);
        retired.push_back(*table);
        *table = copy;
    }
};

// Runs a model operation; those that report a result (KEL_OK or
// KEL_ERROR_MEMORY) raise kel's MemoryError on failure.
template <typename Op>
void run(Op op) {
    if constexpr (std::is_void_v<decltype(op())>) {
        op();
    } else if (int code = op(); code != KEL_OK) {
        KelError error = {};
        error.code = code;
        snprintf(error.message, sizeof error.message, "kel: out of memory.");
        raise(error, py::none());
    }
}

Model& of(const py::object& self) { return self.cast<Model&>(); }

// A view of `rows` rows of `width` values of type T at `data` (one
// dimension when width is 0), spaced `stride` bytes apart (0: packed),
// that keeps `self` alive; read-only unless `writable`.
template <typename T>
py::object view(const py::object& self, const T* data, size_t rows, size_t width, size_t stride, bool writable,
                const void* table) {
    if (!data) return py::none();
    std::vector<py::ssize_t> shape{py::ssize_t(rows)},
        strides{py::ssize_t(stride ? stride : sizeof(T) * (width ? width : 1))};
    if (width) shape.push_back(py::ssize_t(width)), strides.push_back(sizeof(T));
    py::array_t<T> a(shape, strides, data, self);
    if (!writable) a.attr("setflags")(py::arg("write") = false);
    if (table) of(self).shown.insert(table);
    return std::move(a);
}

// A 1-based float table from entry 1 on.
py::object table(const py::object& self, float* data, unsigned count, size_t width) {
    return view<float>(self, data ? data + width : nullptr, count, width, 0, true, data);
}

// The triangles' indices of one kind (offset of the field in KelTriangle).
py::object triangleIndices(const py::object& self, size_t offset, size_t width) {
    const KelModel* m = of(self).model;
    const char* base = reinterpret_cast<const char*>(m->triangles);
    if (!base) return py::array_t<unsigned>(std::vector<py::ssize_t>{0, py::ssize_t(width ? width : 1)});
    return view<unsigned>(self, reinterpret_cast<const unsigned*>(base + offset), m->numtriangles, width,
                          sizeof(KelTriangle), false, nullptr);
}

// The mode flags a mesh of `m` can serve, by kel's own check; the warnings
// for the others become kel.Warning (or go nowhere under KEL_IF_PRESENT).
unsigned servedMode(const KelModel* m, unsigned mode) {
    Load calls(0, false, false, 0, py::none(), py::none(), py::none());
    const KelWarnings to = {calls.options.warning, &calls};
    mode = kelMeshMode(m, mode, &to);
    calls.finish(true, KelError{}, py::none());
    return mode;
}

py::object load(const py::object& path, unsigned threads, bool optionalLibrary, bool strict,
                unsigned long long maxInput, py::object progress, py::object warning) {
    const std::string file = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    Load ctx(threads, optionalLibrary, strict, maxInput, std::move(progress), std::move(warning), py::none());
    KelError error;
    KelModel* model;
    {
        py::gil_scoped_release nogil;
        model = kelLoadOBJ(file.c_str(), &ctx.options, &error);
    }
    std::unique_ptr<Model> owned(model ? new Model(model) : nullptr);
    ctx.finish(model != nullptr, error, path);
    return py::cast(owned.release(), py::return_value_policy::take_ownership);
}

void save(const py::object& self, const py::object& path, const py::object& mode, bool exact) {
    const KelModel* m = of(self).model;
    const std::string file = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    unsigned word = mode.is_none() ? KEL_SMOOTH | KEL_TEXTURE | KEL_MATERIAL | KEL_IF_PRESENT : mode.cast<unsigned>();
    Load ctx(0, false, false, 0, py::none(), py::none(), py::none());
    KelSaveOptions options = {};
    options.exact = exact;
    options.user = &ctx;
    options.warning = ctx.options.warning;
    KelError error;
    int code = kelSaveOBJWithOptions(m, file.c_str(), word, &options, &error);
    ctx.finish(code == KEL_OK, error, path);
}

py::object mesh(const py::object& self, const py::object& mode) {
    const KelModel* m = of(self).model;
    KelError error;
    KelMesh* made = kelMakeMesh(m, servedMode(m, modeOf(mode)), &error);
    if (!made) raise(error, py::none());
    std::unique_ptr<KelMesh, void (*)(KelMesh*)> owned(made, kelDeleteMesh);
    return meshObject(made, m->pathname ? py::object(py::bytes(m->pathname)) : py::object(py::none()));
}

py::list groups(const py::object& self) {
    py::object group = types().attr("Group");
    py::list list;
    for (const KelGroup* g = of(self).model->groups; g; g = g->next) {
        py::object triangles = view<unsigned>(self, g->triangles, g->numtriangles, 0, 0, false, nullptr);
        if (triangles.is_none()) triangles = py::array_t<unsigned>(0);
        list.append(group(py::str(g->name), triangles, g->material));
    }
    return list;
}

py::list objects(const py::object& self) {
    py::object object = types().attr("Object");
    py::list list;
    const KelModel* m = of(self).model;
    for (unsigned i = 0; i < m->numobjects; i++)
        list.append(object(py::str(m->objects[i].name), m->objects[i].first, m->objects[i].count));
    return list;
}

// Facet normals for the operations that need them, made when missing.
void needFacets(Model& m) {
    if (!m.model->facetnorms) run([&] { return kelFacetNormals(m.model); });
}

}  // namespace

void defineModel(py::module_& mod) {
    using namespace pybind11::literals;
    using Self = const py::object&;
    py::class_<Model>(mod, "Model", R"(A model as kel reads it (kel.load): the file's own tables.

vertices, normals, texcoords, colors: float32 arrays over the model's
  memory (no copies); row i is the file's entry i + 1; None when absent.
  Writable: changes go into the model.
facetnorms: float32 (t, 3) after facet_normals(), else None.
triangle_vertices, triangle_normals, triangle_texcoords: uint32 (t, 3),
  1-based indices into the tables above (0: none); triangle_facets (t,).
smoothing, trimaterials: uint32 (t,) or None; lines (l, 2) and points
  (p,): 1-based vertex indices, or None.
groups (kel.Group, list order), objects (kel.Object), materials
  (kel.Material copies).
Index arrays are read-only. An operation that replaces a table (weld, the
normals and texture operations) leaves arrays taken before it showing the
old values.)")
        .def_property_readonly("vertices",
                               [](Self s) { return table(s, of(s).model->vertices, of(s).model->numvertices, 3); })
        .def_property_readonly("normals",
                               [](Self s) { return table(s, of(s).model->normals, of(s).model->numnormals, 3); })
        .def_property_readonly("texcoords",
                               [](Self s) { return table(s, of(s).model->texcoords, of(s).model->numtexcoords, 2); })
        .def_property_readonly("colors",
                               [](Self s) { return table(s, of(s).model->colors, of(s).model->numvertices, 3); })
        .def_property_readonly("facetnorms",
                               [](Self s) { return table(s, of(s).model->facetnorms, of(s).model->numfacetnorms, 3); })
        .def_property_readonly("triangle_vertices",
                               [](Self s) { return triangleIndices(s, offsetof(KelTriangle, vindices), 3); })
        .def_property_readonly("triangle_normals",
                               [](Self s) { return triangleIndices(s, offsetof(KelTriangle, nindices), 3); })
        .def_property_readonly("triangle_texcoords",
                               [](Self s) { return triangleIndices(s, offsetof(KelTriangle, tindices), 3); })
        .def_property_readonly("triangle_facets",
                               [](Self s) { return triangleIndices(s, offsetof(KelTriangle, findex), 0); })
        .def_property_readonly("smoothing",
                               [](Self s) {
                                   const KelModel* m = of(s).model;
                                   return view<unsigned>(s, m->smoothing, m->numtriangles, 0, 0, false, nullptr);
                               })
        .def_property_readonly("trimaterials",
                               [](Self s) {
                                   const KelModel* m = of(s).model;
                                   return view<unsigned>(s, m->trimaterials, m->numtriangles, 0, 0, false, nullptr);
                               })
        .def_property_readonly("lines",
                               [](Self s) {
                                   const KelModel* m = of(s).model;
                                   return view<unsigned>(s, m->lines, m->numlines, 2, 0, false, nullptr);
                               })
        .def_property_readonly("points",
                               [](Self s) {
                                   const KelModel* m = of(s).model;
                                   return view<unsigned>(s, m->points, m->numpoints, 0, 0, false, nullptr);
                               })
        .def_property_readonly("groups", &groups)
        .def_property_readonly("objects", &objects)
        .def_property_readonly("materials",
                               [](Self s) { return materialList(of(s).model->materials, of(s).model->nummaterials); })
        .def("mesh", &mesh, "mode"_a = py::none(),
             "The kel.Mesh of the model as mode asks (None: what the model has). The model is not changed.")
        .def("save", &save, "path"_a, "mode"_a = py::none(), "exact"_a = false,
             "Writes the model as OBJ (and its MTL library with kel.MATERIAL). mode None: normals, texture "
             "coordinates and materials when the model has them. exact: written so that kel.load reads back "
             "the same tables, bit for bit.")
        .def(
            "facet_normals",
            [](Self s) {
                Model& m = of(s);
                m.retire(&m.model->facetnorms, m.model->numfacetnorms, 3);
                run([&] { return kelFacetNormals(m.model); });
            },
            "One unit normal per triangle, into facetnorms.")
        .def(
            "vertex_normals",
            [](Self s, float angle) {
                Model& m = of(s);
                needFacets(m);
                m.retire(&m.model->normals, m.model->numnormals, 3);
                run([&] { return kelVertexNormals(m.model, angle); });
            },
            "angle"_a = 90.0f,
            "Normals per corner with a crease angle in degrees (facet normals made first when missing).")
        .def(
            "smoothing_group_normals",
            [](Self s) {
                Model& m = of(s);
                needFacets(m);
                m.retire(&m.model->normals, m.model->numnormals, 3);
                run([&] { return kelSmoothingGroupNormals(m.model); });
            },
            "Normals from the smoothing groups (facet normals made first when missing).")
        .def(
            "unitize", [](Self s) { return kelUnitize(of(s).model); },
            "Centres the bounding box on the origin and scales to 2 / largest extent; returns the factor.")
        .def(
            "scale", [](Self s, float f) { kelScale(of(s).model, f); }, "factor"_a,
            "Multiplies every vertex component by factor.")
        .def(
            "translate", [](Self s, std::array<float, 3> offset) { kelTranslate(of(s).model, offset.data()); },
            "offset"_a, "Adds offset (3 numbers) to every vertex.")
        .def(
            "reverse_winding", [](Self s) { run([&] { return kelReverseWinding(of(s).model); }); },
            "Reverses every triangle's corner order and negates every normal.")
        .def(
            "weld",
            [](Self s, float epsilon) {
                Model& m = of(s);
                m.retire(&m.model->vertices, m.model->numvertices, 3);
                m.retire(&m.model->colors, m.model->numvertices, 3);
                run([&] { return kelWeld(m.model, epsilon); });
            },
            "epsilon"_a, "Merges vertices within epsilon of a kept vertex and renumbers the triangles.")
        .def(
            "linear_texture",
            [](Self s) {
                Model& m = of(s);
                m.retire(&m.model->texcoords, m.model->numtexcoords, 2);
                run([&] { return kelLinearTexture(m.model); });
            },
            "Texture coordinates from x and z projected to 0..1; coordinate i belongs to vertex i.")
        .def(
            "spheremap_texture",
            [](Self s) {
                Model& m = of(s);
                if (!m.model->normals) throw py::value_error("spheremap_texture needs normals (vertex_normals)");
                m.retire(&m.model->texcoords, m.model->numtexcoords, 2);
                run([&] { return kelSpheremapTexture(m.model); });
            },
            "Texture coordinates from the vertex normals through a sphere map.")
        .def(
            "dimensions",
            [](Self s) {
                float d[3];
                kelDimensions(of(s).model, d);
                return py::make_tuple(d[0], d[1], d[2]);
            },
            "The extents along x, y and z.");
    mod.def("load", &load, "path"_a, py::kw_only(), "threads"_a = 0, "optional_library"_a = false, "strict"_a = false,
            "max_input"_a = 0, "progress"_a = py::none(), "warning"_a = py::none(),
            "Reads an OBJ file into a kel.Model, keeping every table as the file has it. Keywords and errors as "
            "for load_mesh.");
}

}  // namespace kelpy
