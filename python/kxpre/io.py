"""Image files: read and write PNG, PNM (PBM/PGM/PPM), TIFF and JPEG.

    page = kxpre.read("scan.tif")            # (H, W) grey, (H, W, 3) B,G,R, ...
    kxpre.write("clean.png", page)
    kxpre.write("scan.jpg", page, quality=80)
    kxpre.write("book.tif", [p1, p2, p3])    # a multi-page TIFF
    pages = kxpre.read_pages("book.tif")     # every page, as a list
    third = kxpre.read("book.tif", page=2)

Arrays are as everywhere in kxpre: uint8, (H, W) grey or binary, (H, W, 3)
with bytes B, G, R, (H, W, 4) with B, G, R, A.  Reading a bilevel file (1-bit
TIFF, PBM) gives an (H, W) array of 0 (black) and 1 (white); every other
grey file gives 0..255.  16-bit files are reduced to 8 bits (v * 255 / 65535,
rounded).  The format of a file being read comes from its contents; the
format written comes from the name's extension (.png, .pnm/.pgm/.ppm/.pbm,
.tif/.tiff, .jpg/.jpeg) and any other name is refused.

Pages: only TIFF files have more than one.  read() without page= refuses a
file of several pages rather than silently giving the first: pass page=N
(0 for the first) or call read_pages().

The work is done by the C library libkxio (kxio.h), which refuses files that
declare more than 65535 pixels a side or 2**28 pixels in all, or more pixels
than their compressed data can hold; the writers refuse the same sizes, so
that every file written reads back.  max_bytes= caps the memory one read may
take.
"""

import ctypes
import os

import numpy as np

from . import _native

__all__ = ["read", "read_pages", "write", "page_count"]


class _Options(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("quality", ctypes.c_int)]


class _ReadOptions(ctypes.Structure):
    _fields_ = [("maxBytes", ctypes.c_size_t)]


_io = _native.load_library("kxio", near=getattr(_native.lib, "_name", None))
_io.kxioReadEx.restype = ctypes.c_void_p
_io.kxioReadEx.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(_ReadOptions), ctypes.c_char_p,
                           ctypes.c_size_t]
_io.kxioCheckSize.restype = ctypes.c_int
_io.kxioCheckSize.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t]
_io.kxioCheckWrite.restype = ctypes.c_int
_io.kxioCheckWrite.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(_Options), ctypes.c_char_p,
                               ctypes.c_size_t]
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


_INT_MAX = 2 ** 31 - 1


def _integer(value, what, low, high):
    """value as an int within low..high, or ValueError naming `what`."""
    if not isinstance(value, (int, np.integer)) or isinstance(value, bool) or not low <= value <= high:
        raise ValueError("kxpre.%s must be an integer in %d..%d, got %r" % (what, low, high, value))
    return int(value)


def _read_options(max_bytes, what):
    if max_bytes is None:
        return None
    return ctypes.byref(_ReadOptions(_integer(max_bytes, what + ": max_bytes", 1, 2 ** 63 - 1)))


def _read_page(path, page, options):
    error = ctypes.create_string_buffer(512)
    address = _io.kxioReadEx(_path(path), page, options, error, len(error))
    if not address:
        raise _failure("read", path, error)
    try:
        return _native.view(address).copy()
    finally:
        _native.destroy_image(address)


@_native.named("kxpre.read")
def read(path, page=None, max_bytes=None):
    """The picture in the file at `path` as a new uint8 array.

    path:      a file name (str, bytes or os.PathLike).
    page:      which page of a multi-page TIFF file to read, 0 for the first.
               None (default): the file must have a single page; a file of
               several raises ValueError (pass page=N, or use read_pages).
    max_bytes: the most memory the read may take (the file, the image and
               the decoder's buffers), None for no cap but the limits; a file
               that needs more is refused with OSError before it is decoded.
    Raises OSError with the reason (missing file, unknown format, a size
    above the limits, a damaged file, no such page)."""
    options = _read_options(max_bytes, "read")
    if page is not None:
        return _read_page(path, _integer(page, "read: page", 0, _INT_MAX), options)
    # A file whose pages cannot be counted is refused by the read itself,
    # with the read's reason.
    count = _io.kxioPageCount(_path(path), None, 0)
    if count > 1:
        raise ValueError("kxpre.read: %s has %d pages: pass page=0..%d for one, or call kxpre.read_pages"
                         % (os.fspath(path), count, count - 1))
    return _read_page(path, 0, options)


