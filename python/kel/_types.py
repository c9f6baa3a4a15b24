"""The plain Python types of kel: errors, warnings and the records a load
returns. The extension module (kel._kel) builds them; they are defined here
so that they behave as ordinary Python classes (pickling, repr, subclassing
of the built-in exceptions)."""

import errno as _errno
import os as _os
from collections import namedtuple as _namedtuple

# kel's error codes (KelError::code).
OK = 0
ERROR_OPEN = 1
ERROR_LIBRARY = 2
ERROR_INDEX = 3
ERROR_STATEMENT = 4
ERROR_MEMORY = 5
ERROR_IO = 6
ERROR_CANCELLED = 7
ERROR_ENCODING = 8
ERROR_LIMIT = 9
ERROR_SYNTAX = 10


class Error(Exception):
    """A load or save that failed.

    Attributes: ``code`` (one of kel.ERROR_*), ``line`` (1-based line of the
    statement at fault, 0 when none is), ``system_error`` (the errno of the
    system call that failed, 0 when none did) and ``message`` (kel's text).

    A file that cannot be opened raises a subclass that is also the matching
    OSError (FileNotFoundError, IsADirectoryError, PermissionError, or
    OSError itself for other reasons) with ``errno`` and ``filename`` set;
    running out of memory raises one that is also a MemoryError."""

    code = OK
    line = 0
    system_error = 0
    message = ""

    def __str__(self):
        return self.message or super().__str__()


class Warning(UserWarning):  # noqa: A001 - the name is part of the API
    """A problem kel read past (a missing material, a mode flag the file
    cannot serve). ``line`` is the statement's line, 0 when none."""

    line = 0


class FileNotFound(Error, FileNotFoundError):
    """kel.Error and FileNotFoundError: the file does not exist."""


class IsADirectory(Error, IsADirectoryError):
    """kel.Error and IsADirectoryError: the path names a directory."""


class PermissionDenied(Error, PermissionError):
    """kel.Error and PermissionError: the file may not be read or written."""


class OpenError(Error, OSError):
    """kel.Error and OSError: the file cannot be opened for another reason."""


class OutOfMemory(Error, MemoryError):
    """kel.Error and MemoryError: an allocation failed; nothing was kept."""


_OPEN_ERRORS = {
    _errno.ENOENT: FileNotFound,
    _errno.EISDIR: IsADirectory,
    _errno.EACCES: PermissionDenied,
    _errno.EPERM: PermissionDenied,
}


def _error(code, line, system_error, message, filename=None):
    """The exception for a KelError (called by the extension module)."""
    if code == ERROR_MEMORY:
        e = OutOfMemory(message)
    elif system_error and code in (ERROR_OPEN, ERROR_LIBRARY, ERROR_IO):
        cls = _OPEN_ERRORS.get(system_error, OpenError)
        e = cls(system_error, _os.strerror(system_error), filename)
    else:
        e = Error(message)
    e.code, e.line, e.system_error, e.message = code, line, system_error, message
    return e


def _warning(line, message):
    """The kel.Warning for a warning of kel (called by the extension)."""
    w = Warning(message)
    w.line = line
    return w


Range = _namedtuple("Range", "first count material group")
Range.__doc__ = """A run of triangles drawn with one material: rows
[first, first + count) of Mesh.indices; ``material`` indexes
Mesh.materials (0 when there are none); ``group`` is the group's name: the
rest of the "g" line without the blanks around it ("walls"), or "default"
for faces before any "g"."""

Map = _namedtuple("Map", "name offset scale bump_scale clamp options")
Map.__doc__ = """A texture map of a material: the file ``name``, the options
-o (``offset``, 3 floats), -s (``scale``), -bm (``bump_scale``), -clamp
(``clamp``, bool) and every other option as written (``options``, a str or
None)."""

Group = _namedtuple("Group", "name triangles material")
Group.__doc__ = """A group of a Model: its ``name``, ``triangles`` (uint32
array of 0-based rows of the model's triangle arrays) and ``material`` (an
index into Model.materials)."""

