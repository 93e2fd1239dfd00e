"""bxgrab as a script uses it: registration, late-bound members, failures, images, events."""
import ctypes
import os
import sys
import threading
import time

import numpy as np
import pytest

import bxgrab


def wait_for(condition, seconds=20.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def test_registration_makes_the_progid_creatable_and_unregistration_takes_it_back(registry,
                                                                                   monkeypatch):
    assert "{BCCBBD78-5C3C-43D3-BC0E-5ED84C50B23A}" in registry.read_text()
    with bxgrab.Dispatch("{BCCBBD78-5C3C-43D3-BC0E-5ED84C50B23A}") as by_clsid:
        assert by_clsid.NumberOfFrames >= 1
    bxgrab.unregister_module()
    with pytest.raises(bxgrab.AutomationError) as failure:
        bxgrab.Dispatch("Korvane Camera")
    assert failure.value.hresult == bxgrab.CO_E_CLASSSTRING
    assert "Korvane Camera" in str(failure.value)
    monkeypatch.setenv("BXGRAB_MODULE", "/nonexistent/module.so")
    with pytest.raises(ValueError, match="cannot load /nonexistent/module.so"):
        bxgrab.register_module()


def test_properties_round_trip_and_methods_read_as_callables(cam):
    cam.ExposureTime = 2500
    assert cam.exposuretime == 2500  # names are matched without regard to case
    cam.DisplayEnabled = False
    assert cam.DisplayEnabled is False
    snap = cam.Snap
    assert callable(snap) and "Snap" in repr(snap)
    assert "ExposureTime" in dir(cam)
    with pytest.raises(AttributeError, match="NoSuchMember"):
        cam.NoSuchMember


@pytest.mark.parametrize("value, code", [
    ("abc", bxgrab.DISP_E_TYPEMISMATCH),   # text that is no number
    (2 ** 40, bxgrab.DISP_E_OVERFLOW),     # passed as a 64-bit integer, too big for a long
], ids=["text", "too-big"])
def test_bad_values_are_refused_with_their_code(cam, value, code):
    cam.ExposureTime = 1000
    with pytest.raises(bxgrab.AutomationError) as failure:
        cam.ExposureTime = value
    assert failure.value.hresult == code
    assert failure.value.what == "ExposureTime"
    assert cam.ExposureTime == 1000


def test_numpy_numbers_pass_as_their_python_kind(cam):
    cam.ExposureTime = np.int64(1500)
    assert cam.ExposureTime == 1500
    cam.MapMax = np.float32(200.5)
    assert cam.MapMax == pytest.approx(200.5)


def test_values_without_an_automation_type_fail_before_the_call(cam):
    with pytest.raises(ValueError):
        cam.ExposureTime = 2 ** 70
    with pytest.raises(TypeError):
        cam.ExposureTime = [1]


def test_get_image_before_any_image_raises_the_controls_text(cam):
    with pytest.raises(bxgrab.AutomationError) as failure:
        cam.GetImage()
    assert failure.value.description == "no acquisition image present!"
    assert failure.value.source == "Korvane Camera"
    assert "no acquisition image present!" in str(failure.value)


def test_snap_gives_one_frame_of_the_windows_size(cam):
    cam.ExposureTime = 2000
    cam.Snap()
    img = bxgrab.image(cam.GetImage())
    assert img.pixels.shape == (1, cam.GrabWindowHeight, cam.GrabWindowWidth)
    assert img.pixels.dtype == np.uint16
    assert img.pixels.any(), "the simulated camera draws a pattern"
    assert len(img.timestamps) == 1
    assert "[Grab Parameters]" in img.description


def test_grab_of_five_frames_has_rising_time_stamps(cam):
    cam.NumberOfFrames = 5
    cam.Grab()
    img = bxgrab.image(cam.GetImage())
    assert img.pixels.shape[0] == 5
    assert len(img.timestamps) == 5
    assert all(a <= b for a, b in zip(img.timestamps, img.timestamps[1:])), img.timestamps
    assert img.timestamps[-1] > img.timestamps[0]


def test_image_copies_the_pixels_and_refuses_unknown_handles(cam):
    cam.Snap()
    handle = cam.GetImage()
    first = bxgrab.image(handle)
    first.pixels[:] = 0
    assert bxgrab.image(handle).pixels.any(), "the store's pixels are not shared"
    with pytest.raises(ValueError, match="no image"):
        bxgrab.image(0x7FFFFFF0)


class Vector(ctypes.Structure):
    _fields_ = [("d", ctypes.c_int32 * 10)]


@pytest.fixture
def store():
    """The image store the extension uses (the same library, so the same images)."""
    lib = os.path.join(os.path.dirname(bxgrab._bxgrab.__file__), "..", "..", "lib")
    mm = ctypes.CDLL(os.path.join(lib, "libbx_mm40.so.0"))
    mm.MM_GetData.argtypes = [ctypes.c_uint32, Vector]
    mm.MM_Lock.restype = ctypes.c_void_p
    mm.MM_Lock.argtypes = [ctypes.c_uint32, ctypes.c_int32]
    return mm


def test_colour_pixels_come_red_first_with_the_comment(store):
    bgr24 = 8
    handle = store.MM_CreateImage(3, 2, bgr24, 256)
    assert handle
    try:
        leaf = store.MM_GetData(handle, Vector())
        pixels = store.MM_Lock(leaf, 1)
        ctypes.memmove(pixels, bytes(range(18)), 18)  # blue, green, red per pixel
        store.MM_Unlock(leaf, 1)
        store.MM_WriteComment(handle, b"colour\r\n", 9)
        img = bxgrab.image(handle)
    finally:
        store.MM_DeleteImage(handle)
    assert img.pixels.shape == (1, 2, 3, 3) and img.pixels.dtype == np.uint8
    assert img.pixels[0, 0, 0].tolist() == [2, 1, 0]
    assert img.pixels[0, 1, 2].tolist() == [17, 16, 15]
    assert img.description == "colour\r\n" and img.data_type == bgr24


def test_events_reach_callbacks_by_name_until_they_are_taken_off(cam):
    seen = []
    callback = cam.on("OnProcessUpdate", lambda: seen.append("update"))
    cam.NumberOfFrames = 3
    cam.Grab()
    assert seen, "a grab reports its progress"
    cam.off("OnProcessUpdate", callback)
    count = len(seen)
    cam.Snap()
    assert len(seen) == count
    with pytest.raises(ValueError, match="OnProcessUpdate"):
        cam.on("OnNoSuchEvent", print)


def test_connect_takes_the_handlers_methods_named_like_events(cam):
    class Handler:
        def __init__(self):
            self.updates = 0

        def OnProcessUpdate(self):
            self.updates += 1

        def NotAnEvent(self):
            raise AssertionError("not an event")

    handler = Handler()
    assert cam.connect(handler) == ["OnProcessUpdate"]
    cam.Snap()
    assert handler.updates >= 1


def test_a_failing_callback_is_reported_and_the_call_goes_on(cam, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    cam.on("OnProcessUpdate", lambda: 1 / 0)
    cam.Snap()
    assert cam.GetImage() > 0
    assert reported and reported[0].exc_type is ZeroDivisionError


def test_live_video_shows_frames_and_raises_events_on_its_own_thread(cam):
    view = bxgrab.HeadlessView()
    threads = set()
    cam.on("OnLiveFrameUpdate", lambda: threads.add(threading.get_ident()))
    cam.ImageWindow = view.handle
    assert cam.ImageWindow == view.handle
    cam.EnableLiveVideo()
    try:
        assert wait_for(lambda: view.frames_shown >= 3 and threads), view.frames_shown
    finally:
        cam.DisableLiveVideo()
    frame = view.last_frame()
    assert frame is not None and frame.shape == (cam.GrabWindowHeight, cam.GrabWindowWidth)
    assert threading.get_ident() not in threads, "live frames come from the live thread"


def test_a_closed_object_refuses_calls_and_closes_twice_harmlessly(registry, settings):
    cam = bxgrab.Dispatch("Korvane Camera")
    cam.on("OnProcessUpdate", print)
    cam.close()
    cam.close()
    assert "closed" in repr(cam)
    with pytest.raises(ValueError, match="closed"):
        cam.ExposureTime
