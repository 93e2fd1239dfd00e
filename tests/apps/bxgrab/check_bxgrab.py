"""Runs bxgrab like a user and checks its files with tifffile, an independent TIFF reader,
and its PNG pictures with zlib. The class registry is a file in the work folder
(BX_REGISTRY_FILE), so the user's registry is never touched."""
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET
import zlib
from datetime import datetime, timedelta, timezone

import numpy as np
import tifffile

BXGRAB, COLOUR_INI = sys.argv[1], sys.argv[2]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def run(*args, env=None, settings="none.ini"):
    full_env = dict(os.environ, **(env or {}))
    full_env.pop("KVCAM_SIM_CONFIG", None)
    full_env.setdefault("BX_REGISTRY_FILE", REGISTRY)
    result = subprocess.run([BXGRAB, "--settings", os.path.join(work, settings), *args],
                            capture_output=True, text=True, env=full_env, timeout=120)
    return result


def header_lines(text):
    return [line for line in text.split("\r\n") if line]


def png_size(path):
    """Width and height of an 8-bit RGB PNG whose picture data decodes whole, else None."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    pos, idat, size = 8, b"", None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            size = (width, height) if (depth, colour) == (8, 2) else None
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if size is None or len(zlib.decompress(idat)) != size[1] * (1 + 3 * size[0]):
        return None
    return size


def summary(text):
    """The "name: value" lines of a live run's summary."""
    return dict(line.split(": ", 1) for line in text.splitlines()
                if ": " in line and not line.startswith("live: "))


LIVE_ENV = {"BX_TIME_WARP": "5"}
OME_NS = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"


def check_acquisition(name, ome, bits, started, exposure=None):
    """The OME-XML says what the control knew: the bits the samples carry, each plane's
    exposure (in seconds; by default the description's Exposure= in microseconds), and an
    acquisition time within the run that began at `started`. The control sets no pixel
    size, so none may be claimed."""
    root = ET.fromstring(ome)
    image = root.find(OME_NS + "Image")
    pixels = image.find(OME_NS + "Pixels")
    check(pixels.get("SignificantBits") == str(bits),
          f"{name}: SignificantBits {pixels.get('SignificantBits')}, expected {bits}")
    if exposure is None:
        m = re.search(r"Exposure=(\d+)", ome)
        exposure = int(m.group(1)) / 1e6 if m else None
    planes = pixels.findall(OME_NS + "Plane")
    check(planes and all(p.get("ExposureTimeUnit") == "s" and p.get("ExposureTime") and
                         float(p.get("ExposureTime")) == exposure for p in planes),
          f"{name}: planes {[p.attrib for p in planes]}, expected exposure {exposure} s")
    date = image.find(OME_NS + "AcquisitionDate")
    taken = datetime.fromisoformat(date.text) if date is not None else None
    now = datetime.now(timezone.utc)
    check(taken is not None and started - timedelta(seconds=1) <= taken <= now,
          f"{name}: AcquisitionDate {taken}, run from {started} to {now}")
    check(not any(k.startswith("PhysicalSize") for k in pixels.attrib),
          f"{name}: pixel size claimed: {pixels.attrib}")