Object = _namedtuple("Object", "name first count")
Object.__doc__ = """An "o" statement of a Model: triangles [first, first +
count) in file order."""


class Material:
    """A material of the MTL library.

    Colours (``diffuse``, ``ambient``, ``specular``, ``emission``) are tuples
    of 3 floats; ``shininess`` (0..128), ``dissolve`` (opacity), ``ior``,
    ``illum`` (-1 when not given), ``roughness``, ``metallic``, ``sheen``,
    ``clearcoat`` and ``clearcoat_roughness`` are numbers; ``maps`` is a dict
    from a kind ("ambient", "diffuse", "specular", "shininess", "dissolve",
    "bump", "normal", "displacement", "emission", "reflection",
    "roughness", "metallic", "sheen") to a kel.Map, holding only the maps
    the material names."""

    __slots__ = (
        "name",
        "diffuse",
        "ambient",
        "specular",
        "emission",
        "shininess",
        "dissolve",
        "ior",
        "illum",
        "roughness",
        "metallic",
        "sheen",
        "clearcoat",
        "clearcoat_roughness",
        "maps",
    )

    def __init__(self, **fields):
        for key in self.__slots__:
            setattr(self, key, fields[key])

    def __repr__(self):
        return "kel.Material(name=%r, diffuse=%r, maps=%r)" % (self.name, self.diffuse, sorted(self.maps))

    def __eq__(self, other):
        if not isinstance(other, Material):
            return NotImplemented
        return all(getattr(self, k) == getattr(other, k) for k in self.__slots__)


class Mesh:
    """Arrays ready for vertex buffers: one vertex per distinct combination
    of the file's indices, every table 0-based.

    ``positions`` float32 (n, 3); ``normals`` float32 (n, 3) or None;
    ``texcoords`` float32 (n, 2) or None; ``colors`` float32 (n, 3) or None;
    ``indices`` uint32 (t, 3); ``lines`` uint32 (l, 2) or None; ``points``
    uint32 (p,) or None; ``ranges`` a list of kel.Range in triangles;
    ``materials`` a list of kel.Material.

    The arrays are kel's own buffers, not copies: each keeps its memory
    alive for as long as it is referenced, whatever becomes of the mesh."""

    __slots__ = (
        "positions",
        "normals",
        "texcoords",
        "colors",
        "indices",
        "lines",
        "points",
        "ranges",
        "materials",
        "_source",
    )

    def __init__(self, **fields):
        for key in self.__slots__:
            setattr(self, key, fields.get(key))

    def save_glb(
        self,
        path,
        *,
        texture_dir=None,
        metallic_roughness=False,
        unlit=False,
        no_textures=False,
        progress=None,
        warning=None,
    ):
        """Writes the mesh as glTF 2.0: one binary file, or for a path ending
        in ".gltf" the JSON with its buffer in a ".bin" beside it. The file is
        replaced only once the new one is complete.

        texture_dir: where texture maps are looked up (str, bytes or
          os.PathLike); None: the folder of the file the mesh was read from
          (the current directory for a mesh of memory without a name).
        metallic_roughness: take Pr, Pm and their maps as they are, instead
          of converting Ns and Ks.
        unlit: mark every material KHR_materials_unlit.
        no_textures: write no texture.
        progress, warning: as for load_mesh (progress counts bytes written).

        Textures: PNG and JPEG files are embedded as they are, BMP and PPM
        converted to PNG; another kind or a missing file is a warning and is
        left out. Raises kel.Error as the loads do."""
        import os

        from . import _kel

        if texture_dir is None and self._source is not None:
            texture_dir = os.path.dirname(self._source)
        _kel._save_glb(self, path, texture_dir, metallic_roughness, unlit, no_textures, progress, warning)

    def __repr__(self):
        return "kel.Mesh(%d vertices, %d triangles, %d ranges, %d materials)" % (
            len(self.positions),
            len(self.indices),
            len(self.ranges),
            len(self.materials),
        )
