"""bxgrab: drive the camera control from Python, as a scripting host drives an automation object.

    import bxgrab
    bxgrab.register_module()                  # once: writes the class into the registry
    cam = bxgrab.Dispatch("Korvane Camera")   # ProgID or "{CLSID}"
    cam.LoadFromRegistry("/path/settings.ini"); cam.Initialise()
    cam.ExposureTime = 2500                   # property put
    cam.Snap()                                # method call
    img = bxgrab.image(cam.GetImage())        # the store image, copied into numpy

Attribute reads, writes and calls go through GetIDsOfNames (names cached per object) and
Invoke. A read of a property returns its value; a read of a method returns a callable. Failures
raise AutomationError.

Events: cam.on("OnProcessUpdate", callback) or cam.connect(handler) (an object whose methods
are named like the events). Callbacks run with the GIL taken, possibly on the control's
live-video thread, so keep them short and do not call the control from there.

image(handle) returns an Image: pixels (numpy array, frames x height x width, with a last axis
of 3 (red, green, blue) for 24-bit colour; uint8, uint16 or uint32 by the store's data type),
timestamps (one float per frame, the time stamp in milliseconds), description (the image's
comment text) and data_type (the store's type code).
"""
import atexit
import glob
import os
import threading
import weakref
from dataclasses import dataclass, field

__all__ = ["AutomationError", "Dispatch", "HeadlessView", "Image", "image", "register_module",
           "unregister_module", "module_path"]

# Result codes scripts compare with (unsigned, as the control's documentation prints them).
S_OK = 0x00000000
E_FAIL = 0x80004005
E_INVALIDARG = 0x80070057
DISP_E_MEMBERNOTFOUND = 0x80020003
DISP_E_PARAMNOTFOUND = 0x80020004
DISP_E_TYPEMISMATCH = 0x80020005
DISP_E_UNKNOWNNAME = 0x80020006
DISP_E_EXCEPTION = 0x80020009
DISP_E_OVERFLOW = 0x8002000A
DISP_E_BADPARAMCOUNT = 0x8002000E
CO_E_CLASSSTRING = 0x800401F3
REGDB_E_CLASSNOTREG = 0x80040154

_CODE_NAMES = {value: name for name, value in globals().items()
               if name.isupper() and isinstance(value, int) and name != "S_OK"}


class AutomationError(Exception):
    """A failed automation call: hresult (unsigned 32-bit), description (the error text the
    object gave, may be empty), source (who raised it) and what (the member or step)."""

    def __init__(self, hresult, description="", source="", what=""):
        self.hresult = hresult & 0xFFFFFFFF
        self.description = description
        self.source = source
        self.what = what
        code = f"0x{self.hresult:08X}"
        if self.hresult in _CODE_NAMES:
            code += f" ({_CODE_NAMES[self.hresult]})"
        text = f"{what}: " if what else ""
        text += f"{description} [{code}]" if description else f"failed with {code}"
        super().__init__(text)


from . import _bxgrab  # noqa: E402  (the native half raises AutomationError, defined above)

_INVOKE_FUNC, _INVOKE_GET, _INVOKE_PUT, _INVOKE_PUTREF = 1, 2, 4, 8
_METHOD = _bxgrab.DISPATCH_METHOD
_GET = _bxgrab.DISPATCH_PROPERTYGET
_PUT = _bxgrab.DISPATCH_PROPERTYPUT
_PUTREF = _bxgrab.DISPATCH_PROPERTYPUTREF


def module_path(path=None):
    """The control module: `path`, else env BXGRAB_MODULE, else libRIROVoruzarUZ.so in the
    build tree's lib/ folder beside the one holding this package."""
    if path:
        return os.fspath(path)
    if os.environ.get("BXGRAB_MODULE"):
        return os.environ["BXGRAB_MODULE"]
    lib = os.path.join(os.path.dirname(os.path.abspath(_bxgrab.__file__)), "..", "..", "lib")
    found = sorted(glob.glob(os.path.join(lib, "libRIROVoruzarUZ.so*")), key=len)
    if not found:
        raise FileNotFoundError(f"no libRIROVoruzarUZ.so in {os.path.normpath(lib)}; "
                                "pass a path or set BXGRAB_MODULE")
    return os.path.normpath(found[0])


def register_module(path=None):
    """Loads the control module and calls its DllRegisterServer."""
    _bxgrab.register_module(module_path(path))


def unregister_module(path=None):
    """Loads the control module and calls its DllUnregisterServer."""
    _bxgrab.unregister_module(module_path(path))


class HeadlessView(_bxgrab.HeadlessView):
    """A view without a screen, registered in the handle table: assign its `handle` to the
    control's ImageWindow. `frames_shown` counts what the control showed; `last_frame()` is the
    last frame copied (numpy, as the store keeps it) or None."""


@dataclass
class Image:
    pixels: "object"
    timestamps: list = field(default_factory=list)
    description: str = ""
    data_type: int = 0


def image(handle):
    """The store image `handle` (from GetImage) as an Image, its pixels copied."""
    pixels, stamps, description, data_type = _bxgrab.read_image(int(handle))
    return Image(pixels, list(stamps), description, data_type)


_live_objects = weakref.WeakSet()


def _wrap(value):
    return Dispatch(value) if isinstance(value, _bxgrab.Object) else value


