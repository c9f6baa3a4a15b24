"""Mesh.save_glb: the written glTF read back with a plain GLB reader."""

import json
import struct

import numpy as np
import pytest

import kel

PNG = b"\x89PNG\r\n\x1a\n" + b"not really, but recognised by its signature"


def read_glb(path):
    """The JSON document and the binary chunk of a GLB file."""
    data = open(path, "rb").read()
    magic, version, length = struct.unpack_from("<4sII", data, 0)
    assert (magic, version, length) == (b"glTF", 2, len(data))
    json_length, json_type = struct.unpack_from("<I4s", data, 12)
    assert json_type == b"JSON"
    document = json.loads(data[20 : 20 + json_length])
    bin_length, bin_type = struct.unpack_from("<I4s", data, 20 + json_length)
    assert bin_type == b"BIN\0"
    start = 28 + json_length
    return document, data[start : start + bin_length]


def accessor(document, blob, index):
    """An accessor's values as a numpy array of its rows."""
    a = document["accessors"][index]
    view = document["bufferViews"][a["bufferView"]]
    kinds = {5126: np.float32, 5125: np.uint32, 5123: np.uint16}
    width = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4}[a["type"]]
    offset = view.get("byteOffset", 0) + a.get("byteOffset", 0)
    values = np.frombuffer(blob, kinds[a["componentType"]], a["count"] * width, offset)
    return values.reshape(a["count"], width)


def test_a_mesh_read_back_from_its_glb(scene, tmp_path):
    (tmp_path / "bumps.png").write_bytes(PNG)
    mesh = kel.load_mesh(scene, kel.SMOOTH | kel.TEXTURE)
    out = tmp_path / "out" / "scene.glb"
    out.parent.mkdir()
    seen = []
    with pytest.warns(kel.Warning, match="tiles.png"):  # the diffuse map is missing
        mesh.save_glb(out, progress=lambda done, total: seen.append((done, total)))
    assert seen and seen[-1][0] == seen[-1][1] == out.stat().st_size
    document, blob = read_glb(out)

    # Every triangle of every range, corner by corner, with its material.
    names = [m["name"] for m in document["materials"]]
    triangles = []
    for node_mesh in document["meshes"]:
        for p in node_mesh["primitives"]:
            if p.get("mode", 4) != 4:
                continue
            a = p["attributes"]
            pos = accessor(document, blob, a["POSITION"])
            nor = accessor(document, blob, a["NORMAL"])
            tex = accessor(document, blob, a["TEXCOORD_0"])
            for t in accessor(document, blob, p["indices"]).reshape(-1, 3):
                corners = tuple(
                    (tuple(pos[i]), tuple(nor[i]), (float(tex[i][0]), float(1 - tex[i][1]))) for i in t
                )
                triangles.append((corners, names[p["material"]]))
    expect = []
    for r in mesh.ranges:
        for t in mesh.indices[r.first : r.first + r.count]:
            corners = tuple(
                (tuple(mesh.positions[i]), tuple(mesh.normals[i]), tuple(float(x) for x in mesh.texcoords[i]))
                for i in t
            )
            expect.append((corners, mesh.materials[r.material].name))
    assert sorted(triangles) == sorted(expect)
    # The bump map, found beside the OBJ file, is embedded byte for byte.
    image = document["images"][0]
    view = document["bufferViews"][image["bufferView"]]
    assert blob[view.get("byteOffset", 0) : view.get("byteOffset", 0) + view["byteLength"]] == PNG


def test_save_glb_failures_are_kel_errors(scene, tmp_path):
    mesh = kel.load_mesh(scene)
    with pytest.raises(kel.Error) as caught:
        mesh.save_glb(tmp_path / "missing" / "x.glb", no_textures=True)
    assert caught.value.code == kel.ERROR_OPEN and isinstance(caught.value, FileNotFoundError)
    with pytest.raises(ZeroDivisionError):
        mesh.save_glb(tmp_path / "x.glb", no_textures=True, progress=lambda done, total: 1 / 0)
    assert not (tmp_path / "x.glb").exists()
