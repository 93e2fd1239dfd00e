"""The Python host's tests: each test gets its own registry file with the module registered,
and a control created by ProgID with an empty settings file, opened on the simulated camera.
The environment is set before bxgrab is imported, since the clock reads its warp once."""
import os
import tempfile

os.environ["BX_TIME_WARP"] = "5"  # live video stalls at much higher warps
os.environ.pop("KVCAM_SIM_CONFIG", None)
os.environ.setdefault("BX_REGISTRY_FILE", os.path.join(tempfile.mkdtemp(), "classes.reg"))

import pytest  # noqa: E402

import bxgrab  # noqa: E402


@pytest.fixture
def registry(tmp_path, monkeypatch):
    path = tmp_path / "classes.reg"
    monkeypatch.setenv("BX_REGISTRY_FILE", str(path))
    bxgrab.register_module()
    return path


@pytest.fixture
def settings(tmp_path):
    path = tmp_path / "settings.ini"
    path.write_text("[KorvaneFW Camera]\n")
    return str(path)


@pytest.fixture
def cam(registry, settings):
    control = bxgrab.Dispatch("Korvane Camera")
    control.LoadFromRegistry(settings)
    control.Initialise()
    yield control
    control.Quit()
    control.close()
