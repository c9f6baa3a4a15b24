"""kel.load_mesh and kel.load_mesh_bytes: arrays against a plain reading of
the file, modes and warnings, memory loads with libraries, arrays that
outlive their mesh."""

import gc
import warnings
from collections import Counter

import numpy as np
import pytest
from conftest import SCENE_MTL, SCENE_OBJ, plain_obj

import kel


def mesh_triangles(mesh):
    """Every triangle of the mesh with its group and material name: corners
    as tuples of their values (position, normal, texture coordinate)."""
    out = []
    names = [m.name for m in mesh.materials]
    for r in mesh.ranges:
        for t in range(r.first, r.first + r.count):
            corners = []
            for i in mesh.indices[t]:
                corner = [tuple(mesh.positions[i])]
                corner.append(tuple(mesh.normals[i]) if mesh.normals is not None else None)
                corner.append(tuple(mesh.texcoords[i]) if mesh.texcoords is not None else None)
                corners.append(tuple(corner))
            out.append((tuple(corners), r.group, names[r.material]))
    return out


def reference_triangles(text, normals=True, texcoords=True):
    tables, triangles = plain_obj(text)

    def values(corner):
        v, t, n = corner
        f32 = lambda xs: tuple(float(np.float32(x)) for x in xs)  # noqa: E731
        return (
            f32(tables["v"][v]),
            f32(tables["vn"][n]) if normals else None,
            f32(tables["vt"][t][:2]) if texcoords else None,
        )

    return [(tuple(values(c) for c in corners), g, m) for corners, g, m in triangles]


def test_arrays_hold_every_triangle_of_the_file_with_its_group_and_material(scene):
    for data in (lambda: kel.load_mesh(scene), lambda: kel.load_mesh_bytes(SCENE_OBJ.encode(), str(scene))):
        mesh = data()
        assert mesh.positions.dtype == np.float32 and mesh.positions.shape[1] == 3
        assert mesh.indices.dtype == np.uint32 and mesh.indices.shape[1] == 3
        assert mesh.normals.shape == mesh.positions.shape
        assert mesh.texcoords.shape == (len(mesh.positions), 2)
        assert mesh.colors is None and mesh.lines is None and mesh.points is None
        assert Counter(mesh_triangles(mesh)) == Counter(reference_triangles(SCENE_OBJ))
        # One vertex per distinct (v, vt, vn) the faces use.
        _, triangles = plain_obj(SCENE_OBJ)
        assert len(mesh.positions) == len({c for corners, _, _ in triangles for c in corners})
        # Ranges cover the indices once, in order, none empty.
        assert [r.first for r in mesh.ranges] == list(np.cumsum([0] + [r.count for r in mesh.ranges[:-1]]))
        assert sum(r.count for r in mesh.ranges) == len(mesh.indices) and all(r.count for r in mesh.ranges)


def test_materials_and_their_maps(scene):
    mesh = kel.load_mesh(scene)
    byname = {m.name: m for m in mesh.materials}
    assert set(byname) == {"default", "red", "blue", "glass"}
    assert byname["red"].diffuse == (1, 0, 0) and byname["red"].maps == {}
    assert byname["glass"].dissolve == 0.25 and byname["glass"].ior == 1.5
    blue = byname["blue"].maps
    assert set(blue) == {"diffuse", "bump"}
    assert blue["diffuse"] == kel.Map("blue tiles.png", (0, 0, 0), (2, 2, 1), 1.0, True, None)
    assert blue["bump"].name == "bumps.png" and blue["bump"].bump_scale == 0.5


