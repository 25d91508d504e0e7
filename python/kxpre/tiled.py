"""Neighbourhood operations on images larger than memory, in tiles.

    import kxpre
    out = kxpre.tiled(kxpre.median, page, 5, tile=1024)        # numpy in, numpy out
    lazy = kxpre.tiled("local_integral", big_dask_array, 31, 128, 0.34)  # dask in, dask out

Each tile is processed together with a halo of the operation's reach taken
from its neighbours (dask.array's map_overlap, no padding at the image's own
edges), and the halo is cut off again.  An output pixel of the operations
below depends only on the input pixels within that reach and on where the
image ends, so the tiled result is byte for byte the whole-image result,
borders included.

Operations whose output depends on the whole image (thinning, hole
filling, border removal, distance transforms, histogram-based thresholds,
normalisation, rotation, scaling, ...) cannot be tiled exactly and are
refused with a ValueError.
"""

import inspect

import numpy as np

from ._ops import MANIFEST

# The operations whose output pixel reaches a bounded window: the exports
# the manifest gives a reach.
_EXPORTS = {e.python: e for e in MANIFEST.exports if e.reach is not None}
TILEABLE = tuple(sorted(_EXPORTS))


def _name_of(op):
    name = op if isinstance(op, str) else getattr(op, "__name__", "")
    if name not in _EXPORTS:
        raise ValueError(
            f"{name or op!r} cannot be tiled exactly: its result depends on more than a bounded window "
            f"(tileable: {', '.join(TILEABLE)})")
    return name


def tiled(op, image, *args, tile=1024, **kwargs):
    """Applies `op` (a kxpre function or its name) to `image` tile by tile.

    image: a numpy uint8 array (H, W) or (H, W, C), or a dask array of one;
    tile: the tile side in pixels (rows and columns); the operation's reach
    must not exceed it.  Further arguments go to the operation.  Returns a
    numpy array for numpy input and a lazy dask array for dask input.
    """
    import importlib

    import dask.array as da

    name = _name_of(op)
    function = getattr(importlib.import_module(__package__), name)
    bound = inspect.signature(function).bind(image, *args, **kwargs)
    bound.apply_defaults()
    reach = _EXPORTS[name].reach_for(bound.arguments)
    tile = int(tile)
    if tile < 1:
        raise ValueError(f"tile must be at least 1, not {tile}")
    if reach > tile:
        raise ValueError(f"{name} reaches {reach} pixels, more than the tile of {tile}; use a larger tile")
    lazy = isinstance(image, da.Array)
    array = image if lazy else da.from_array(np.asarray(image), chunks=-1)
    if array.ndim not in (2, 3):
        raise ValueError(f"image must be (H, W) or (H, W, C), not {array.shape}")
    chunks = (tile, tile) + ((-1,) if array.ndim == 3 else ())
    array = array.rechunk(chunks)
    depth = {0: reach, 1: reach}
    if array.ndim == 3:
        depth[2] = 0

    def block(b):
        return function(np.ascontiguousarray(b), *args, **kwargs)

    result = array.map_overlap(block, depth=depth, boundary="none", trim=True, dtype=np.uint8)
    return result if lazy else result.compute(scheduler="synchronous")
