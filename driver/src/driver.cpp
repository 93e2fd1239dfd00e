// The driver's entry points: process-wide state (loaded flag, camera list, open cameras by
// handle, the chosen description and the fault table) and the C functions over it.
//
// Locking: `g.mu` guards the driver state only. Each call looks its camera up under it, takes
// a shared reference and lets go before talking to the camera, so a slow camera call never
// blocks the driver and no driver lock is held while a completion callback runs.
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "camera.h"
#include "demosaic.h"
#include "faults.h"
#include "genicam/backend.h"
#include "model.h"
#include "settings.h"

namespace kvcam {
namespace {

struct DriverState {
    std::mutex mu;
    bool loaded = false;
    std::shared_ptr<const CameraModel> model;  // of every listed camera while loaded
    std::map<KvCamHandle, std::shared_ptr<Camera>> open;
    KvCamHandle nextHandle = 1;
    std::optional<std::string> chosenDescription;  // test API; overrides KVCAM_SIM_CONFIG
    std::string chosenOrigin;                      // its file path, for messages
    std::string installedDescription;              // whose fault rules are armed
    bool descriptionInstalled = false;
    std::string lastError;
    FaultTable faults;
    // The GenICam backend serves every call while it is the loaded one.
    std::atomic<bool> genicam{false};
};

DriverState& State() {
    static DriverState* state = new DriverState;  // never destroyed: callbacks may outlive exit
    return *state;
}

bool Genicam() {
    return State().genicam.load();
}

// KVCAM_DEVICE chooses the backend over the description: "genicam:<Aravis device id>" or
// "simulated". False, with the reason in `error`, for any other text.
bool ApplyDeviceVariable(CameraModel& model, std::string& error) {
    const char* variable = std::getenv("KVCAM_DEVICE");
    if (variable == nullptr || *variable == '\0') return true;
    const std::string text = variable;
    if (text == "simulated") {
        model.backend = Backend::Simulated;
        return true;
    }
    if (text.rfind("genicam:", 0) == 0 && text.size() > 8) {
        model.backend = Backend::Genicam;
        model.device = text.substr(8);
        return true;
    }
    error = "KVCAM_DEVICE: expected genicam:<device id> or simulated, not '" + text + "'";
    return false;
}

// A load that chose the GenICam backend: the cameras are found through Aravis.
int32_t LoadGenicam(DriverState& g, const std::shared_ptr<CameraModel>& model) {
    std::string error;
    const int32_t result = genicam::Load(*model, error);
    std::lock_guard lk(g.mu);
    g.lastError = error;
    if (result != KVCAM_OK) return result;
    g.model = model;
    g.loaded = true;
    g.genicam = true;
    return KVCAM_OK;
}

// A description to parse and the name its messages give it (a file path, say).
struct Description {
    std::string text;
    std::string origin = "camera description";
};

// Reads a description file whole; false when it cannot be read.
bool ReadDescriptionFile(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return !in.bad();
}

// The description for the next load: the test API's choice, else the file named by
// KVCAM_SIM_CONFIG, else none (the embedded default). The file is read without the driver
// lock, so a slow file never holds up other calls.
bool NextDescription(DriverState& g, Description& d) {
    {
        std::lock_guard lk(g.mu);
        if (g.chosenDescription) {
            d.text = *g.chosenDescription;
            d.origin = g.chosenOrigin;
            return true;
        }
    }
    const char* path = std::getenv("KVCAM_SIM_CONFIG");
    if (path == nullptr || *path == '\0') return true;
    d.origin = path;
    if (ReadDescriptionFile(path, d.text)) return true;
    std::lock_guard lk(g.mu);
    g.lastError = std::string(path) + ": cannot read the camera description (KVCAM_SIM_CONFIG)";
    return false;
}

// Checks a description for the next load and takes it, or keeps the previous choice and says
// what is wrong.
int32_t ChooseDescription(std::string text, std::string origin) {
    DriverState& g = State();
    CameraModel probe;
    std::string error;
    const bool ok = ParseDescription(text, probe, error, origin);
    std::lock_guard lk(g.mu);
    g.lastError = error;
    if (!ok) return KVCAM_ERR_OUT_OF_RANGE;
    g.chosenDescription = std::move(text);
    g.chosenOrigin = std::move(origin);
    return KVCAM_OK;
}

std::shared_ptr<Camera> FindCamera(KvCamHandle handle, int32_t& result) {
    DriverState& g = State();
    std::lock_guard lk(g.mu);
    if (!g.loaded) {
        result = KVCAM_ERR_NOT_LOADED;
        return nullptr;
    }
    auto it = g.open.find(handle);
    if (it == g.open.end()) {
        result = KVCAM_ERR_INVALID_HANDLE;
        return nullptr;
    }
    result = KVCAM_OK;
    return it->second;
}

std::shared_ptr<const CameraModel> LoadedModel(int32_t& result) {
    DriverState& g = State();
    std::lock_guard lk(g.mu);
    result = g.loaded ? KVCAM_OK : KVCAM_ERR_NOT_LOADED;
    return g.loaded ? g.model : nullptr;
}

// The texts of a simulated camera: its description's model and serial.
int32_t SimulatedText(const Camera& cam, uint32_t textId, std::string& value) {
    const CameraModel& m = cam.Model();
    switch (textId) {
        case KVCAM_TEXT_BACKEND:
            value = "simulated";
            return KVCAM_OK;
        case KVCAM_TEXT_DEVICE:
            value = "simulated camera " + std::to_string(cam.Id());
            return KVCAM_OK;
        case KVCAM_TEXT_VENDOR:
            value = "simulated";
            return KVCAM_OK;
        case KVCAM_TEXT_MODEL:
            value = m.model;
            return KVCAM_OK;
        case KVCAM_TEXT_SERIAL:
            value = m.serial;
            return KVCAM_OK;
        case KVCAM_TEXT_FIRMWARE:
            value = std::to_string(m.firmwareVersion) + " build " + std::to_string(m.firmwareBuild);
            return KVCAM_OK;
        default:
            return KVCAM_ERR_UNKNOWN_ID;
    }
}

bool ValidCameraId(const CameraModel& m, uint32_t id) {
    return id >= 1 && id <= static_cast<uint32_t>(m.count);
}

// Decodes a block and finds the rules of the camera it belongs to.
int32_t OpenBlock(const KvCamSettings* block, std::shared_ptr<const CameraModel>& model,
                  ParamValues& v, uint32_t* cameraIdOut = nullptr) {
    uint32_t cameraId = 0;
    if (int32_t r = DecodeBlock(block, cameraId, v)) return r;
    int32_t r;
    model = LoadedModel(r);
    if (r != KVCAM_OK) return r;
    if (!ValidCameraId(*model, cameraId)) return KVCAM_ERR_BAD_SETTINGS;
    if (cameraIdOut) *cameraIdOut = cameraId;
    return KVCAM_OK;
}

int32_t ReadSettings(KvCamHandle handle, KvCamSettings* settings, bool defaults) {
    if (settings == nullptr) return KVCAM_ERR_NULL_POINTER;
    if (settings->size != KVCAM_SETTINGS_SIZE) return KVCAM_ERR_BAD_SETTINGS;
    if (Genicam()) return genicam::ReadSettings(handle, settings, defaults);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    const int32_t point = defaults ? KVCAMSIM_FAULT_READ_DEFAULTS : KVCAMSIM_FAULT_READ_SETTINGS;
    if (int32_t code = State().faults.Check(point)) return code;
    EncodeBlock(settings, cam->Id(), defaults ? DefaultValues(cam->Model()) : cam->Current());
    return KVCAM_OK;
}

int32_t ParamLimit(const KvCamSettings* settings, uint32_t paramId, int32_t* value, bool max) {
    if (value == nullptr) return KVCAM_ERR_NULL_POINTER;
    if (Genicam()) return genicam::ParamLimit(settings, paramId, value, max);
    std::shared_ptr<const CameraModel> model;
    ParamValues v;
    if (int32_t r = OpenBlock(settings, model, v)) return r;
    if (!IsKnownParam(paramId)) return KVCAM_ERR_UNKNOWN_ID;
    const int32_t point = max ? KVCAMSIM_FAULT_GET_MAX : KVCAMSIM_FAULT_GET_MIN;
    if (int32_t code = State().faults.Check(point, static_cast<int32_t>(paramId))) return code;
    return max ? ParamMax(*model, v, paramId, *value) : ParamMin(*model, v, paramId, *value);
}

int32_t TableKind(const KvCamSettings* settings, uint32_t paramId, BinningKind kind) {
    if (Genicam()) return genicam::TableKind(settings, paramId, kind == BinningKind::Sparse);
    std::shared_ptr<const CameraModel> model;
    ParamValues v;
    if (int32_t r = OpenBlock(settings, model, v)) return r;
    if (!IsKnownParam(paramId)) return KVCAM_ERR_UNKNOWN_ID;
    const bool binning = paramId >= KVCAM_PARAM_BINNING && paramId <= KVCAM_PARAM_BINNING_V;
    if (binning) return model->binningKind == kind ? KVCAM_OK : KVCAM_ERR_NOT_THIS_KIND;
    // Every other parameter with limits is a plain range.
    return kind == BinningKind::Range ? KVCAM_OK : KVCAM_ERR_NOT_THIS_KIND;
}

}  // namespace
}  // namespace kvcam

