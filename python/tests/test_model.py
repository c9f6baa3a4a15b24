"""kel.load and kel.Model: the file's tables without copies, operations,
meshes and saving."""

import gc
import warnings

import numpy as np
import pytest
from conftest import SCENE_OBJ, plain_obj

import kel


def test_tables_are_the_files_own(scene):
    model = kel.load(scene)
    tables, triangles = plain_obj(SCENE_OBJ)
    assert np.array_equal(model.vertices, np.array(tables["v"], np.float32))
    assert np.array_equal(model.normals, np.array(tables["vn"], np.float32))
    assert np.array_equal(model.texcoords, np.array(tables["vt"], np.float32))
    assert model.colors is None and model.facetnorms is None and model.lines is None
    # 1-based indices: row i of a table is entry i + 1.
    for kind, column in (("triangle_vertices", 0), ("triangle_texcoords", 1), ("triangle_normals", 2)):
        expect = [[c[column] + 1 for c in corners] for corners, _, _ in triangles]
        assert sorted(getattr(model, kind).tolist()) == sorted(expect), kind
    names = [m.name for m in model.materials]
    assert sorted(names[i] for i in model.trimaterials) == sorted(m for _, _, m in triangles)
    assert sorted(g.name for g in model.groups) == ["default", "floor", "walls"]
    assert sum(len(g.triangles) for g in model.groups) == len(triangles)
    with pytest.raises(ValueError):
        model.triangle_vertices[0, 0] = 7  # index arrays are read-only


def test_operations_change_the_model_and_arrays_taken_before_stay_valid(scene):
    model = kel.load(scene)
    vertices = model.vertices
    model.translate((1, 2, 3))
    assert np.array_equal(vertices[0], [1, 2, 3])  # the same memory
    assert model.dimensions() == pytest.approx((3 + 1, 3 + 2, 4 + 3))  # |max| + |min| per axis
    model.facet_normals()
    assert model.facetnorms.shape == (len(model.triangle_vertices), 3)
    assert np.allclose(np.linalg.norm(model.facetnorms, axis=1), 1)
    model.vertex_normals(30)
    normals = model.normals
    # Weld replaces the vertex table: the old array keeps its values.
    before = vertices.copy()
    model.scale(0)  # every vertex the same
    model.weld(0.001)
    gc.collect()
    assert len(model.vertices) == 1 and np.array_equal(vertices, before * 0)
    model.smoothing_group_normals()
    assert normals.shape[1] == 3 and np.isfinite(normals).all()
    model.linear_texture()
    model.spheremap_texture()
    assert model.texcoords.shape[1] == 2
    model.reverse_winding()
    assert model.unitize() == 1.0  # a single point has no extent


def test_mesh_and_save_round_trip(scene, tmp_path, bare):
    model = kel.load(scene)
    mesh, loaded = model.mesh(), kel.load_mesh(scene)
    for k in ("positions", "normals", "texcoords", "indices"):
        assert np.array_equal(getattr(mesh, k), getattr(loaded, k)), k
    assert mesh.ranges == loaded.ranges
    out = tmp_path / "out" / "copy.obj"
    out.parent.mkdir()
    model.save(out, exact=True)
    again = kel.load(out)
    for k in ("vertices", "normals", "texcoords", "triangle_vertices", "triangle_normals", "trimaterials"):
        assert np.array_equal(getattr(again, k), getattr(model, k)), k
    assert again.materials == model.materials
    with pytest.raises(FileNotFoundError):
        model.save(tmp_path / "no" / "such" / "dir.obj")
    # A mode the model cannot serve warns through the warnings module.
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        plain = kel.load(bare).mesh(kel.SMOOTH | kel.FLAT)
    assert plain.normals is None and [w.category for w in caught] == [kel.Warning] * 2


def test_stubs_name_what_the_module_exports():
    import ast
    import pathlib

    stub = pathlib.Path(kel.__file__).with_name("__init__.pyi")
    tree = ast.parse(stub.read_text())
    named = {n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    named |= {t.id for n in tree.body if isinstance(n, ast.AnnAssign) for t in [n.target]}
    assert named == set(kel.__all__)
