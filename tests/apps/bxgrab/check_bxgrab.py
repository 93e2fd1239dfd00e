"""Runs bxgrab like a user and checks its files with tifffile, an independent TIFF reader."""
import os
import subprocess
import sys
import tempfile

import numpy as np
import tifffile

BXGRAB, COLOUR_INI = sys.argv[1], sys.argv[2]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def run(*args, env=None):
    full_env = dict(os.environ, **(env or {}))
    full_env.pop("KVCAM_SIM_CONFIG", None)
    result = subprocess.run([BXGRAB, "--settings", os.path.join(work, "none.ini"), *args],
                            capture_output=True, text=True, env=full_env, timeout=120)
    return result


def header_lines(text):
    return [line for line in text.split("\r\n") if line]


with tempfile.TemporaryDirectory() as work:
    # A 12-bit monochrome snap saved as OME-TIFF.
    out = os.path.join(work, "mono.ome.tif")
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
    r = run("--camera", COLOUR_INI, "snap", "-o", out, "--depth", "colour", "-e", "10ms")
    check(r.returncode == 0, f"colour snap exit {r.returncode}: {r.stderr}")
    if r.returncode == 0:
        data = tifffile.imread(out)
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

    # info shows the Device page.
    r = run("info")
    check(r.returncode == 0 and "1392 x 1040" in r.stdout and "Veridan 1350" in r.stdout,
          f"info: {r.returncode} {r.stdout} {r.stderr}")

print("bxgrab end-to-end:", "ok" if not failures else f"{len(failures)} checks failed")
sys.exit(1 if failures else 0)
