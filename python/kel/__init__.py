"""kel: Wavefront OBJ and MTL files into numpy arrays.

    import kel
    mesh = kel.load_mesh("model.obj")   # what the file has
    mesh.positions, mesh.normals, mesh.texcoords, mesh.indices, mesh.ranges

load_mesh and load_mesh_bytes give a kel.Mesh: arrays ready for vertex
buffers (one vertex per distinct combination of the file's indices,
0-based), every face kept (polygons are split into triangles), runs of
triangles per group and material (Mesh.ranges) and the materials with their
texture maps. load gives a kel.Model: the file's own 1-based tables, the
groups, objects, smoothing groups, lines and points, with operations
(normals, welding, transforms) and saving back to OBJ.

Modes: kel.NONE, kel.FLAT (a facet normal per triangle), kel.SMOOTH (the
file's normals), kel.TEXTURE, kel.VERTEX_COLOR, OR-ed together; with
kel.IF_PRESENT the flags the file cannot serve are dropped silently. None
means kel.SMOOTH | kel.TEXTURE | kel.VERTEX_COLOR | kel.IF_PRESENT.

Failures raise kel.Error (also FileNotFoundError, IsADirectoryError,
PermissionError or MemoryError where that applies); warnings go to the
warnings module as kel.Warning, or to the warning callback. Loads release
the GIL while kel reads, so threads load files in parallel.
"""

# The arrays are numpy's: importing it here, with the module, keeps its
# import (tens of milliseconds) out of the first load.
import numpy as _numpy  # noqa: F401

from ._types import (
    ERROR_CANCELLED,
    ERROR_ENCODING,
    ERROR_INDEX,
    ERROR_IO,
    ERROR_LIBRARY,
    ERROR_LIMIT,
    ERROR_MEMORY,
    ERROR_OPEN,
    ERROR_STATEMENT,
    ERROR_SYNTAX,
    OK,
    Error,
    Group,
    Map,
    Material,
    Mesh,
    Object,
    Range,
    Warning,
)
from ._kel import (
    COLOR,
    FLAT,
    IF_PRESENT,
    MATERIAL,
    NONE,
    SMOOTH,
    TEXTURE,
    VERSION,
    VERTEX_COLOR,
    Model,
    load,
    load_mesh,
    load_mesh_bytes,
)

__version__ = "%d.%d.%d" % VERSION

__all__ = [
    "load_mesh",
    "load_mesh_bytes",
    "load",
    "Mesh",
    "Model",
    "Range",
    "Material",
    "Map",
    "Group",
    "Object",
    "Error",
    "Warning",
    "NONE",
    "FLAT",
    "SMOOTH",
    "TEXTURE",
    "COLOR",
    "MATERIAL",
    "VERTEX_COLOR",
    "IF_PRESENT",
    "OK",
    "ERROR_OPEN",
    "ERROR_LIBRARY",
    "ERROR_INDEX",
    "ERROR_STATEMENT",
    "ERROR_MEMORY",
    "ERROR_IO",
    "ERROR_CANCELLED",
    "ERROR_ENCODING",
    "ERROR_LIMIT",
    "ERROR_SYNTAX",
    "VERSION",
]

for _name in ("Mesh", "Range", "Material", "Map", "Group", "Object", "Error", "Warning", "Model"):
    globals()[_name].__module__ = "kel"
del _name
