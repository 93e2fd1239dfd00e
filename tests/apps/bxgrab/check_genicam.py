"""Runs bxgrab against GenICam cameras through the camera driver's Aravis backend: a GigE
Vision camera this script starts itself (Aravis's fake camera on a loopback address), a device
that is not there, and a camera that goes away in the middle of a grab. Exits 77 (skipped)
when the fake camera program is not installed.

The fake camera listens on a fixed port of an address some interface holds. Where it can, the
script re-runs itself in a network namespace of its own, whose loopback address nobody else
uses; otherwise it takes a loopback address whose port is free."""
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np
import tifffile

BXGRAB = sys.argv[1]
FAKE_CAMERA = shutil.which("arv-fake-gv-camera-0.8")
ARV_TOOL = shutil.which("arv-tool-0.8")
SKIP = 77
GVCP_PORT = 3956
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def rerun_in_private_network():
    """The exit code of this script run again in a network namespace of its own, with its
    loopback up; None when no namespace can be made here."""
    if os.environ.get("BX_PRIVATE_NETWORK") or not shutil.which("unshare") or not shutil.which("ip"):
        return None
    if subprocess.run(["unshare", "-rn", "ip", "link", "set", "lo", "up"],
                      capture_output=True).returncode != 0:
        return None
    return subprocess.run(
        ["unshare", "-rn", "sh", "-c", 'ip link set lo up && exec "$@"', "sh", sys.executable,
         *sys.argv], env=dict(os.environ, BX_PRIVATE_NETWORK="1")).returncode


def free_address():
    """A loopback address an interface holds whose camera port nobody uses; None if none."""
    held = ["127.0.0.1"]
    if shutil.which("ip"):
        listed = subprocess.run(["ip", "-o", "-4", "addr", "show", "dev", "lo"],
                                capture_output=True, text=True).stdout
        held += [a for a in re.findall(r"inet (127\.[\d.]+)/", listed) if a not in held]
    for address in held:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            try:
                s.bind((address, GVCP_PORT))
                return address
            except OSError:
                continue
    return None


class FakeCamera:
    """Aravis's fake GigE Vision camera at `address`, stopped (within seconds) on exit."""

    def __init__(self, address):
        self.address = address
        self.proc = subprocess.Popen([FAKE_CAMERA, "-i", address], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE, text=True)

    def wait_ready(self, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline and self.proc.poll() is None:
            if ARV_TOOL is None:  # nothing to ask with: give it a moment
                time.sleep(1)
                return True
            probe = subprocess.run([ARV_TOOL, "-a", self.address, "control", "Width"],
                                   capture_output=True, text=True, timeout=10)
            if probe.returncode == 0 and "Width" in probe.stdout:
                return True
            time.sleep(0.2)
        return False

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=5)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()


def bxgrab(work, *args):
    """The command line and environment of a bxgrab run with its own registry and settings."""
    env = {k: v for k, v in os.environ.items() if k not in ("KVCAM_SIM_CONFIG", "KVCAM_DEVICE")}
    env["BX_REGISTRY_FILE"] = os.path.join(work, "classes.reg")
    return [BXGRAB, "--settings", os.path.join(work, "none.ini"), *args], env


def run(work, *args, timeout=40):
    command, env = bxgrab(work, *args)
    return subprocess.run(command, capture_output=True, text=True, env=env, timeout=timeout)


def read_frames(path):
    with tifffile.TiffFile(path) as tif:
        data = tif.asarray()
    return data.reshape(-1, *data.shape[-2:])


