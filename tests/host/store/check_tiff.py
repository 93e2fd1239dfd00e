"""Checks a TIFF or OME-TIFF written by the image store, with tifffile as the independent
reader. Usage: check_tiff.py EXPECTATIONS.json   (exit status 0 when the file is right)

The expected pixels follow the pattern of store_test_util.h, recomputed here."""
import json
import math
import re
import sys
import xml.etree.ElementTree as ET
from datetime import datetime

import numpy as np
import tifffile

OME_NS = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"
DTYPES = {3: np.uint8, 4: np.uint16, 5: np.uint16, 8: np.uint8, 9: np.uint32}
# The lexical form of an xs:float other than the words INF and NaN (which no reader should
# be asked to take as a time).
XS_FLOAT = re.compile(r"[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?$")


def pattern(frames, height, width, bits, channels):
    f = np.arange(frames, dtype=np.uint64).reshape(-1, 1, 1, 1)
    y = np.arange(height, dtype=np.uint64).reshape(1, -1, 1, 1)
    x = np.arange(width, dtype=np.uint64).reshape(1, 1, -1, 1)
    c = np.arange(channels, dtype=np.uint64).reshape(1, 1, 1, -1)
    v = f * np.uint64(2654435761) + y * np.uint64(40503) + x * np.uint64(977) + c * np.uint64(131)
    v = v & np.uint64((1 << bits) - 1)
    return v if channels == 3 else v[..., 0]


def fail(message):
    print("check_tiff: " + message)
    sys.exit(1)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        want = json.load(f)
    rgb = want["type"] == 8
    dtype = DTYPES[want["type"]]
    bits = 8 if rgb else np.dtype(dtype).itemsize * 8
    expected = pattern(want["frames"], want["height"], want["width"], bits, 3 if rgb else 1)
    expected = expected.astype(dtype)

    with tifffile.TiffFile(want["path"]) as tif:
        if tif.is_bigtiff != want["bigtiff"]:
            fail("bigtiff is %s" % tif.is_bigtiff)
        if len(tif.pages) != want["frames"]:
            fail("%d pages" % len(tif.pages))
        for page in tif.pages:
            if page.compression != 1:
                fail("compressed page")
            if rgb and page.photometric != tifffile.PHOTOMETRIC.RGB:
                fail("colour page is not RGB")
        if want["kind"] == "ome":
            if not tif.is_ome:
                fail("not recognised as OME-TIFF")
            data = tif.series[0].asarray()
            check_ome(tif.ome_metadata, want)
        else:
            data = np.stack([page.asarray() for page in tif.pages])
            # The tag's raw bytes: tifffile's own text strips trailing line breaks.
            tag = tif.pages[0].tags.get("ImageDescription")
            raw = b""
            if tag is not None:
                tif.filehandle.seek(tag.valueoffset)
                raw = tif.filehandle.read(tag.count)
            if raw != want["comment"].encode("latin-1") + b"\0":
                fail("description %r" % raw)
    if data.dtype != dtype:
        fail("dtype %s" % data.dtype)
    if data.shape != expected.squeeze().shape and data.shape != expected.shape:
        fail("shape %s, expected %s" % (data.shape, expected.shape))
    if not np.array_equal(data.reshape(expected.shape), expected):
        fail("pixels differ")


def check_ome(text, want):
    root = ET.fromstring(text)
    image = root.find(OME_NS + "Image")
    pixels = image.find(OME_NS + "Pixels")
    ome_type = {3: "uint8", 4: "uint16", 5: "uint16", 8: "uint8", 9: "uint32"}[want["type"]]
    if image.get("Name") != want["name"]:
        fail("image name %r" % image.get("Name"))
    for key, value in (("Type", ome_type), ("SizeX", want["width"]), ("SizeY", want["height"]),
                       ("SizeT", want["frames"]), ("SizeC", 3 if want["type"] == 8 else 1)):
        if pixels.get(key) != str(value):
            fail("%s is %r, expected %r" % (key, pixels.get(key), value))
    planes = pixels.findall(OME_NS + "Plane")
    if len(planes) != want["frames"]:
        fail("%d planes" % len(planes))
    for element in [pixels] + list(pixels):
        for key, value in element.attrib.items():
            if re.search("inf|nan", value, re.IGNORECASE):
                fail("%s %s=%r" % (element.tag, key, value))
    for t, (plane, delta) in enumerate(zip(planes, want["deltas"])):
        if delta is None:  # a time no float can hold: the plane must carry none
            if int(plane.get("TheT")) != t or "DeltaT" in plane.attrib or \
                    "DeltaTUnit" in plane.attrib:
                fail("plane %d: %r, expected no time" % (t, plane.attrib))
            continue
        if not XS_FLOAT.match(plane.get("DeltaT", "")):
            fail("plane %d: DeltaT %r is not a float" % (t, plane.get("DeltaT")))
        if int(plane.get("TheT")) != t or float(plane.get("DeltaT")) != delta:
            fail("plane %d: TheT %s DeltaT %s, expected %r" % (t, plane.get("TheT"),
                                                              plane.get("DeltaT"), delta))
        if plane.get("DeltaTUnit") != "ms":
            fail("DeltaTUnit %r" % plane.get("DeltaTUnit"))
    check_acquisition(image, pixels, planes, want)
    values = [a.find(OME_NS + "Value").text or ""
              for a in root.iter(OME_NS + "CommentAnnotation")]
    if values != [want["comment"]]:
        fail("comment annotations %r" % values)


def check_attribute(element, key, value, unit_key=None, unit=None):
    """`key` holds `value` (read back exactly), with `unit` in `unit_key`; a value of None
    means neither attribute may be there."""
    keys = [key] + ([unit_key] if unit_key else [])
    if value is None:
        present = [k for k in keys if k in element.attrib]
        if present:
            fail("%s has %r, expected none" % (element.tag, present))
        return
    text = element.get(key, "")
    number = float(text) if XS_FLOAT.match(text) else math.nan
    if number != value:
        fail("%s %s=%r, expected %r" % (element.tag, key, text, value))
    if unit_key and element.get(unit_key) != unit:
        fail("%s %s=%r, expected %r" % (element.tag, unit_key, element.get(unit_key), unit))


# What the host told the store about the acquisition, and the pixel size. A key the
# expectations leave out (or null) must be absent from the file too.
def check_acquisition(image, pixels, planes, want):
    bits = want.get("significant_bits")
    if pixels.get("SignificantBits") != (None if bits is None else str(bits)):
        fail("SignificantBits %r, expected %r" % (pixels.get("SignificantBits"), bits))
    for axis in "XY":
        size = want.get("physical_size_" + axis.lower())
        check_attribute(pixels, "PhysicalSize" + axis, size and size[0],
                        "PhysicalSize%sUnit" % axis, size and size[1])
    for plane in planes:
        check_attribute(plane, "ExposureTime", want.get("exposure_seconds"),
                        "ExposureTimeUnit", "s")
    dates = image.findall(OME_NS + "AcquisitionDate")
    date = want.get("acquisition_date")
    if date is None:
        if dates:
            fail("AcquisitionDate %r, expected none" % dates[0].text)
        return
    # The schema puts it first in the image, as one xs:dateTime.
    if len(dates) != 1 or image[0] is not dates[0]:
        fail("AcquisitionDate is not the image's one first element")
    if datetime.fromisoformat(dates[0].text) != datetime.fromisoformat(date):
        fail("AcquisitionDate %r, expected %r" % (dates[0].text, date))


if __name__ == "__main__":
    main()