using namespace kvcam;

extern "C" {

int32_t KvCam_LoadDriver(void) {
    DriverState& g = State();
    {
        std::lock_guard lk(g.mu);
        if (g.loaded) return KVCAM_ERR_ALREADY_LOADED;
    }
    Description description;
    if (!NextDescription(g, description)) return KVCAM_ERR_NO_CAMERA;
    const std::string& text = description.text;
    auto model = std::make_shared<CameraModel>();
    std::string error;
    bool parsed = ParseDescription(text, *model, error, description.origin);
    if (parsed) parsed = ApplyDeviceVariable(*model, error);
    if (parsed && model->backend == Backend::Genicam) return LoadGenicam(g, model);
    std::lock_guard lk(g.mu);
    if (g.loaded) return KVCAM_ERR_ALREADY_LOADED;  // another thread loaded it meanwhile
    // The problem (or none) of the description this load read, for the host to show.
    g.lastError = error;
    if (!parsed) return KVCAM_ERR_NO_CAMERA;
    // The description's faults are armed once per description, so a reload (say after an
    // injected "already loaded") does not re-arm them.
    if (!g.descriptionInstalled || g.installedDescription != text) {
        g.faults.SetDescriptionRules(model->faults);
        g.installedDescription = text;
        g.descriptionInstalled = true;
    }
    if (int32_t code = g.faults.Check(KVCAMSIM_FAULT_LOAD)) {
        // "Already loaded" means someone else loaded it: the driver is loaded all the same.
        if (code == KVCAM_ERR_ALREADY_LOADED) {
            g.model = model;
            g.loaded = true;
        }
        return code;
    }
    g.model = model;
    g.loaded = true;
    return KVCAM_OK;
}

int32_t KvCam_ReleaseDriver(void) {
    DriverState& g = State();
    if (Genicam()) {
        if (int32_t r = genicam::Release()) return r;
        std::lock_guard lk(g.mu);
        g.genicam = false;
        g.loaded = false;
        g.model.reset();
        return KVCAM_OK;
    }
    std::map<KvCamHandle, std::shared_ptr<Camera>> closing;
    {
        std::lock_guard lk(g.mu);
        if (!g.loaded) return KVCAM_ERR_NOT_LOADED;
        for (auto& [handle, cam] : g.open) {
            if (cam->OnCaptureThread()) return KVCAM_ERR_WRONG_THREAD;
        }
        closing.swap(g.open);
        g.loaded = false;
        g.model.reset();
    }
    for (auto& [handle, cam] : closing) cam->Shutdown();
    return KVCAM_OK;
}

int32_t KvCam_ListCameras(KvCamCameraInfo* list, uint32_t* count) {
    if (count == nullptr || (list == nullptr && *count > 0)) return KVCAM_ERR_NULL_POINTER;
    if (Genicam()) return genicam::List(list, count);
    int32_t r;
    std::shared_ptr<const CameraModel> model = LoadedModel(r);
    if (!model) return r;
    if (int32_t code = State().faults.Check(KVCAMSIM_FAULT_LIST)) {
        *count = 0;
        return code;
    }
    const uint32_t room = *count;
    for (uint32_t i = 0; i < room && i < static_cast<uint32_t>(model->count); ++i) {
        KvCamCameraInfo& e = list[i];
        std::memset(&e, 0, sizeof(e));
        e.cameraId = i + 1;
        e.cameraType = static_cast<uint32_t>(model->type);
        std::strncpy(e.model, model->model.c_str(), sizeof(e.model) - 1);
        std::string serial = model->serial;
        if (i > 0) {
            // Appended piecewise: GCC 12 at -O3 misreads "-" + string as an overlapping copy.
            serial += '-';
            serial += std::to_string(i + 1);
        }
        std::strncpy(e.serial, serial.c_str(), sizeof(e.serial) - 1);
    }
    *count = static_cast<uint32_t>(model->count);
    return KVCAM_OK;
}

int32_t KvCam_OpenCamera(uint32_t cameraId, KvCamHandle* handle) {
    if (handle == nullptr) return KVCAM_ERR_NULL_POINTER;
    DriverState& g = State();
    if (Genicam()) {
        std::string error;
        const int32_t r = genicam::Open(cameraId, handle, error);
        if (!error.empty()) {
            std::lock_guard lk(g.mu);
            g.lastError = error;
        }
        return r;
    }
    std::lock_guard lk(g.mu);
    if (!g.loaded) return KVCAM_ERR_NOT_LOADED;
    if (!ValidCameraId(*g.model, cameraId)) return KVCAM_ERR_NO_CAMERA;
    for (auto& [h, cam] : g.open) {
        if (cam->Id() == cameraId) return KVCAM_ERR_ALREADY_OPEN;
    }
    if (int32_t code = g.faults.Check(KVCAMSIM_FAULT_OPEN)) return code;
    // Handles count up and are never reused while loaded, so a stale handle stays invalid.
    KvCamHandle h = g.nextHandle++;
    if (g.nextHandle == 0) g.nextHandle = 1;
    g.open.emplace(h, std::make_shared<Camera>(cameraId, g.model, g.faults));
    *handle = h;
    return KVCAM_OK;
}

int32_t KvCam_CloseCamera(KvCamHandle handle) {
    if (Genicam()) return genicam::Close(handle);
    DriverState& g = State();
    std::shared_ptr<Camera> cam;
    {
        std::lock_guard lk(g.mu);
        if (!g.loaded) return KVCAM_ERR_NOT_LOADED;
        auto it = g.open.find(handle);
        if (it == g.open.end()) return KVCAM_ERR_INVALID_HANDLE;
        if (it->second->OnCaptureThread()) return KVCAM_ERR_WRONG_THREAD;
        if (int32_t code = g.faults.Check(KVCAMSIM_FAULT_CLOSE)) return code;
        cam = it->second;
        g.open.erase(it);
    }
    cam->Shutdown();
    return KVCAM_OK;
}

int32_t KvCam_Version(uint16_t* major, uint16_t* minor) {
    if (major == nullptr || minor == nullptr) return KVCAM_ERR_NULL_POINTER;
    int32_t r;
    std::shared_ptr<const CameraModel> model = LoadedModel(r);
    const CameraModel fallback;
    *major = model ? model->versionMajor : fallback.versionMajor;
    *minor = model ? model->versionMinor : fallback.versionMinor;
    return KVCAM_OK;
}

int32_t KvCam_GetInfo(KvCamHandle handle, uint32_t infoId, int32_t* value) {
    if (value == nullptr) return KVCAM_ERR_NULL_POINTER;
    if (Genicam()) return genicam::GetInfo(handle, infoId, value);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    if (int32_t code = State().faults.Check(KVCAMSIM_FAULT_GET_INFO, int32_t(infoId))) return code;
    return cam->Info(infoId, *value);
}

int32_t KvCam_GetText(KvCamHandle handle, uint32_t textId, char* text, uint32_t size) {
    if (text == nullptr || size == 0) return KVCAM_ERR_NULL_POINTER;
    std::string value;
    int32_t r;
    if (Genicam()) {
        r = genicam::GetText(handle, textId, value);
    } else {
        std::shared_ptr<Camera> cam = FindCamera(handle, r);
        if (cam) r = SimulatedText(*cam, textId, value);
    }
    if (r != KVCAM_OK) value.clear();
    const size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
    return r;
}

int32_t KvCam_IsParamSupported(KvCamHandle handle, uint32_t paramId) {
    if (Genicam()) return genicam::IsParamSupported(handle, paramId);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    if (!IsKnownParam(paramId)) return KVCAM_ERR_UNKNOWN_ID;
    if (paramId == KVCAM_PARAM_BINNING_H && !cam->Model().horizontalBinning) {
        return KVCAM_ERR_NOT_SUPPORTED;
    }
    return KVCAM_OK;
}

int32_t KvCam_ReadSettingsFromCam(KvCamHandle handle, KvCamSettings* settings) {
    return ReadSettings(handle, settings, false);
}

int32_t KvCam_ReadDefaultSettings(KvCamHandle handle, KvCamSettings* settings) {
    return ReadSettings(handle, settings, true);
}

int32_t KvCam_SetParam(KvCamSettings* settings, uint32_t paramId, int32_t value) {
    if (Genicam()) return genicam::SetParam(settings, paramId, value);
    std::shared_ptr<const CameraModel> model;
    ParamValues v;
    uint32_t cameraId;
    if (int32_t r = OpenBlock(settings, model, v, &cameraId)) return r;
    if (int32_t code = State().faults.Check(KVCAMSIM_FAULT_SET_PARAM, int32_t(paramId))) {
        return code;
    }
    if (int32_t r = ApplyParam(*model, v, paramId, value)) return r;
    EncodeBlock(settings, cameraId, v);
    return KVCAM_OK;
}

int32_t KvCam_GetParam(const KvCamSettings* settings, uint32_t paramId, int32_t* value) {
    if (value == nullptr) return KVCAM_ERR_NULL_POINTER;
    if (Genicam()) return genicam::GetParam(settings, paramId, value);
    std::shared_ptr<const CameraModel> model;
    ParamValues v;
    if (int32_t r = OpenBlock(settings, model, v)) return r;
    if (!IsKnownParam(paramId)) return KVCAM_ERR_UNKNOWN_ID;
    if (paramId == KVCAM_PARAM_BINNING_H && !model->horizontalBinning) {
        return KVCAM_ERR_NOT_SUPPORTED;
    }
    *value = v[paramId];
    return KVCAM_OK;
}

int32_t KvCam_GetParamMin(const KvCamSettings* settings, uint32_t paramId, int32_t* value) {
    return ParamLimit(settings, paramId, value, false);
}

int32_t KvCam_GetParamMax(const KvCamSettings* settings, uint32_t paramId, int32_t* value) {
    return ParamLimit(settings, paramId, value, true);
}

int32_t KvCam_IsSparseTable(const KvCamSettings* settings, uint32_t paramId) {
    return TableKind(settings, paramId, BinningKind::Sparse);
}

int32_t KvCam_IsRangeTable(const KvCamSettings* settings, uint32_t paramId) {
    return TableKind(settings, paramId, BinningKind::Range);
}

int32_t KvCam_GetParamSparseTable(const KvCamSettings* settings, uint32_t paramId, int32_t* table,
                                  uint32_t* count) {
    if (count == nullptr || (table == nullptr && *count > 0)) return KVCAM_ERR_NULL_POINTER;
    if (Genicam()) return genicam::SparseTable(settings, paramId, table, count);
    if (int32_t r = TableKind(settings, paramId, BinningKind::Sparse)) return r;
    int32_t r;
    std::shared_ptr<const CameraModel> model = LoadedModel(r);
    if (!model) return r;
    const std::vector<int32_t>& entries = model->binningTable;
    for (uint32_t i = 0; i < *count && i < entries.size(); ++i) table[i] = entries[i];
    *count = static_cast<uint32_t>(entries.size());
    return KVCAM_OK;
}

int32_t KvCam_SendSettingsToCam(KvCamHandle handle, KvCamSettings* settings) {
    if (Genicam()) return genicam::Send(handle, settings);
    std::shared_ptr<const CameraModel> model;
    ParamValues v;
    uint32_t cameraId;
    if (int32_t r = OpenBlock(settings, model, v, &cameraId)) return r;
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    if (cameraId != cam->Id()) return KVCAM_ERR_BAD_SETTINGS;  // another camera's block
    DriverState& g = State();
    if (int32_t code = g.faults.Check(KVCAMSIM_FAULT_SEND_SETTINGS)) return code;
    const ParamValues before = cam->Current();
    bool regionChanged = false;
    for (uint32_t id = KVCAM_PARAM_ROI_X; id <= KVCAM_PARAM_ROI_HEIGHT; ++id) {
        regionChanged |= v[id] != before[id];
    }
    if (regionChanged) {
        if (int32_t code = g.faults.Check(KVCAMSIM_FAULT_SEND_REGION)) return code;
    }
    if (int32_t code = cam->Send(v)) return code;
    EncodeBlock(settings, cameraId, v);
    return KVCAM_OK;
}

int32_t KvCam_SetStreaming(KvCamHandle handle, int32_t on) {
    if (Genicam()) return genicam::SetStreaming(handle, on != 0);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    return cam ? cam->SetStreaming(on != 0) : r;
}

int32_t KvCam_QueueFrame(KvCamHandle handle, KvCamFrame* frame, KvCamFrameCallback callback,
                         uint32_t flags, void* user, uintptr_t userData) {
    if (Genicam()) {
        if (frame == nullptr || callback == nullptr) return KVCAM_ERR_NULL_POINTER;
        if (flags != KVCAM_CALLBACK_ON_COMPLETION) return KVCAM_ERR_OUT_OF_RANGE;
        return genicam::Queue(handle, frame, callback, user, userData);
    }
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    if (frame == nullptr || callback == nullptr) return KVCAM_ERR_NULL_POINTER;
    if (flags != KVCAM_CALLBACK_ON_COMPLETION) return KVCAM_ERR_OUT_OF_RANGE;
    return cam->Queue(frame, callback, user, userData);
}

int32_t KvCam_GrabFrame(KvCamHandle handle, KvCamFrame* frame) {
    if (Genicam()) return frame == nullptr ? KVCAM_ERR_NULL_POINTER : genicam::Grab(handle, frame);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    if (frame == nullptr) return KVCAM_ERR_NULL_POINTER;
    if (int32_t code = State().faults.Check(KVCAMSIM_FAULT_GRAB)) {
        frame->errorCode = code;
        return code;
    }
    return cam->Grab(frame);
}

int32_t KvCam_Abort(KvCamHandle handle) {
    if (Genicam()) return genicam::Abort(handle);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    return cam ? cam->Abort() : r;
}

int32_t KvCam_Trigger(KvCamHandle handle) {
    if (Genicam()) return genicam::Trigger(handle);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    cam->Trigger(false);
    return KVCAM_OK;
}

uint32_t KvCam_CalcImageSize(uint32_t format, uint32_t width, uint32_t height) {
    uint64_t bytesPerPixel;
    switch (format) {
        case KVCAM_FORMAT_MONO8:
        case KVCAM_FORMAT_BAYER8:
            bytesPerPixel = 1;
            break;
        case KVCAM_FORMAT_MONO16:
            bytesPerPixel = 2;
            break;
        case KVCAM_FORMAT_RGB24:
            bytesPerPixel = 3;
            break;
        default:
            return 0;
    }
    const uint64_t size = uint64_t{width} * height * bytesPerPixel;
    return size > UINT32_MAX ? 0 : static_cast<uint32_t>(size);
}

int32_t KvCam_BayerToRgb(uint32_t method, const KvCamFrame* in, KvCamFrame* out) {
    if (in == nullptr || out == nullptr || in->buffer == nullptr || out->buffer == nullptr) {
        return KVCAM_ERR_NULL_POINTER;
    }
    if (method != KVCAM_DEMOSAIC_NEAREST && method != KVCAM_DEMOSAIC_BILINEAR) {
        return KVCAM_ERR_OUT_OF_RANGE;
    }
    if (in->format != KVCAM_FORMAT_BAYER8 && in->format != KVCAM_FORMAT_MONO8) {
        return KVCAM_ERR_BAD_FORMAT;
    }
    if (out->format != KVCAM_FORMAT_RGB24) return KVCAM_ERR_BAD_FORMAT;
    if (in->bayerPattern > KVCAM_BAYER_BGGR) return KVCAM_ERR_OUT_OF_RANGE;
    if (in->width == 0 || in->height == 0) return KVCAM_ERR_OUT_OF_RANGE;
    const uint32_t inBytes = KvCam_CalcImageSize(KVCAM_FORMAT_BAYER8, in->width, in->height);
    const uint32_t outBytes = KvCam_CalcImageSize(KVCAM_FORMAT_RGB24, in->width, in->height);
    if (outBytes == 0) return KVCAM_ERR_OUT_OF_RANGE;
    if (in->bufferSize < inBytes || out->bufferSize < outBytes) {
        return KVCAM_ERR_BUFFER_TOO_SMALL;
    }
    const auto* src = static_cast<const uint8_t*>(in->buffer);
    auto* dst = static_cast<uint8_t*>(out->buffer);
    if (method == KVCAM_DEMOSAIC_BILINEAR) {
        DemosaicBilinear(src, in->width, in->height, in->bayerPattern, dst);
    } else {
        DemosaicNearest(src, in->width, in->height, in->bayerPattern, dst);
    }
    out->width = in->width;
    out->height = in->height;
    out->bitDepth = 24;
    out->frameNumber = in->frameNumber;
    out->timestamp = in->timestamp;
    out->bayerPattern = KVCAM_BAYER_NONE;
    out->errorCode = KVCAM_OK;
    return KVCAM_OK;
}

// ---- Test API ----------------------------------------------------------------------------

int32_t KvCamSim_SetFault(int32_t point, int32_t id, int32_t skip, int32_t count, int32_t code) {
    if (point < KVCAMSIM_FAULT_LOAD || point > KVCAMSIM_FAULT_FRAME_LOST || skip < 0 ||
        count < KVCAMSIM_ALWAYS || code < 0) {
        return KVCAM_ERR_OUT_OF_RANGE;
    }
    FaultRule rule{point, id < 0 ? -1 : id, skip, count, code};
    State().faults.Arm(rule);
    return KVCAM_OK;
}

void KvCamSim_ClearFaults(void) {
    State().faults.Clear();
}

int32_t KvCamSim_UseDescription(const char* iniText) {
    if (iniText == nullptr) {
        DriverState& g = State();
        std::lock_guard lk(g.mu);
        g.chosenDescription.reset();
        g.lastError.clear();
        return KVCAM_OK;
    }
    return ChooseDescription(iniText, "camera description");
}

int32_t KvCamSim_UseDescriptionFile(const char* path) {
    if (path == nullptr) return KVCAM_ERR_NULL_POINTER;
    std::string text;
    if (!ReadDescriptionFile(path, text)) {
        std::lock_guard lk(State().mu);
        State().lastError = std::string(path) + ": cannot read the camera description";
        return KVCAM_ERR_NO_CAMERA;
    }
    return ChooseDescription(std::move(text), path);
}

const char* KvCamSim_LastError(void) {
    // One copy per thread, so the pointer stays valid while other threads set new errors.
    thread_local std::string copy;
    std::lock_guard lk(State().mu);
    copy = State().lastError;
    return copy.c_str();
}

void KvCamSim_Reset(void) {
    KvCam_ReleaseDriver();
    DriverState& g = State();
    std::lock_guard lk(g.mu);
    g.faults.Clear();
    g.chosenDescription.reset();
    g.chosenOrigin.clear();
    g.installedDescription.clear();
    g.descriptionInstalled = false;
    g.lastError.clear();
}

int32_t KvCamSim_FireExternalTrigger(KvCamHandle handle) {
    if (Genicam()) return KVCAM_ERR_NOT_SUPPORTED;  // a real camera's lines are its own
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    cam->Trigger(true);
    return KVCAM_OK;
}

int32_t KvCamSim_GetCounters(KvCamHandle handle, KvCamSimCounters* counters) {
    if (counters == nullptr) return KVCAM_ERR_NULL_POINTER;
    if (Genicam()) return genicam::Counters(handle, counters);
    int32_t r;
    std::shared_ptr<Camera> cam = FindCamera(handle, r);
    if (!cam) return r;
    *counters = cam->Counters();
    return KVCAM_OK;
}

int32_t KvCamSim_ReadFrameCounter(const KvCamFrame* frame, uint32_t* counter) {
    if (frame == nullptr || counter == nullptr || frame->buffer == nullptr) {
        return KVCAM_ERR_NULL_POINTER;
    }
    const uint32_t bytesPerPixel = frame->format == KVCAM_FORMAT_MONO16 ? 2 : 1;
    if (frame->format != KVCAM_FORMAT_MONO8 && frame->format != KVCAM_FORMAT_MONO16 &&
        frame->format != KVCAM_FORMAT_BAYER8) {
        return KVCAM_ERR_BAD_FORMAT;
    }
    if (uint64_t{frame->width} * frame->height < 4 || frame->bufferSize < 4 * bytesPerPixel) {
        return KVCAM_ERR_BUFFER_TOO_SMALL;
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t byte = bytesPerPixel == 2 ? static_cast<const uint16_t*>(frame->buffer)[i]
                                                 : static_cast<const uint8_t*>(frame->buffer)[i];
        if (byte > 255) return KVCAM_ERR_BAD_FORMAT;
        value |= byte << (8 * i);
    }
    *counter = value;
    return KVCAM_OK;
}

}  // extern "C"
