# Type stubs of the kel module, for editors and type checkers.
import os
from typing import Callable, Dict, List, Mapping, NamedTuple, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, os.PathLike]
_Progress = Optional[Callable[[int, int], object]]
_WarningCallback = Optional[Callable[[int, str], object]]
_Library = Union[None, Mapping[str, bytes], Callable[[str], Optional[bytes]]]
_F32 = npt.NDArray[np.float32]
_U32 = npt.NDArray[np.uint32]
_Vec3 = Tuple[float, float, float]

NONE: int
FLAT: int
SMOOTH: int
TEXTURE: int
COLOR: int
MATERIAL: int
VERTEX_COLOR: int
IF_PRESENT: int
VERSION: Tuple[int, int, int]
OK: int
ERROR_OPEN: int
ERROR_LIBRARY: int
ERROR_INDEX: int
ERROR_STATEMENT: int
ERROR_MEMORY: int
ERROR_IO: int
ERROR_CANCELLED: int
ERROR_ENCODING: int
ERROR_LIMIT: int
ERROR_SYNTAX: int

class Error(Exception):
    code: int
    line: int
    system_error: int
    message: str

class Warning(UserWarning):
    line: int

class Range(NamedTuple):
    first: int
    count: int
    material: int
    group: str

class Map(NamedTuple):
    name: str
    offset: _Vec3
    scale: _Vec3
    bump_scale: float
    clamp: bool
    options: Optional[str]

class Group(NamedTuple):
    name: str
    triangles: _U32
    material: int

class Object(NamedTuple):
    name: str
    first: int
    count: int

class Material:
    name: Optional[str]
    diffuse: _Vec3
    ambient: _Vec3
    specular: _Vec3
    emission: _Vec3
    shininess: float
    dissolve: float
    ior: float
    illum: int
    roughness: float
    metallic: float
    sheen: float
    clearcoat: float
    clearcoat_roughness: float
    maps: Dict[str, Map]

class Mesh:
    positions: _F32
    normals: Optional[_F32]
    texcoords: Optional[_F32]
    colors: Optional[_F32]
    indices: _U32
    lines: Optional[_U32]
    points: Optional[_U32]
    ranges: List[Range]
    materials: List[Material]
    def save_glb(
        self,
        path: _Path,
        *,
        texture_dir: Optional[_Path] = ...,
        metallic_roughness: bool = ...,
        unlit: bool = ...,
        no_textures: bool = ...,
        progress: _Progress = ...,
        warning: _WarningCallback = ...,
    ) -> None: ...

class Model:
    @property
    def vertices(self) -> _F32: ...
    @property
    def normals(self) -> Optional[_F32]: ...
    @property
    def texcoords(self) -> Optional[_F32]: ...
    @property
    def colors(self) -> Optional[_F32]: ...
    @property
    def facetnorms(self) -> Optional[_F32]: ...
    @property
    def triangle_vertices(self) -> _U32: ...
    @property
    def triangle_normals(self) -> _U32: ...
    @property
    def triangle_texcoords(self) -> _U32: ...
    @property
    def triangle_facets(self) -> _U32: ...
    @property
    def smoothing(self) -> Optional[_U32]: ...
    @property
    def trimaterials(self) -> Optional[_U32]: ...
    @property
    def lines(self) -> Optional[_U32]: ...
    @property
    def points(self) -> Optional[_U32]: ...
    @property
    def groups(self) -> List[Group]: ...
    @property
    def objects(self) -> List[Object]: ...
    @property
    def materials(self) -> List[Material]: ...
    def mesh(self, mode: Optional[int] = None) -> Mesh: ...
    def save(self, path: _Path, mode: Optional[int] = None, exact: bool = False) -> None: ...
    def facet_normals(self) -> None: ...
    def vertex_normals(self, angle: float = 90.0) -> None: ...
    def smoothing_group_normals(self) -> None: ...
    def unitize(self) -> float: ...
    def scale(self, factor: float) -> None: ...
    def translate(self, offset: Tuple[float, float, float]) -> None: ...
    def reverse_winding(self) -> None: ...
    def weld(self, epsilon: float) -> None: ...
    def linear_texture(self) -> None: ...
    def spheremap_texture(self) -> None: ...
    def dimensions(self) -> _Vec3: ...

def load_mesh(
    path: _Path,
    mode: Optional[int] = None,
    *,
    threads: int = 0,
    optional_library: bool = False,
    strict: bool = False,
    max_input: int = 0,
    progress: _Progress = None,
    warning: _WarningCallback = None,
) -> Mesh: ...
def load_mesh_bytes(
    data: Union[bytes, bytearray, memoryview],
    name: Optional[_Path] = None,
    mode: Optional[int] = None,
    *,
    library: _Library = None,
    threads: int = 0,
    optional_library: bool = False,
    strict: bool = False,
    max_input: int = 0,
    progress: _Progress = None,
    warning: _WarningCallback = None,
) -> Mesh: ...
def load(
    path: _Path,
    *,
    threads: int = 0,
    optional_library: bool = False,
    strict: bool = False,
    max_input: int = 0,
    progress: _Progress = None,
    warning: _WarningCallback = None,
) -> Model: ...
