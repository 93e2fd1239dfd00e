"""Bad input at bxgrab's and bxgrab-gui's boundaries: arguments, settings files and camera
description files. Each row says what the input must answer: the exit code, words of the one
line that names the problem, and that nothing changed (the settings file byte for byte, no
output file left). check_bxgrab.py has the cases a user meets first; these are the rest.

Usage: check_bad_input.py BXGRAB [BXGRAB_GUI] [--table]
--table prints the rows as a markdown table (input, answer, result)."""
import hashlib
import os
import stat
import subprocess
import sys
import tempfile

args = [a for a in sys.argv[1:] if a != "--table"]
TABLE = "--table" in sys.argv[1:]
BXGRAB = args[0]
GUI = args[1] if len(args) > 1 else None
failures, rows = [], []


def digest(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


def run(program, argv, env, timeout=60):
    """(exit code or "hang", stderr)."""
    try:
        r = subprocess.run([program, *argv], capture_output=True, timeout=timeout, env=env,
                           stdin=subprocess.DEVNULL)
        return r.returncode, r.stderr.decode(errors="replace")
    except subprocess.TimeoutExpired as e:
        return "hang", (e.stderr or b"").decode(errors="replace")


def case(what, argv, code, said, program=None, settings=None, output=None, timeout=60):
    """Runs one bad input; `settings` is the file that must stay as it was, `output` the file
    that must not appear."""
    env = dict(os.environ, BX_REGISTRY_FILE=REGISTRY, BX_TIME_WARP="20",
               QT_QPA_PLATFORM="offscreen")
    env.pop("KVCAM_SIM_CONFIG", None)
    before = digest(settings) if settings else None
    got, err = run(program or BXGRAB, argv, env, timeout)
    problems = []
    if got != code:
        problems.append(f"exit {got}, expected {code}")
    if said.lower() not in err.lower():
        problems.append(f"stderr lacks {said!r}")
    if settings and digest(settings) != before:
        problems.append("settings file changed")
    if output and os.path.exists(output):
        problems.append("output file left")
        os.remove(output)
    lines = [l for l in err.strip().splitlines()
             if l and not l.startswith(("Run with --help", "QStandardPaths", "This plugin"))]
    line = lines[0] if lines else ""
    answer = f"exit {got}: {line[:90]}"
    result = "FAIL: " + "; ".join(problems) if problems else "ok"
    rows.append((what, answer, result))
    if problems:
        failures.append(what)
        print(f"FAIL: {what}: {'; '.join(problems)}\n  {err[-400:]}")


def write(name, data):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    return path


with tempfile.TemporaryDirectory() as work:
    REGISTRY = os.path.join(work, "classes.reg")
    # A settings file each case must leave as it is.
    kept = write("kept.ini", "[KorvaneFW Camera]\nBrightness=300\n")
    out = os.path.join(work, "out.ome.tif")

    def snap(*extra):
        return ["--settings", kept, "snap", "-o", out, *extra]

    # Arguments.
    case("unknown option --bogus", ["--settings", kept, "--bogus", "info"], 2, "--bogus",
         settings=kept)
    case("unknown command snapp", ["--settings", kept, "snapp"], 2, "subcommand", settings=kept)
    case("--gain abc", snap("--gain", "abc"), 2, "--gain", settings=kept, output=out)
    case("--gain 5000", snap("--gain", "5000"), 2, "not in range", settings=kept, output=out)
    case("--gain -1", snap("--gain=-1"), 2, "--gain", settings=kept, output=out)
    case("--offset 99999999999", snap("--offset", "99999999999"), 2, "--offset",
         settings=kept, output=out)
    case("--exposure=-5ms", snap("--exposure=-5ms"), 2, "exposure must be", settings=kept,
         output=out)
    case("--exposure 0", snap("--exposure", "0"), 2, "exposure must be", settings=kept,
         output=out)
    case("--exposure 99999999s", snap("--exposure", "99999999s"), 2, "exposure must be",
         settings=kept, output=out)
    case("--exposure 1e400", snap("--exposure", "1e400"), 2, "exposure must be",
         settings=kept, output=out)
    case("--window 1,2,3", snap("--window", "1,2,3"), 2, "LEFT,TOP,RIGHT,BOTTOM",
         settings=kept, output=out)
    case("--window 10,10,5,5 (right < left)", snap("--window", "10,10,5,5"), 2,
         "LEFT,TOP,RIGHT,BOTTOM", settings=kept, output=out)
    case("--window=-1,0,10,10", snap("--window=-1,0,10,10"), 2, "LEFT,TOP,RIGHT,BOTTOM",
         settings=kept, output=out)
    case("--window 0,0,5000,5000 (beyond the sensor)", snap("--window", "0,0,5000,5000"), 2,
         "beyond the 1392 x 1040 sensor", settings=kept, output=out)
    case("--binning abc", snap("--binning", "abc"), 2, "--binning", settings=kept, output=out)
    case("--binning 0", snap("--binning", "0"), 2, "not offered", settings=kept, output=out)
    case("--binning 3 (not one of the camera's)", snap("--binning", "3"), 2, "not offered",
         settings=kept, output=out)
    case("--binning 99", snap("--binning", "99"), 2, "not offered", settings=kept, output=out)
    case("--depth 16", snap("--depth", "16"), 2, "--depth", settings=kept, output=out)
    case("-o without a value", ["--settings", kept, "snap", "-o"], 2, "--output",
         settings=kept)
    case("-o name without .tif", ["--settings", kept, "snap", "-o", os.path.join(work, "out")],
         2, "must end in", settings=kept, output=os.path.join(work, "out"))
    case("-o out.TIFX", ["--settings", kept, "snap", "-o", os.path.join(work, "out.TIFX")], 2,
         "must end in", settings=kept, output=os.path.join(work, "out.TIFX"))
    case("-o in a missing folder", ["--settings", kept, "grab", "-n", "2", "-o",
                                    os.path.join(work, "missing", "g.ome.tif")], 4,
         "does not exist", settings=kept)
    case("grab -n 99999999999", ["--settings", kept, "grab", "-n", "99999999999", "-o", out],
         2, "--frames", settings=kept, output=out)
    case("grab --interval=-5ms", ["--settings", kept, "grab", "-n", "2", "--interval=-5ms",
                                  "-o", out], 2, "interval", settings=kept, output=out)
    case("grab --pretrigger=-1", ["--settings", kept, "grab", "-n", "2", "--pretrigger=-1",
                                  "-o", out], 2, "seconds", settings=kept, output=out)
    case("live --seconds nan", ["--settings", kept, "live", "--seconds", "nan"], 2, "seconds",
         settings=kept)
    case("live --seconds 1e30", ["--settings", kept, "live", "--seconds", "1e30"], 2,
         "seconds", settings=kept)
    case("--trace-level 11", ["--settings", kept, "--trace-level", "11", "info"], 2,
         "--trace-level", settings=kept)
    case("--answer maybe", ["--settings", kept, "--answer", "maybe", "info"], 2, "--answer",
         settings=kept)
    case("--settings with no name", ["--settings", "", "info"], 2, "needs a file name")

    # Settings files: the file is read, never written, and what cannot be read is refused.
    garbage = write("garbage.ini", bytes(range(256)) * 16 + b"\x00=\x00\n[\xff\n")
    case("settings file of binary garbage (factory settings)",
         ["--settings", garbage, "snap", "-o", out, "-e", "1ms"], 0, "", settings=garbage)
    if os.path.exists(out):
        os.remove(out)
    huge = write("huge.ini", "[KorvaneFW Camera]\nExposure Time=99999999999999999999\n"
                             "Binning Factor=1000000\nBrightness=-99999\nContrast=1e99\n")
    env = dict(os.environ, BX_REGISTRY_FILE=REGISTRY)
    env.pop("KVCAM_SIM_CONFIG", None)
    r = subprocess.run([BXGRAB, "--settings", huge, "settings", "show"], capture_output=True,
                       text=True, env=env, timeout=60)
    shown = {line[:30].strip(): line[30:].split() for line in r.stdout.splitlines()}
    clamped = (shown.get("Exposure Time") == ["2147483647", "camera"] and
               shown.get("Binning Factor") == ["1", "camera"] and
               shown.get("Brightness", [""])[0] == "0" and shown.get("Contrast", [""])[0] == "0")
    rows.append(("settings file with huge and negative values",
                 f"exit {r.returncode}: each value taken into the camera's range, shown as "
                 "source \"camera\"", "ok" if r.returncode == 0 and clamped else "FAIL"))
    if r.returncode != 0 or not clamped:
        failures.append("huge settings values")
        print(f"FAIL: huge settings values: {r.returncode} {r.stdout[:600]} {r.stderr[-300:]}")
    case("settings path is a folder", ["--settings", work, "info"], 2, "is a folder")
    fifo = os.path.join(work, "settings.fifo")
    os.mkfifo(fifo)
    case("settings path is a named pipe", ["--settings", fifo, "info"], 2, "not a file",
         timeout=20)
    case("settings load of a named pipe", ["--settings", kept, "settings", "load", fifo], 2,
         "not a file", settings=kept, timeout=20)
    unreadable = write("unreadable.ini", "[KorvaneFW Camera]\nBrightness=1\n")
    os.chmod(unreadable, 0)
    if os.geteuid() != 0:  # root reads any file
        case("unreadable settings file", ["--settings", unreadable, "info"], 2,
             "cannot be read", settings=None)
    os.chmod(unreadable, stat.S_IRUSR | stat.S_IWUSR)

    # Camera description files: the line and key at fault are named.
    def described(what, text, said):
        path = write("camera.ini", text)
        case(what, ["--settings", kept, "--camera", path, "info"], 2, said, settings=kept)

    described("camera: unknown section", "[bogus]\nx = 1\n", "[bogus] x: unknown key")
    described("camera: bad value", "[sensor]\nwidth = abc\n", "camera.ini:2: [sensor] width")
    described("camera: width beyond the sensor limits", "[sensor]\nwidth = 100000\n",
              "[sensor] width")
    described("camera: binning larger than the sensor",
              "[sensor]\nwidth = 32\nheight = 32\n[binning]\ntable = 1, 64\n",
              "larger than the sensor width 32")
    described("camera: NUL byte in a value", "[camera]\ncount = 1\x00junk\n",
              "camera.ini:2: [camera] count")
    described("camera: binary garbage", bytes(range(1, 256)).decode("latin-1"),
              "bad camera description")
    case("camera: path is a folder", ["--settings", kept, "--camera", work, "info"], 2,
         "not found", settings=kept)
    case("camera: path is a named pipe", ["--settings", kept, "--camera", fifo, "info"], 2,
         "not found", settings=kept, timeout=20)

    # bxgrab-gui: mistakes in its arguments are said on standard error and end the program
    # with exit 2, also when no one is at the screen.
    if GUI:
        for what, argv, said in [
            ("bxgrab-gui --bogus", ["--bogus"], "bogus"),
            ("bxgrab-gui --settings without a value", ["--settings"], "settings"),
            ("bxgrab-gui --settings ''", ["--settings", ""], "needs a file name"),
            ("bxgrab-gui unexpected argument", ["extra"], "unexpected argument: extra"),
            ("bxgrab-gui --device usb:1", ["--device", "usb:1"], "usb:1"),
        ]:
            case(what, argv, 2, said, program=GUI, timeout=8)

    if TABLE:
        print("| input | answer | result |\n|---|---|---|")
        for what, answer, result in rows:
            print(f"| {what} | {answer.replace('|', '/')} | {result} |")
    print(f"{len(rows)} bad inputs, {len(failures)} answered wrongly")
    sys.exit(1 if failures else 0)