with tempfile.TemporaryDirectory() as work:
    REGISTRY = os.path.join(work, "classes.reg")
    os.environ["BX_REGISTRY_FILE"] = REGISTRY  # for the runs that build their own environment
    os.environ.pop("BXGRAB_MODULE", None)

    # First use registers the module found beside bxgrab; unregister removes the ProgID, and
    # a ProgID nobody registered is a clear creation failure.
    r = run("info")
    check(r.returncode == 0 and "Korvane Camera" in open(REGISTRY).read(),
          f"first use: {r.returncode} {r.stderr}")
    r = run("unregister")
    check(r.returncode == 0 and f"registry: {REGISTRY}" in r.stdout and
          "Korvane Camera" not in open(REGISTRY).read(), f"unregister: {r.stdout} {r.stderr}")
    r = run("register")
    check(r.returncode == 0 and "registered " in r.stdout and
          "Korvane Camera" in open(REGISTRY).read(), f"register: {r.stdout} {r.stderr}")
    r = run("register", "--module", os.path.join(work, "missing.so"))
    check(r.returncode == 3 and "missing.so" in r.stderr, f"register missing: {r.stderr}")
    r = run("--progid", "No Such Camera", "info")
    check(r.returncode == 3 and 'no class is registered as "No Such Camera"' in r.stderr and
          REGISTRY in r.stderr, f"unregistered ProgID: {r.returncode} {r.stderr}")

    # Events in the order a snap raises them, by name from the control's type information.
    r = run("--events", "snap", "-o", os.path.join(work, "events.ome.tif"), "-e", "2ms")
    events = re.findall(r"^event (\w+) \((\d+)\) on the (main|other) thread(.*)$", r.stdout, re.M)
    names = [e[0] for e in events]
    progress = [e[3] for e in events if e[0] == "OnProcessUpdate"]
    check(r.returncode == 0 and names and names[0] == "OnPreAcquisitionTriggerClick" and
          names[-1] == "OnProcessUpdate" and "OnPostAcquisitionTriggerClick" in names and
          names.index("OnProcessUpdate") < names.index("OnPostAcquisitionTriggerClick") and
          progress[0] == ": GrabProgress -1" and progress[-1] == ": GrabProgress 1" and
          all(e[2] == "main" for e in events), f"events snap: {r.returncode} {r.stdout} {r.stderr}")
    # A 12-bit monochrome snap saved as OME-TIFF.
    out = os.path.join(work, "mono.ome.tif")
    started = datetime.now(timezone.utc)
    r = run("snap", "-o", out, "--exposure", "20ms", "--gain", "0")
    check(r.returncode == 0, f"mono snap exit {r.returncode}: {r.stderr}")
    if r.returncode == 0:
        with tifffile.TiffFile(out) as tif:
            check(tif.is_ome, "mono file is not OME-TIFF")
            data = tif.asarray()
            ome = tif.ome_metadata or ""
        check(data.shape == (1040, 1392), f"mono shape {data.shape}")
        check(data.dtype == np.uint16, f"mono dtype {data.dtype}")
        check(data.max() > data.min(), "mono pixels are constant")
        check(data.max() < 4096, f"mono pixels exceed 12 bits: {data.max()}")
        check("Camera=KorvaneFW" in ome and "Exposure=20000" in ome,
              "acquisition description missing from the OME-XML")
        check(out in r.stdout, "no summary line for the file")
        check_acquisition("mono snap", ome, 12, started, 0.02)

    # 8-bit acquisition: eight bits in eight-bit samples.
    out = os.path.join(work, "eight.ome.tif")
    started = datetime.now(timezone.utc)
    r = run("snap", "-o", out, "--depth", "8", "-e", "2ms")
    check(r.returncode == 0, f"8-bit snap exit {r.returncode}: {r.stderr}")
    if r.returncode == 0:
        with tifffile.TiffFile(out) as tif:
            check(tif.series[0].dtype == np.uint8, f"8-bit dtype {tif.series[0].dtype}")
            check_acquisition("8-bit snap", tif.ome_metadata or "", 8, started, 0.002)

    # The same as plain TIFF: the description is the ImageDescription, 15 lines.
    out = os.path.join(work, "mono.tif")
    r = run("snap", "-o", out, "-e", "500us", "--binning", "2")
    check(r.returncode == 0, f"tiff snap exit {r.returncode}: {r.stderr}")
    if r.returncode == 0:
        with tifffile.TiffFile(out) as tif:
            page = tif.pages[0]
            data = page.asarray()
            lines = header_lines(page.description)
        check(data.shape == (520, 696), f"binned shape {data.shape}")
        check(len(lines) == 15, f"description has {len(lines)} lines: {lines}")
        check(lines[:2] == ["[Created]", lines[1]] and lines[1].startswith("Date="),
              f"description starts {lines[:2]}")
        check("Binning=2" in lines and "Exposure=500" in lines, f"description {lines}")

    # A colour snap from the shipped colour camera description.
    out = os.path.join(work, "colour.ome.tif")
    started = datetime.now(timezone.utc)
    r = run("--camera", COLOUR_INI, "snap", "-o", out, "--depth", "colour", "-e", "10ms")
    check(r.returncode == 0, f"colour snap exit {r.returncode}: {r.stderr}")
    if r.returncode == 0:
        with tifffile.TiffFile(out) as tif:
            data = tif.asarray()
            check_acquisition("colour snap", tif.ome_metadata or "", 8, started, 0.01)
        check(data.shape == (1040, 1392, 3), f"colour shape {data.shape}")
        check(data.dtype == np.uint8, f"colour dtype {data.dtype}")
        means = data.reshape(-1, 3).mean(axis=0)
        check(means.max() - means.min() > 1.0, f"colour channels all alike: {means}")

    # Bad input: one clear line and a non-zero exit, no file.
    r = run("snap", "-o", os.path.join(work, "x.ome.tif"), "--exposure", "fast")
    check(r.returncode == 2 and "exposure" in r.stderr, f"bad exposure: {r.returncode} {r.stderr}")
    r = run("snap", "-o", os.path.join(work, "x.png"))
    check(r.returncode == 2, f"bad extension exit {r.returncode}")
    r = run("snap", "-o", "/nonexistent-folder/x.ome.tif")
    check(r.returncode == 4 and "not exist" in r.stderr, f"unwritable: {r.returncode} {r.stderr}")
    r = run("snap")
    check(r.returncode == 2, f"missing -o exit {r.returncode}")
    r = run("snap", "--help")
    check(r.returncode == 0 and "--exposure" in r.stdout, "snap --help")

    # No camera: the control's own message and a non-zero exit.
    nocam = os.path.join(work, "nocam.ini")
    with open(nocam, "w") as f:
        f.write("[camera]\ncount = 0\n")
    r = run("--camera", nocam, "info")
    check(r.returncode == 3, f"no camera exit {r.returncode}")
    check("No Korvane firewire camera is available." in r.stderr, f"no camera stderr: {r.stderr}")

    # Mistakes a user must hear of, each a clear line and exit 2 before anything is taken.
    def described(name, text):
        path = os.path.join(work, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    failing = described("failing.ini", "[faults]\ngrab = always\n")
    out = os.path.join(work, "failed.ome.tif")
    usage_cases = [
        (["--camera", described("bad.ini", "[camera]\nbogus = 1\n"), "info"], "bad.ini:2"),
        (["--settings", work, "info"], "folder"),
        (["--device", "genicam:", "info"], "device id after genicam:"),
        (["--device", "usb:1", "info"], "not 'usb:1'"),
        (["--camera", COLOUR_INI, "snap", "-o", out, "--depth", "colour", "--binning", "2"],
         "binning 1"),
    ]
    for args, said in usage_cases:
        r = subprocess.run([BXGRAB, *args], capture_output=True, text=True, timeout=120,
                           env={k: v for k, v in os.environ.items() if k != "KVCAM_SIM_CONFIG"})
        check(r.returncode == 2 and said in r.stderr, f"{args}: {r.returncode} {r.stderr}")

    # A camera whose grabs always fail: no file, a failure, and with automatic Retry answers
    # the questions end after a few rounds instead of running forever.
    for answer in ("default", "retry"):
        r = run("--camera", failing, "--answer", answer, "snap", "-o", out)
        check(r.returncode == 3 and "Unable To Grab Frame" in r.stderr,
              f"failing grab ({answer}): {r.returncode} {r.stderr[-300:]}")
        check(not os.path.exists(out), f"failing grab ({answer}) wrote a file")
        check(r.stderr.count("KvCam_GrabFrame() error!") < 10,
              f"failing grab ({answer}) asked {r.stderr.count('KvCam_GrabFrame() error!')} times")

    # What the camera takes instead of what was asked is said in one line.
    r = run("snap", "-o", os.path.join(work, "short.ome.tif"), "-e", "5us")
    check(r.returncode == 0 and "exposure 5 us asked, the camera uses" in r.stderr,
          f"clamped exposure: {r.returncode} {r.stderr}")

    r = subprocess.run([BXGRAB, "--version"], capture_output=True, text=True, timeout=30)
    check(r.returncode == 0 and r.stdout.startswith("bxgrab "), f"--version: {r.stdout}")

    # info shows what the interfaces and the camera driver tell.
    r = run("--device", "simulated", "info")
    check(r.returncode == 0 and "1392 x 1040" in r.stdout and "0x0100A00E" in r.stdout and
          re.search(r"bit depth +12", r.stdout) and re.search(r"backend +simulated", r.stdout),
          f"info: {r.returncode} {r.stdout} {r.stderr}")

    # Settings: show tells each value's source (the camera replaces the file's AE Max Time by
    # its own limit); a save writes what the options set; loading it lists what changed.
    given = described("given.ini", "[KorvaneFW Camera]\nBrightness=300\nAE Max Time=5\n")
    r = run("settings", "show", settings=given)
    rows = [re.split(r"\s{2,}", line) for line in r.stdout.splitlines()]
    rows = {row[0]: row[1:] for row in rows}
    check(r.returncode == 0 and len(rows) > 30 and rows.get("Brightness") == ["300", "file"] and
          rows.get("Contrast") == ["0", "default"] and
          rows.get("AE Max Time", [])[1:] == ["camera"] and
          all(len(v) == 2 and v[1] in ("file", "default", "camera") for v in rows.values()),
          f"settings show: {r.returncode} {r.stdout} {r.stderr}")
    saved = os.path.join(work, "saved.ini")
    r = run("settings", "save", saved, "-g", "1234")
    check(r.returncode == 0 and f"settings to {saved}" in r.stdout and
          "Brightness=1234\n" in open(saved).read(), f"settings save: {r.returncode} {r.stderr}")
    for session, said in ((given, "Brightness: 300 -> 1234\n"), (saved, "no setting changed\n")):
        r = run("settings", "load", saved, settings=session)
        check(r.returncode == 0 and said in r.stdout, f"settings load: {r.stdout} {r.stderr}")
    settings_refusals = [
        (["save", "/nonexistent-folder/s.ini"], 4, "/nonexistent-folder/s.ini: output folder"),
        (["save", work], 4, "is a folder"),
        (["load", os.path.join(work, "typo.ini")], 2, "not found"),
    ]
    for args, code, said in settings_refusals:
        r = run("settings", *args)
        check(r.returncode == code and said in r.stderr,
              f"settings {args}: {r.returncode} {r.stderr}")

    # Live video on the default and the colour camera: the last shown frame as a picture and
    # as OME-TIFF, and a summary that found no frame lost or shown twice.
    live_cases = [("mono", [], [], (1040, 1392), np.uint16),
                  ("colour", ["--camera", COLOUR_INI], ["--depth", "colour"], (1040, 1392, 3),
                   np.uint8)]
    for name, before, after, shape, dtype in live_cases:
        png, ome = os.path.join(work, f"live-{name}.png"), os.path.join(work, f"live-{name}.ome.tif")
        started = datetime.now(timezone.utc)
        r = run(*before, "live", "--seconds", "2", "--preview", png, "--save-last", ome, *after,
                env=LIVE_ENV)
        s = summary(r.stdout)
        check(r.returncode == 0, f"live {name}: exit {r.returncode} {r.stderr[-300:]}")
        check(int(s.get("frames shown", 0)) > 0, f"live {name}: no frames shown: {r.stdout}")
        check(s.get("frames lost") == "0" and s.get("frames shown twice") == "0",
              f"live {name}: {r.stdout}")
        completed = re.match(r"(\d+) \(aborted \d+, failed 0\)", s.get("camera frames completed", ""))
        check(completed and int(completed.group(1)) >= int(s.get("frames shown", 0)) and
              s.get("camera stream") == "0 underruns, 0 frame ids missing",
              f"live {name}: camera counts {s.get('camera frames completed')}, stream "
              f"{s.get('camera stream')}")
        if r.returncode == 0:
            check(png_size(png) == (1392, 1040), f"live {name}: preview {png_size(png)}")
            with tifffile.TiffFile(ome) as tif:
                data = tif.asarray()
                check(tif.is_ome and "Exposure=" in (tif.ome_metadata or ""),
                      f"live {name}: not OME-TIFF with the acquisition record")
                check_acquisition(f"live {name}", tif.ome_metadata or "",
                                  12 if dtype == np.uint16 else 8, started)
            check(data.shape == shape and data.dtype == dtype,
                  f"live {name}: saved {data.shape} {data.dtype}")
            check(data.max() > data.min(), f"live {name}: saved frame is constant")

    # One auto-exposure pass first (target 50 when none is given).
    r = run("live", "--auto-exposure", "--seconds", "1", env=LIVE_ENV)
    m = re.search(r"auto-exposure: target 50 %, settled at (\d+) us after (\d+) frames", r.stdout)
    check(r.returncode == 0 and m and int(m.group(1)) > 0 and 1 <= int(m.group(2)) <= 40,
          f"auto-exposure: {r.returncode} {r.stdout} {r.stderr[-300:]}")

    # Ctrl-C mid-run: a clean stop with the summary, whole files and no temporaries.
    folder = os.path.join(work, "interrupted")
    os.mkdir(folder)
    png, ome = os.path.join(folder, "last.png"), os.path.join(folder, "last.ome.tif")
    proc = subprocess.Popen(
        [BXGRAB, "--settings", os.path.join(work, "none.ini"), "live", "--preview", png,
         "--save-last", ome], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        env={**{k: v for k, v in os.environ.items() if k != "KVCAM_SIM_CONFIG"}, **LIVE_ENV})
    # A line a second; on a busy machine the first may come before the first frame.
    deadline, first = time.monotonic() + 60, ""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], max(0, deadline - time.monotonic()))
        first = proc.stdout.readline() if ready else ""
        if not first or not first.startswith("live: 0 frames"):
            break
    check(re.match(r"live: \d+ frames, [\d.]+ fps, exposure \d+ us, brightest \d+$", first),
          f"status line: {first!r}")
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    s = summary(out)
    check(proc.returncode == 0 and "stopped by Ctrl-C" in out and s.get("frames lost") == "0",
          f"SIGINT: {proc.returncode} {out} {err[-300:]}")
    check(sorted(os.listdir(folder)) == ["last.ome.tif", "last.png"],
          f"SIGINT left {sorted(os.listdir(folder))}")
    check(os.path.exists(png) and png_size(png) == (1392, 1040), "SIGINT: preview not whole")

    # Bad live arguments: exit 2 and a line that names the option.
    for args, said in ((["--seconds", "-1"], "--seconds"), (["--auto-exposure", "33"], "33")):
        r = run("live", *args)
        check(r.returncode == 2 and said in r.stderr, f"live {args}: {r.returncode} {r.stderr}")

    # Timed sequences on a small window: one plane per frame, the camera's frame numbers in
    # order with none lost or repeated, and the stamps spaced by the interval (the platform
    # clock is warped like the camera). The first frame comes late (the simulated camera's
    # first frame costs real time the warp does not shorten), so spacing counts from it.
    counted = described("counted.ini", "[sensor]\nframe_counter = yes\n")
    small = ["-w", "0,0,255,191", "-e", "5ms"]

    def read_grab(path):
        with tifffile.TiffFile(path) as tif:
            data = tif.asarray()
            pixels = ET.fromstring(tif.ome_metadata or "").find(
                OME_NS + "Image").find(OME_NS + "Pixels")
        data = data.reshape(-1, *data.shape[-2:])
        first = data[:, 0, :4].astype(np.uint64) << np.array([0, 8, 16, 24], dtype=np.uint64)
        deltas = [float(p.get("DeltaT")) for p in pixels.findall(OME_NS + "Plane")]
        return len(data), int(pixels.get("SizeT")), deltas, first.sum(axis=1).tolist()

    def consecutive(numbers):
        return numbers == list(range(numbers[0], numbers[0] + len(numbers)))

    grab_cases = [  # name, options, frames, interval in ms (None: no wait), environment
        ("interval", ["--interval", "200ms"], 5, 200, {}),
        ("fast", ["--interval", "0"], 6, None, {}),
        ("pretrigger", ["--pretrigger", "0.2", "--interval", "100ms"], 4, 100, {}),
        # A device write may take longer than a short interval: the disk paths wait longer.
        ("disk", ["--disk", "DEVICE:512", "--interval", "200ms"], 4, 200, {}),
        ("auto device", ["--interval", "200ms"], 4, 200, {"BXGRAB_MEMORY_AVAILABLE": "100000"}),
    ]
    for name, options, n, interval, env in grab_cases:
        folder = os.path.join(work, "grab-" + name.replace(" ", "-"))
        os.mkdir(folder)
        out = os.path.join(folder, "frames.ome.tif")
        options = [o.replace("DEVICE", os.path.join(folder, "device")) for o in options]
        r = run("--camera", counted, "grab", "-n", str(n), "-o", out, *small, *options,
                env={**LIVE_ENV, **env})
        check(r.returncode == 0 and f"grab: frame {n} of {n}," in r.stdout and
              f"grab: {n} frames in" in r.stdout and
              "camera stream: 0 underruns, 0 frame ids missing" in r.stdout,
              f"grab {name}: exit {r.returncode} {r.stdout} {r.stderr[-300:]}")
        expected = ["device", "frames.ome.tif"] if name == "disk" else ["frames.ome.tif"]
        check(sorted(os.listdir(folder)) == expected, f"grab {name}: left {os.listdir(folder)}")
        if r.returncode != 0:
            continue
        planes, size_t, deltas, numbers = read_grab(out)
        check(planes == size_t == len(deltas) == n,
              f"grab {name}: {planes} planes, SizeT {size_t}, {len(deltas)} stamps, not {n}")
        check(consecutive(numbers), f"grab {name}: frame numbers {numbers}")
        # On a busy machine the camera's thread can be held up for a while, so one frame may
        # complete late and the next at once: the pace is judged by the median gap.
        gap = float(np.median(np.diff(deltas)[1:]))
        spaced = 0.6 * interval <= gap <= 1.6 * interval if interval else 0 < gap < 50
        check(spaced and np.all(np.diff(deltas) >= 0), f"grab {name}: DeltaT {deltas}")

    # Ctrl-C stops a long grab: the frames so far are saved, in order, and the exit code is 0.
    out = os.path.join(work, "grab-stopped.ome.tif")
    proc = subprocess.Popen(
        [BXGRAB, "--settings", os.path.join(work, "none.ini"), "--camera", counted, "grab",
         "-n", "200", "--interval", "100ms", "-o", out, *small], stdout=subprocess.PIPE,
        stderr=subprocess.PIPE, text=True,
        env={**{k: v for k, v in os.environ.items() if k != "KVCAM_SIM_CONFIG"}, **LIVE_ENV})
    line = ""
    while not line.startswith("grab: frame") and select.select([proc.stdout], [], [], 60)[0]:
        line = proc.stdout.readline()
        if not line:
            break
    proc.send_signal(signal.SIGINT)
    stdout, stderr = proc.communicate(timeout=60)
    check(proc.returncode == 0 and "grab: stopped by Ctrl-C after" in stdout,
          f"grab SIGINT: {proc.returncode} {stdout} {stderr[-300:]}")
    if proc.returncode == 0:
        planes, size_t, _, numbers = read_grab(out)
        check(0 < planes == size_t < 200 and consecutive(numbers),
              f"grab SIGINT: {planes} planes, SizeT {size_t}, numbers {numbers[:5]}...")

    # Recycling overwrites the frames in turn until the time is up: the file keeps N frames,
    # the latest ones, each stamped in the order it was taken.
    out = os.path.join(work, "grab-recycled.ome.tif")
    r = run("--camera", counted, "grab", "-n", "4", "--recycle", "--seconds", "1", "-o", out,
            *small, env=LIVE_ENV)
    check(r.returncode == 0 and "time up" in r.stdout, f"grab recycle: {r.returncode} {r.stderr}")
    if r.returncode == 0:
        planes, _, deltas, numbers = read_grab(out)
        check(planes == 4 and min(numbers) > 4 and
              sorted(numbers, key=lambda k: deltas[numbers.index(k)]) ==
              list(range(min(numbers), min(numbers) + 4)),
              f"grab recycle: {planes} planes, numbers {numbers}, DeltaT {deltas}")

    # A frame the camera fails to deliver ends the grab: the frames before it are saved and
    # the exit code says the camera failed.
    out = os.path.join(work, "grab-failed.ome.tif")
    failing_later = described("failing-later.ini",
                              "[sensor]\nframe_counter = yes\n[faults]\nframe_error = always, 1, 3\n")
    r = run("--camera", failing_later, "grab", "-n", "8", "-o", out, *small, env=LIVE_ENV)
    check(r.returncode == 3 and "Unable To Grab Frame" in r.stderr and os.path.exists(out) and
          read_grab(out)[0] == 3, f"grab failing: {r.returncode} {r.stderr[-300:]}")

    # Refused before the camera starts (the camera-less description would fail with 3).
    grab_refusals = [
        (["-n", "3", "-o", "/nonexistent-folder/x.ome.tif"], 4, "not exist"),
        (["-n", "0", "-o", os.path.join(work, "x.ome.tif")], 2, "--frames"),
        (["-n", "3", "--interval", "soon", "-o", os.path.join(work, "x.ome.tif")], 2, "interval"),
        (["-n", "3", "--disk", "d:1000", "-o", os.path.join(work, "x.ome.tif")], 2, "sector"),
    ]
    for args, code, said in grab_refusals:
        r = run("--camera", nocam, "grab", *args)
        check(r.returncode == code and said in r.stderr and not os.path.exists(args[-1]),
              f"grab {args}: {r.returncode} {r.stderr}")

    # The controller link on a pseudo-terminal: a thread answers each command line.
    def controller(reply, *args):
        master, slave = pty.openpty()
        done = threading.Event()
        def answer():
            while not done.is_set():
                if select.select([master], [], [], 0.05)[0] and b"\n" in os.read(master, 64):
                    os.write(master, reply)
        emulator = threading.Thread(target=answer)
        emulator.start()
        env = {"BX_COM3": os.ttyname(slave), "BX_TIME_WARP": "50"}
        r = run("controller", "--port", "COM3", *args, env=env)
        done.set()
        emulator.join()  # before the descriptors close and their numbers come back
        os.close(slave)
        os.close(master)
        return r

    controller_cases = [
        (b"VER 2.4\r", [], 0, "controller version: 2.4"),
        (b"OK 42\r", ["--send", "STATUS"], 0, "OK 42"),
        (b"HUH\r", [], 3, "unrecognised response"),
        (b"", [], 3, "Read Error"),
    ]
    for reply, args, code, said in controller_cases:
        r = controller(reply, *args)
        check(r.returncode == code and said in r.stdout + r.stderr,
              f"controller {reply} {args}: {r.returncode} {r.stdout} {r.stderr[-300:]}")
    r = run("controller", "--port", "COM3", env={"BX_COM3": "/nonexistent/port"})
    check(r.returncode == 3 and "Unable to Open COM Port" in r.stderr,
          f"controller missing port: {r.returncode} {r.stderr}")


print("bxgrab end-to-end:", "ok" if not failures else f"{len(failures)} checks failed")
sys.exit(1 if failures else 0)
