// kel's buffers handed to numpy without copies, and its records (ranges,
// materials, maps) as Python objects.
#include <cstdlib>

#include "kel_py.h"

namespace kelpy {

template <typename T>
py::object ownedArray(T* data, size_t rows, size_t width, bool emptyIsArray) {
    std::vector<py::ssize_t> shape{py::ssize_t(rows)};
    if (width) shape.push_back(py::ssize_t(width));
    if (!data) return emptyIsArray ? py::object(py::array_t<T>(shape)) : py::object(py::none());
    // The capsule frees the buffer when the last array over it goes.
    py::capsule owner(data, [](void* p) { free(p); });
    return py::array_t<T>(shape, data, owner);
}

template py::object ownedArray<float>(float*, size_t, size_t, bool);
template py::object ownedArray<unsigned>(unsigned*, size_t, size_t, bool);

namespace {

// Takes the buffer at *slot over (nulling the mesh's pointer) as an array:
// a null buffer is None unless `required` (then an empty array), and so is
// an empty one when `noneWhenEmpty`.
template <typename T>
py::object take(T** slot, size_t rows, size_t width, bool required, bool noneWhenEmpty = false) {
    T* data = *slot;
    *slot = nullptr;
    if (rows == 0 && noneWhenEmpty) {
        free(data);
        return py::none();
    }
    return ownedArray(data, rows, width, required);
}

py::tuple vec3(const float* v) { return py::make_tuple(v[0], v[1], v[2]); }

py::object optionalStr(const char* s) { return s ? py::object(py::str(s)) : py::object(py::none()); }

}  // namespace

py::list materialList(const KelMaterial* materials, unsigned count) {
    static const char* const kinds[KEL_MAP_KINDS] = {
        "ambient",      "diffuse",  "specular",   "shininess", "dissolve", "bump",  "normal",
        "displacement", "emission", "reflection", "roughness", "metallic", "sheen",
    };
    py::module_ t = types();
    py::object material = t.attr("Material"), map = t.attr("Map");
    py::list list;
    for (unsigned i = 0; i < count; i++) {
        const KelMaterial& m = materials[i];
        py::dict maps;
        for (int k = 0; k < KEL_MAP_KINDS; k++) {
            const KelMap& x = m.maps[k];
            if (!x.name) continue;
            maps[kinds[k]] =
                map(x.name, vec3(x.offset), vec3(x.scale), x.bumpScale, bool(x.clamp), optionalStr(x.options));
        }
        using namespace pybind11::literals;
        list.append(material("name"_a = optionalStr(m.name), "diffuse"_a = vec3(m.diffuse),
                             "ambient"_a = vec3(m.ambient), "specular"_a = vec3(m.specular),
                             "emission"_a = vec3(m.emission), "shininess"_a = m.shininess, "dissolve"_a = m.dissolve,
                             "ior"_a = m.ior, "illum"_a = m.illum, "roughness"_a = m.roughness,
                             "metallic"_a = m.metallic, "sheen"_a = m.sheen, "clearcoat"_a = m.clearcoat,
                             "clearcoat_roughness"_a = m.clearcoatRoughness, "maps"_a = maps));
    }
    return list;
}

py::object meshObject(KelMesh* mesh, py::object source) {
    using namespace pybind11::literals;
    py::module_ t = types();
    py::object range = t.attr("Range");
    py::list ranges;
    for (unsigned r = 0; r < mesh->numranges; r++) {
        const KelMeshRange& x = mesh->ranges[r];
        ranges.append(range(x.first / 3, x.count / 3, x.material, py::str(x.group)));
    }
    py::list materials = materialList(mesh->materials, mesh->nummaterials);
    const size_t n = mesh->numvertices;
    return t.attr("Mesh")(
        "positions"_a = take(&mesh->positions, n, 3, true), "normals"_a = take(&mesh->normals, n, 3, false),
        "texcoords"_a = take(&mesh->texcoords, n, 2, false), "colors"_a = take(&mesh->colors, n, 3, false),
        "indices"_a = take(&mesh->indices, mesh->numindices / 3, 3, true),
        "lines"_a = take(&mesh->lineindices, mesh->numlineindices / 2, 2, false, true),
        "points"_a = take(&mesh->pointindices, mesh->numpointindices, 0, false, true), "ranges"_a = ranges,
        "materials"_a = materials, "_source"_a = source);
}

}  // namespace kelpy
