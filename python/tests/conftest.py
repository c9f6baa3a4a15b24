"""Shared files of the kel module's tests, and a plain OBJ reader written
apart from kel to compare its results with."""

import pytest

# Quads and a pentagon, v/vt/vn indexed apart (texture coordinate i is not
# vertex i's), negative indices, two groups taking turns, three materials,
# a face before any group or material.
SCENE_OBJ = """mtllib scene.mtl
v 0 0 0
v 1 0 0
v 1 1 0
v 0 1 0
v 0 0 1
v 1 0 1
v 2 0.5 0.25
vt 0 0
vt 1 0
vt 1 1
vt 0 1
vt 0.5 0.5
vn 0 0 1
vn 0 1 0
vn 1 0 0
f 1/5/1 2/4/1 3/3/1
g walls
usemtl red
f 1/1/1 2/2/1 3/3/1 4/4/1
f -7/1/2 -6/2/2 -1/3/2 -2/4/2 -3/5/2
g floor
usemtl blue
f 5/5/3 6/4/3 7/3/3
g walls
f 2/1/1 3/2/2 7/3/3 6/5/1
usemtl glass
f 4/1/1 5/2/2 6/3/3
"""

SCENE_MTL = """newmtl red
Kd 1 0 0
Ns 10
newmtl blue
Kd 0 0 1
map_Kd -s 2 2 1 -clamp on blue tiles.png
map_Bump -bm 0.5 bumps.png
newmtl glass
Kd 0.9 0.9 1
d 0.25
Ni 1.5
"""


def plain_obj(text):
    """A plain reading of OBJ text: the vertex tables (0-based lists) and
    one (corners, group, material) per triangle, each corner a tuple of the
    0-based (v, vt, vn) indices (None where absent), polygons as fans from
    their first corner."""
    tables = {"v": [], "vt": [], "vn": []}
    triangles = []
    group, material = "default", "default"
    for line in text.splitlines():
        words = line.split()
        if not words:
            continue
        if words[0] in tables:
            tables[words[0]].append(tuple(float(x) for x in words[1:]))
        elif words[0] == "g":
            group = line[1:].strip()  # the rest of the line, without the blanks around it
        elif words[0] == "usemtl":
            material = line.split(None, 1)[1].strip()
        elif words[0] == "f":
            corners = []
            for word in words[1:]:
                refs = (word.split("/") + ["", ""])[:3]
                corner = []
                for kind, ref in zip(("v", "vt", "vn"), refs):
                    if not ref:
                        corner.append(None)
                        continue
                    i = int(ref)
                    corner.append(i - 1 if i > 0 else len(tables[kind]) + i)
                corners.append(tuple(corner))
            for k in range(1, len(corners) - 1):
                triangles.append(((corners[0], corners[k], corners[k + 1]), group, material))
    return tables, triangles


@pytest.fixture
def scene(tmp_path):
    """The path of SCENE_OBJ, its library beside it."""
    (tmp_path / "scene.mtl").write_text(SCENE_MTL)
    path = tmp_path / "scene.obj"
    path.write_text(SCENE_OBJ)
    return path


@pytest.fixture
def bare(tmp_path):
    """A file of positions and faces only."""
    path = tmp_path / "bare.obj"
    path.write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n")
    return path


def big_obj(path, rows):
    """A strip of 2 * rows triangles, positions only (about 60 bytes a row)."""
    with open(path, "w") as f:
        for i in range(rows):
            f.write("v %d 0 0\nv %d 1 0\n" % (i, i))
        for i in range(rows - 1):
            a = 2 * i + 1
            f.write("f %d %d %d\nf %d %d %d\n" % (a, a + 1, a + 2, a + 1, a + 3, a + 2))
    return path