def _unwrap(value):
    return value._obj if isinstance(value, Dispatch) else value


class _Method:
    """A method of a Dispatch object, bound by its DISPID."""

    def __init__(self, owner, name, dispid, flags):
        self._owner, self._name, self._dispid, self._flags = owner, name, dispid, flags

    def __call__(self, *args):
        return self._owner._invoke(self._name, self._dispid, self._flags, args)

    def __repr__(self):
        return f"<method {self._name} of {self._owner!r}>"


class Dispatch:
    """An automation object reached by name. Dispatch("ProgID") or Dispatch("{CLSID}") creates
    one in process; objects the control hands out come back as Dispatch too."""

    def __init__(self, name_or_object):
        obj = name_or_object
        if not isinstance(obj, _bxgrab.Object):
            obj = _bxgrab.Object.create(str(name_or_object))
        d = self.__dict__
        d["_obj"] = obj
        d["_ids"] = {}          # lower-case name -> DISPID
        d["_kinds"] = None      # DISPID -> [MemberKind], from the type description
        d["_handlers"] = {}     # event name -> [callables]
        d["_events"] = None     # DISPID -> event name
        d["_cookie"] = None
        d["_lock"] = threading.RLock()
        _live_objects.add(self)

    # ---- names and calls ----
    def _dispid(self, name):
        key = name.lower()
        ids = self.__dict__["_ids"]
        if key not in ids:
            try:
                ids[key] = self._obj.id_of(name)
            except AutomationError as error:
                if error.hresult == DISP_E_UNKNOWNNAME:
                    raise AttributeError(f"the object has no member {name!r}") from None
                raise
        return ids[key]

    def _member_kinds(self, dispid):
        if self.__dict__["_kinds"] is None:
            self.__dict__["_kinds"] = {k: [m.invkind for m in v]
                                       for k, v in self._obj.member_kinds().items()}
        return self.__dict__["_kinds"].get(dispid)

    def _invoke(self, name, dispid, flags, args):
        return _wrap(self._obj.invoke(dispid, flags, tuple(_unwrap(a) for a in args), name))

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        dispid = self._dispid(name)
        kinds = self._member_kinds(dispid)
        if kinds is None:  # no type description: let the object decide
            return self._invoke(name, dispid, _METHOD | _GET, ())
        if _INVOKE_GET in kinds:
            return self._invoke(name, dispid, _GET, ())
        if _INVOKE_FUNC in kinds:
            return _Method(self, name, dispid, _METHOD)
        raise AttributeError(f"{name} cannot be read")

    def __setattr__(self, name, value):
        if name.startswith("_"):
            raise AttributeError(f"cannot set {name}")
        dispid = self._dispid(name)
        kinds = self._member_kinds(dispid) or []
        by_ref = isinstance(value, Dispatch) and _INVOKE_PUTREF in kinds and _INVOKE_PUT not in kinds
        self._invoke(name, dispid, _PUTREF if by_ref else _PUT, (value,))

    def __dir__(self):
        return sorted(set(self._obj.member_names().values()) | set(type(self).__dict__))

    def __repr__(self):
        return f"<bxgrab.Dispatch{' (closed)' if self._obj.closed else ''}>"

    # ---- events ----
    def event_names(self):
        """Names of the object's events, from its class's type description."""
        return sorted(self._event_map().values())

    def _event_map(self):
        if self.__dict__["_events"] is None:
            self.__dict__["_events"] = dict(self._obj.event_names())
        return self.__dict__["_events"]

    def _fire(self, dispid, args):
        name = self._event_map().get(dispid)
        with self._lock:
            handlers = list(self._handlers.get(name, ()))
        for handler in handlers:
            handler(*args)

    def on(self, event, callback):
        """Calls `callback(*args)` for every `event` (a name the events interface lists)."""
        names = {n.lower(): n for n in self._event_map().values()}
        if event.lower() not in names:
            raise ValueError(f"no event {event!r}; the object raises {sorted(names.values())}")
        with self._lock:
            self._handlers.setdefault(names[event.lower()], []).append(callback)
        if self._cookie is None:
            # The sink holds a weak reference: a forgotten object still goes away.
            me = weakref.ref(self)

            def fire(dispid, args):
                target = me()
                if target is not None:
                    target._fire(dispid, args)
            self.__dict__["_cookie"] = self._obj.advise(fire)
        return callback

    def off(self, event, callback=None):
        """Removes one callback of `event`, or all of them."""
        with self._lock:
            for name in list(self._handlers):
                if name.lower() == event.lower():
                    if callback is None:
                        del self._handlers[name]
                    elif callback in self._handlers[name]:
                        self._handlers[name].remove(callback)

    def connect(self, handler):
        """Connects every method of `handler` named like an event; returns the names taken."""
        taken = []
        for name in self._event_map().values():
            method = getattr(handler, name, None)
            if callable(method):
                self.on(name, method)
                taken.append(name)
        return taken

    def close(self):
        """Unadvises the event sink and releases the object. Safe to call twice."""
        obj = self.__dict__.get("_obj")
        if obj is None:
            return
        self.__dict__["_cookie"] = None
        with self._lock:
            self._handlers.clear()
        obj.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass


@atexit.register
def _close_all():
    # Before the interpreter goes, so no event finds it half torn down.
    for obj in list(_live_objects):
        obj.close()
