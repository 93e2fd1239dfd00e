"""Reads an image bxgrab-gui saved with tifffile, an independent reader, and compares it with
the pixels the store held. Usage:
  check_saved.py FILE EXPECTED.raw WIDTH HEIGHT BYTES_PER_PIXEL BIT_DEPTH
EXPECTED.raw holds the store's frame as stored (grey: native 8 or 16 bit; colour: blue, green,
red). Exit status 0 when the file is right."""
import sys
import xml.etree.ElementTree as ET

import numpy as np
import tifffile

OME_NS = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"


def fail(message):
    print("check_saved: " + message)
    sys.exit(1)


def main():
    path, raw = sys.argv[1], sys.argv[2]
    width, height, pixel_bytes, depth = (int(v) for v in sys.argv[3:7])
    dtype = np.uint16 if pixel_bytes == 2 else np.uint8
    expected = np.fromfile(raw, dtype=dtype)
    if pixel_bytes == 3:
        expected = expected.reshape(height, width, 3)[..., ::-1]  # the file is RGB
    else:
        expected = expected.reshape(height, width)
    with tifffile.TiffFile(path) as tif:
        if len(tif.pages) != 1:
            fail("%d pages" % len(tif.pages))
        data = tif.pages[0].asarray()
        ome = path.lower().endswith((".ome.tif", ".ome.tiff"))
        if tif.is_ome != ome:
            fail("is_ome is %s" % tif.is_ome)
        if ome:
            pixels = ET.fromstring(tif.ome_metadata).find(OME_NS + "Image/" + OME_NS + "Pixels")
            if pixels is None:
                fail("no Pixels element")
            if (int(pixels.get("SizeX")), int(pixels.get("SizeY"))) != (width, height):
                fail("OME size %s x %s" % (pixels.get("SizeX"), pixels.get("SizeY")))
            bits = 8 if pixel_bytes != 2 else depth
            if pixels.get("SignificantBits") != str(bits):
                fail("SignificantBits %s, not %d" % (pixels.get("SignificantBits"), bits))
            plane = pixels.find(OME_NS + "Plane")
            if plane is None or plane.get("ExposureTime") is None:
                fail("no exposure time on the plane")
    if data.dtype != expected.dtype or data.shape != expected.shape:
        fail("%s %s, expected %s %s" % (data.dtype, data.shape, expected.dtype, expected.shape))
    if not np.array_equal(data, expected):
        fail("%d pixels differ" % int(np.count_nonzero(data != expected)))


main()
