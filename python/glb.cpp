// Mesh.save_glb: a kel.Mesh written as glTF 2.0 by kelSaveGLB. The mesh's
// arrays are lent to kel as they are (copied only when not already
// contiguous float32 and uint32), its ranges and materials rebuilt as kel's
// records for the length of the call.
#include <deque>

#include "kel_py.h"

namespace kelpy {

namespace {

template <typename T>
using Array = py::array_t<T, py::array::c_style | py::array::forcecast>;

// The records a KelMesh borrows, and the strings they point into (a deque,
// so that adding one never moves another).
struct Borrowed {
    std::vector<py::object> arrays;
    std::vector<KelMeshRange> ranges;
    std::vector<KelMaterial> materials;
    std::deque<std::string> strings;

    char* keep(const py::handle& text) {
        if (text.is_none()) return nullptr;
        strings.push_back(text.cast<std::string>());
        return &strings.back()[0];
    }

    // The data of `value` as an array of `width` columns (0: one dimension),
    // null for None; *rows gets its rows.
    template <typename T>
    T* array(const py::object& value, size_t width, size_t* rows, const char* what) {
        if (value.is_none()) return nullptr;
        Array<T> a = Array<T>::ensure(value);
        if (!a || (width ? a.ndim() != 2 || size_t(a.shape(1)) != width : a.ndim() != 1))
            throw py::value_error(std::string("Mesh.") + what + " has the wrong shape");
        *rows = size_t(a.shape(0));
        arrays.push_back(a);
        return const_cast<T*>(a.data());
    }
};

void copy3(const py::handle& from, float* to) {
    py::tuple t = py::tuple(py::reinterpret_borrow<py::object>(from));
    for (size_t i = 0; i < 3 && i < t.size(); i++) to[i] = t[i].cast<float>();
}

KelMaterial material(Borrowed& b, const py::handle& m) {
    static const char* const kinds[KEL_MAP_KINDS] = {
        "ambient",      "diffuse",  "specular",   "shininess", "dissolve", "bump",  "normal",
        "displacement", "emission", "reflection", "roughness", "metallic", "sheen",
    };
    KelMaterial k = {};
    k.name = b.keep(m.attr("name"));
    copy3(m.attr("diffuse"), k.diffuse);
    copy3(m.attr("ambient"), k.ambient);
    copy3(m.attr("specular"), k.specular);
    copy3(m.attr("emission"), k.emission);
    k.diffuse[3] = k.ambient[3] = k.specular[3] = k.emission[3] = 1;
    k.shininess = m.attr("shininess").cast<float>();
    k.dissolve = m.attr("dissolve").cast<float>();
    k.ior = m.attr("ior").cast<float>();
    k.illum = m.attr("illum").cast<int>();
    k.roughness = m.attr("roughness").cast<float>();
    k.metallic = m.attr("metallic").cast<float>();
    k.sheen = m.attr("sheen").cast<float>();
    k.clearcoat = m.attr("clearcoat").cast<float>();
    k.clearcoatRoughness = m.attr("clearcoat_roughness").cast<float>();
    py::dict maps = m.attr("maps");
    for (int i = 0; i < KEL_MAP_KINDS; i++) {
        if (!maps.contains(kinds[i])) continue;
        py::object x = maps[kinds[i]];
        KelMap& map = k.maps[i];
        map.name = b.keep(x.attr("name"));
        copy3(x.attr("offset"), map.offset);
        copy3(x.attr("scale"), map.scale);
        map.bumpScale = x.attr("bump_scale").cast<float>();
        map.clamp = x.attr("clamp").cast<bool>();
        map.options = b.keep(x.attr("options"));
    }
    k.diffuseMap = k.maps[KEL_MAP_DIFFUSE].name;
    k.bumpMap = k.maps[KEL_MAP_BUMP].name;
    return k;
}

void saveGLB(const py::object& mesh, const py::object& path, const py::object& textureDir, bool metallicRoughness,
             bool unlit, bool noTextures, py::object progress, py::object warning) {
    Borrowed b;
    KelMesh k = {};
    size_t n = 0, rows = 0;
    k.positions = b.array<float>(mesh.attr("positions"), 3, &n, "positions");
    if (!k.positions) throw py::value_error("Mesh.positions is None");
    const struct {
        const char* name;
        float** slot;
        size_t width;
    } vertexArrays[] = {{"normals", &k.normals, 3}, {"texcoords", &k.texcoords, 2}, {"colors", &k.colors, 3}};
    for (const auto& a : vertexArrays) {
        *a.slot = b.array<float>(mesh.attr(a.name), a.width, &rows, a.name);
        if (*a.slot && rows != n) throw py::value_error(std::string("Mesh.") + a.name + " has not one row a vertex");
    }
    if (n > UINT32_MAX) throw py::value_error("a mesh has at most 2**32 - 1 vertices");
    k.numvertices = unsigned(n);
    size_t count = 0;
    k.indices = b.array<unsigned>(mesh.attr("indices"), 3, &count, "indices");
    k.numindices = unsigned(3 * count);
    k.lineindices = b.array<unsigned>(mesh.attr("lines"), 2, &count, "lines");
    k.numlineindices = k.lineindices ? unsigned(2 * count) : 0;
    k.pointindices = b.array<unsigned>(mesh.attr("points"), 0, &count, "points");
    k.numpointindices = k.pointindices ? unsigned(count) : 0;
    for (const py::handle r : py::list(mesh.attr("ranges"))) {
        py::tuple t = py::reinterpret_borrow<py::tuple>(r);
        b.ranges.push_back({3 * t[0].cast<unsigned>(), 3 * t[1].cast<unsigned>(), t[2].cast<unsigned>(), b.keep(t[3])});
    }
    for (const py::handle m : py::list(mesh.attr("materials"))) b.materials.push_back(material(b, m));
    k.ranges = b.ranges.data();
    k.numranges = unsigned(b.ranges.size());
    k.materials = b.materials.empty() ? nullptr : b.materials.data();
    k.nummaterials = unsigned(b.materials.size());

    // The load's callbacks serve a save as well: progress, warnings, Ctrl-C.
    Load calls(0, false, false, 0, std::move(progress), std::move(warning), py::none());
    KelGLBOptions options = {};
    options.metallicRoughness = metallicRoughness;
    options.unlit = unlit;
    options.noTextures = noTextures;
    std::string dir = textureDir.is_none() ? std::string()
                                           : py::module_::import("os").attr("fsencode")(textureDir).cast<std::string>();
    options.textureDir = dir.c_str();
    options.progress = calls.options.progress;
    options.warning = calls.options.warning;
    options.user = &calls;
    std::string file = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    KelError error;
    int status;
    {
        py::gil_scoped_release release;
        status = kelSaveGLB(&k, file.c_str(), &options, &error);
    }
    calls.finish(status == KEL_OK, error, path);
}

}  // namespace

void defineGLB(py::module_& m) {
    using namespace pybind11::literals;
    m.def("_save_glb", &saveGLB, "mesh"_a, "path"_a, "texture_dir"_a, "metallic_roughness"_a, "unlit"_a,
          "no_textures"_a, "progress"_a, "warning"_a);
}

}  // namespace kelpy