def test_modes_pick_the_arrays_and_warn_for_what_is_missing(bare, capfd):
    cases = [
        # mode, normals, texcoords, warnings
        (None, False, False, 0),
        (kel.NONE, False, False, 0),
        (kel.FLAT, True, False, 0),
        (kel.SMOOTH | kel.TEXTURE, False, False, 2),
        (kel.SMOOTH | kel.TEXTURE | kel.IF_PRESENT, False, False, 0),
        (kel.SMOOTH | kel.FLAT | kel.IF_PRESENT, True, False, 0),
    ]
    for mode, normals, texcoords, count in cases:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            mesh = kel.load_mesh(bare, mode)
        assert (mesh.normals is not None, mesh.texcoords is not None) == (normals, texcoords), mode
        assert [w.category for w in caught] == [kel.Warning] * count, mode
        assert all(w.filename == __file__ for w in caught), "warnings point at the caller"
        # The callback takes them instead.
        got = []
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            kel.load_mesh(bare, mode, warning=lambda line, message: got.append((line, message)))
        assert len(got) == count and all(line == 0 and "warning" in message for line, message in got)
    # Flat normals are the triangles' own: unit, along z here.
    assert np.allclose(np.abs(kel.load_mesh(bare, kel.FLAT).normals), [0, 0, 1])
    assert capfd.readouterr().out == ""  # kel printed nothing


def test_memory_loads_find_libraries_in_a_dict_or_a_callable():
    asked = []

    def library(name):
        asked.append(name)
        return bytearray(SCENE_MTL.encode()) if name == "scene.mtl" else None

    expect = Counter(reference_triangles(SCENE_OBJ))
    for lib in ({"scene.mtl": SCENE_MTL.encode()}, library):
        for data in (SCENE_OBJ.encode(), bytearray(SCENE_OBJ.encode()), memoryview(SCENE_OBJ.encode())):
            mesh = kel.load_mesh_bytes(data, library=lib)
            assert Counter(mesh_triangles(mesh)) == expect
    assert asked and set(asked) == {"scene.mtl"}
    # No library: an error, or a warning when optional.
    with pytest.raises(kel.Error) as e:
        kel.load_mesh_bytes(SCENE_OBJ.encode(), library={})
    assert e.value.code == kel.ERROR_LIBRARY and e.value.line == 1
    with pytest.warns(kel.Warning):
        mesh = kel.load_mesh_bytes(SCENE_OBJ.encode(), library=lambda name: None, optional_library=True)
    assert {m.name for m in mesh.materials} == {"default"}
    # An exception in the callable ends the load and comes out unchanged.
    boom = LookupError("no such library")

    def failing(name):
        raise boom

    with pytest.raises(LookupError) as e:
        kel.load_mesh_bytes(SCENE_OBJ.encode(), library=failing)
    assert e.value is boom
    with pytest.raises(TypeError):
        kel.load_mesh_bytes(SCENE_OBJ.encode(), library=42)


def test_arrays_are_kels_buffers_and_outlive_the_mesh(scene):
    mesh = kel.load_mesh(scene)
    arrays = {k: getattr(mesh, k) for k in ("positions", "normals", "texcoords", "indices")}
    copies = {k: a.copy() for k, a in arrays.items()}
    for a in arrays.values():
        assert not a.flags.owndata and a.base is not None  # not copies
    del mesh
    gc.collect()
    kel.load_mesh(scene)  # reuses freed memory if the arrays had let theirs go
    for k, a in arrays.items():
        assert np.array_equal(a, copies[k]), k


def test_lines_and_points_and_colours():
    text = b"v 0 0 0 1 0 0\nv 1 0 0 0 1 0\nv 0 1 0\nv 5 5 5\nf 1 2 3\nl 1 4\np 4 2\n"
    mesh = kel.load_mesh_bytes(text)
    assert mesh.colors is not None and mesh.lines.shape == (1, 2) and mesh.points.shape == (2,)
    pos = {tuple(p) for p in mesh.positions[mesh.lines[0]]}
    assert pos == {(0, 0, 0), (5, 5, 5)}
    assert [tuple(p) for p in mesh.positions[mesh.points]] == [(5, 5, 5), (1, 0, 0)]
    colour = {tuple(p): tuple(c) for p, c in zip(mesh.positions.tolist(), mesh.colors.tolist())}
    assert colour[(0, 0, 0)] == (1, 0, 0) and colour[(0, 1, 0)] == (1, 1, 1)
