"""Image files: read and write PNG, PNM (PBM/PGM/PPM), TIFF and JPEG.

    page = kxpre.read("scan.tif")            # (H, W) grey, (H, W, 3) B,G,R, ...
    kxpre.write("clean.png", page)
    kxpre.write("scan.jpg", page, quality=80)
    kxpre.write("book.tif", [p1, p2, p3])    # a multi-page TIFF

Arrays are as everywhere in kxpre: uint8, (H, W) grey or binary, (H, W, 3)
with bytes B, G, R, (H, W, 4) with B, G, R, A.  Reading a bilevel file (1-bit
TIFF, PBM) gives an (H, W) array of 0 (black) and 1 (white); every other
grey file gives 0..255.  16-bit files are reduced to 8 bits.  The format of a
file being read comes from its contents; the format written comes from the
name's extension (.png, .pnm/.pgm/.ppm/.pbm, .tif/.tiff, .jpg/.jpeg) and
any other name is refused.  The work is done by the C library libkxio
(kxio.h), which refuses files that declare more than 65535 pixels a side or
2**28 pixels in all.
"""

import ctypes
import os

import numpy as np

from . import _native

__all__ = ["read", "write", "page_count"]


class _Options(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("quality", ctypes.c_int)]


_io = _native.load_library("kxio", near=getattr(_native.lib, "_name", None))
_io.kxioRead.restype = ctypes.c_void_p
_io.kxioRead.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t]
_io.kxioWrite.restype = ctypes.c_int
_io.kxioWrite.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(_Options), ctypes.c_char_p,
                          ctypes.c_size_t]
_io.kxioWritePages.restype = ctypes.c_int
_io.kxioWritePages.argtypes = [ctypes.POINTER(ctypes.c_void_p), ctypes.c_int, ctypes.c_char_p,
                               ctypes.POINTER(_Options), ctypes.c_char_p, ctypes.c_size_t]
_io.kxioPageCount.restype = ctypes.c_int
_io.kxioPageCount.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
_io.kxioFormatOfName.restype = ctypes.c_int
_io.kxioFormatOfName.argtypes = [ctypes.c_char_p]
_io_format = _io.kxioFormatOfName
_TIFF = 3  # KXIO_TIFF


def _path(path):
    return os.fsencode(os.fspath(path))


def _failure(what, path, error):
    return OSError("kxpre.%s: %s: %s" % (what, os.fspath(path), error.value.decode("utf-8", "replace")))


def read(path, page=0):
    """The picture in the file at `path` as a new uint8 array.

    path: a file name (str, bytes or os.PathLike).
    page: which page of a multi-page TIFF file to read, 0 for the first;
          other formats have only page 0.
    Raises OSError with the reason (missing file, unknown format, a size
    above the limits, a damaged file)."""
    if not isinstance(page, (int, np.integer)) or isinstance(page, bool) or page < 0:
        raise ValueError("kxpre.read: page must be an integer >= 0, got %r" % (page,))
    error = ctypes.create_string_buffer(512)
    address = _io.kxioRead(_path(path), int(page), error, len(error))
    if not address:
        raise _failure("read", path, error)
    try:
        return _native.view(address).copy()
    finally:
        _native.destroy_image(address)


def page_count(path):
    """The number of pages of the file (1 for every format but TIFF)."""
    error = ctypes.create_string_buffer(512)
    n = _io.kxioPageCount(_path(path), error, len(error))
    if n < 0:
        raise _failure("page_count", path, error)
    return n


def _image(array, binary, what):
    """A new library image holding a copy of the array."""
    if isinstance(array, np.ndarray) and array.dtype == np.bool_:
        array, binary = array.astype(np.uint8), True if binary is None else binary
    _native.check_array(array, what)
    kit = _native.image_type(array, bool(binary) and array.ndim == 2)
    return _native.owned_copy(np.ascontiguousarray(array), kit)


def write(path, image, quality=None, binary=None):
    """Writes `image` to the file `path`, replacing it.

    path:    the file name; its extension chooses the format: .png,
             .pnm/.pgm/.ppm (grey or colour), .pbm (binary images only),
             .tif/.tiff, .jpg/.jpeg.
    image:   a uint8 array ((H, W), (H, W, 3) B,G,R or (H, W, 4) B,G,R,A), a
             bool array (taken as binary), or a list of such arrays for a
             multi-page TIFF file.
    quality: JPEG quality 1..100 (None: 90); only for JPEG files.
    binary:  True: take a 2-D array as a binary image (0 black, non-zero
             white), written as 1-bit (CCITT G4) in TIFF and PBM and as
             0/255 grey elsewhere; False: as grey; None (default): binary
             for bool arrays, grey for uint8 ones.
    Alpha is dropped by PNM and JPEG.  Raises ValueError for a name without
    a known extension or a quality outside 1..100, TypeError for an array of
    the wrong kind, OSError when the file cannot be written."""
    if quality is not None:
        if not isinstance(quality, (int, np.integer)) or isinstance(quality, bool) or not 1 <= quality <= 100:
            raise ValueError("kxpre.write: quality must be an integer in 1..100, got %r" % (quality,))
    name = _path(path)
    fmt = _io_format(name)
    if not fmt:
        raise ValueError("kxpre.write: cannot tell the file format from the name %r (known extensions: .png, "
                         ".pnm, .pgm, .ppm, .pbm, .tif, .tiff, .jpg, .jpeg)" % (os.fspath(path),))
    options = _Options(0, int(quality) if quality is not None else 0)
    error = ctypes.create_string_buffer(512)
    pages = list(image) if isinstance(image, (list, tuple)) else [image]
    if not pages:
        raise ValueError("kxpre.write: no pages to write")
    if len(pages) > 1 and fmt != _TIFF:
        raise ValueError("kxpre.write: only TIFF files (.tif, .tiff) hold several pages")
    addresses = []
    try:
        for i, page in enumerate(pages):
            addresses.append(_image(page, binary, "image" if len(pages) == 1 else "page %d" % i))
        if len(addresses) == 1:
            ok = _io.kxioWrite(addresses[0], name, ctypes.byref(options), error, len(error))
        else:
            array = (ctypes.c_void_p * len(addresses))(*addresses)
            ok = _io.kxioWritePages(array, len(addresses), name, ctypes.byref(options), error, len(error))
    finally:
        for address in addresses:
            _native.destroy_image(address)
    if not ok:
        raise _failure("write", path, error)