@_native.named("kxpre.read_pages")
def read_pages(path, max_bytes=None):
    """Every page of the file at `path`, as a list of new uint8 arrays (one
    for files of a single page).  max_bytes caps each page's read, as for
    read().  Raises OSError as read() does."""
    options = _read_options(max_bytes, "read_pages")
    return [_read_page(path, i, options) for i in range(page_count(path))]


@_native.named("kxpre.page_count")
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


@_native.named("kxpre.write")
def write(path, image, quality=None, binary=None):
    """Writes `image` to the file `path`, replacing it.

    path:    the file name; its extension chooses the format: .png,
             .pnm/.pgm/.ppm (grey or colour), .pbm (binary images only),
             .tif/.tiff, .jpg/.jpeg.
    image:   a uint8 array ((H, W), (H, W, 3) B,G,R or (H, W, 4) B,G,R,A), a
             bool array (taken as binary), or a list of such arrays for a
             multi-page TIFF file.
    quality: JPEG quality 1..100 (None: 90); JPEG files only, refused for
             the formats that have none.
    binary:  True: take a 2-D array as a binary image (0 black, non-zero
             white), written as 1-bit (CCITT G4) in TIFF and PBM and as
             0/255 grey elsewhere; False: as grey; None (default): binary
             for bool arrays, grey for uint8 ones.
    Alpha is dropped by PNM and JPEG.  Raises ValueError, before the file is
    touched, for a name without a known extension, a quality outside 1..100
    or for a format without one, a size the readers would refuse (sides up
    to 65535, 65500 for JPEG, 2**28 pixels) or a PBM of a non-binary image;
    TypeError for an array of the wrong kind; OSError when the file cannot
    be written."""
    # The library checks the quality (its range, and that the format has
    # one); 0 is its "not given", which here is None.
    if quality is not None:
        quality = _integer(quality, "write: quality", -_INT_MAX - 1, _INT_MAX)
        if quality == 0:
            raise ValueError("kxpre.write: JPEG quality 0 is outside 1..100")
    options = _Options(0, quality or 0)
    name = _path(path)
    fmt = _io_format(name)
    if not fmt:
        raise ValueError("kxpre.write: cannot tell the file format from the name %r (known extensions: .png, "
                         ".pnm, .pgm, .ppm, .pbm, .tif, .tiff, .jpg, .jpeg)" % (os.fspath(path),))
    error = ctypes.create_string_buffer(512)
    pages = list(image) if isinstance(image, (list, tuple)) else [image]
    if not pages:
        raise ValueError("kxpre.write: no pages to write")
    if len(pages) > 1 and fmt != _TIFF:
        raise ValueError("kxpre.write: only TIFF files (.tif, .tiff) hold several pages")
    what = ["image" if len(pages) == 1 else "page %d" % i for i in range(len(pages))]
    for page, label in zip(pages, what):  # sizes first: nothing is copied for a size no reader takes
        if isinstance(page, np.ndarray) and page.ndim >= 2:
            h, w = (min(int(n), _INT_MAX) for n in page.shape[:2])
            if not _io.kxioCheckSize(fmt, w, h, error, len(error)):
                raise ValueError("kxpre.write: %s: %s" % (label, error.value.decode("utf-8", "replace")))
    addresses = []
    try:
        for page, label in zip(pages, what):
            addresses.append(_image(page, binary, label))
        for address, label in zip(addresses, what):
            if not _io.kxioCheckWrite(address, name, ctypes.byref(options), error, len(error)):
                raise ValueError("kxpre.write: %s" % error.value.decode("utf-8", "replace"))
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