def check_camera(work, address):
    device = ["--device", f"genicam:{address}"]
    r = run(work, *device, "info")
    check(r.returncode == 0 and re.search(r"backend +genicam", r.stdout) and
          re.search(rf"device +{re.escape(address)}\n", r.stdout) and
          re.search(r"image size +2048 x 2048", r.stdout),
          f"info: {r.returncode} {r.stdout} {r.stderr[-500:]}")

    # Each file read back: the frames asked for, of the window asked for, each with an image in
    # it (the fake camera's image is black at the factory 10 us exposure), and the sequence
    # moving (a stream stuck on one buffer would repeat it).
    taken = ["-e", "20ms", "-w", "0,0,511,511"]
    snap = os.path.join(work, "snap.ome.tif")
    r = run(work, *device, "snap", "-o", snap, *taken)
    check(r.returncode == 0, f"snap: {r.returncode} {r.stdout} {r.stderr[-500:]}")
    if r.returncode == 0:
        frames = read_frames(snap)
        check(frames.shape == (1, 512, 512) and frames.max() > frames.min(),
              f"snap: {frames.shape}, pixels {frames.min()}..{frames.max()}")

    grab = os.path.join(work, "grab.ome.tif")
    r = run(work, *device, "grab", "-n", "100", "--interval", "0", "-o", grab, *taken)
    check(r.returncode == 0 and "grab: 100 frames in" in r.stdout and
          re.search(r"camera stream: \d+ underruns, 0 frame ids missing", r.stdout),
          f"grab: {r.returncode} {r.stdout[-800:]} {r.stderr[-500:]}")
    if r.returncode == 0:
        frames = read_frames(grab)
        constant = [i for i, f in enumerate(frames) if f.max() == f.min()]
        check(frames.shape == (100, 512, 512) and not constant,
              f"grab: {frames.shape}, constant frames {constant[:10]}")
        check(len({f.tobytes() for f in frames}) > 1, "grab: every frame is the same")


def check_camera_lost(work, camera):
    """The camera goes away a second into a long grab: bxgrab ends by itself and says so."""
    command, env = bxgrab(work, "--device", f"genicam:{camera.address}", "grab", "-n", "1000",
                          "--interval", "0", "-o", os.path.join(work, "lost.ome.tif"), "-e", "20ms",
                          "-w", "0,0,511,511")
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=env)
    out, err = [], []
    readers = [threading.Thread(target=lambda s=s, into=into: into.extend(s), daemon=True)
               for s, into in ((proc.stdout, out), (proc.stderr, err))]
    for reader in readers:
        reader.start()
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and proc.poll() is None and \
            not any(line.startswith("grab: frame") for line in out):
        time.sleep(0.05)
    time.sleep(1)
    camera.stop(signal.SIGKILL)
    try:
        proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=10)
        check(False, "camera lost: bxgrab still running 60 s after the camera went away")
        return
    for reader in readers:
        reader.join(timeout=5)
    said = "".join(err)
    check(proc.returncode != 0 or "fail" in said.lower() or "error" in said.lower(),
          f"camera lost: exit {proc.returncode}, {''.join(out)[-500:]} {said[-500:]}")


def main():
    if FAKE_CAMERA is None:
        print("arv-fake-gv-camera-0.8 is not installed: skipped")
        return SKIP
    code = rerun_in_private_network()
    if code is not None:
        return code
    with tempfile.TemporaryDirectory() as work:
        # A device that is not there: a camera failure that names it.
        r = run(work, "--device", "genicam:NoSuchCamera", "info")
        check(r.returncode == 3 and "NoSuchCamera" in r.stderr,
              f"missing device: {r.returncode} {r.stderr[-500:]}")

        address = free_address()
        if address is None:
            print(f"no loopback address with UDP port {GVCP_PORT} free: skipped")
            return SKIP
        with FakeCamera(address) as camera:
            if not camera.wait_ready():
                check(False, f"the fake camera at {address} did not answer: "
                             f"{camera.proc.stderr.read() if camera.proc.poll() is not None else ''}")
            else:
                check_camera(work, address)
        with FakeCamera(address) as camera:
            if camera.wait_ready():
                check_camera_lost(work, camera)
            else:
                check(False, f"the fake camera at {address} did not answer a second time")
    print("bxgrab GenICam end-to-end:", "ok" if not failures else f"{len(failures)} checks failed")
    return 1 if failures else 0


sys.exit(main())
