#include "genicam/backend.h"

#include <arv.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "genicam/camera.h"
#include "settings.h"

namespace kvcam::genicam {
namespace {

struct Listed {
    std::string device;  // Aravis device id
    std::string model;
    std::string serial;
};

struct State {
    std::mutex mu;
    bool loaded = false;
    CameraModel model;
    std::vector<Listed> cameras;    // camera id = index + 1
    ArvCamera* prepared = nullptr;  // the named device, opened at load to prove it is there
    std::map<KvCamHandle, std::shared_ptr<Camera>> open;
    std::map<uint32_t, std::shared_ptr<const Limits>> limits;  // by camera id, once opened
    KvCamHandle nextHandle = 1;
};

State& S() {
    static State* state = new State;  // never destroyed: callbacks may outlive exit
    return *state;
}

std::string Message(GError* error) {
    std::string text = error ? error->message : "unknown reason";
    if (error) g_error_free(error);
    return text;
}

std::string Text(const char* s) {
    return s ? s : "";
}

std::string FoundList() {
    std::string found;
    for (unsigned i = 0; i < arv_get_n_devices(); ++i) {
        if (!found.empty()) found += ", ";
        found += Text(arv_get_device_id(i));
    }
    return found.empty() ? "none" : found;
}

std::shared_ptr<Camera> Find(KvCamHandle handle, int32_t& result) {
    State& s = S();
    std::lock_guard lk(s.mu);
    if (!s.loaded) {
        result = KVCAM_ERR_NOT_LOADED;
        return nullptr;
    }
    auto it = s.open.find(handle);
    result = it == s.open.end() ? KVCAM_ERR_INVALID_HANDLE : KVCAM_OK;
    return it == s.open.end() ? nullptr : it->second;
}

// Decodes a block and finds the limits of the camera it was filled for.
int32_t OpenBlock(const KvCamSettings* block, std::shared_ptr<const Limits>& limits, ParamValues& v,
                  uint32_t* cameraIdOut = nullptr) {
    uint32_t cameraId = 0;
    if (int32_t r = DecodeBlock(block, cameraId, v)) return r;
    State& s = S();
    std::lock_guard lk(s.mu);
    if (!s.loaded) return KVCAM_ERR_NOT_LOADED;
    auto it = s.limits.find(cameraId);
    if (it == s.limits.end()) return KVCAM_ERR_BAD_SETTINGS;
    limits = it->second;
    if (cameraIdOut) *cameraIdOut = cameraId;
    return KVCAM_OK;
}

}  // namespace

bool Available() {
    return true;
}

int32_t Load(const CameraModel& model, std::string& error) {
    // The in-process fake camera of Aravis is found only when asked for by name.
    if (model.device.rfind("Fake", 0) == 0) arv_enable_interface("Fake");
    arv_update_device_list();
    std::vector<Listed> cameras;
    ArvCamera* prepared = nullptr;
    if (!model.device.empty()) {
        GError* gerror = nullptr;
        prepared = arv_camera_new(model.device.c_str(), &gerror);
        if (prepared == nullptr) {
            error = "genicam: no camera '" + model.device + "' (" + Message(gerror) +
                    "); cameras found: " + FoundList();
            return KVCAM_ERR_NO_CAMERA;
        }
        cameras.push_back({model.device, Text(arv_camera_get_model_name(prepared, nullptr)),
                           Text(arv_camera_get_device_serial_number(prepared, nullptr))});
    } else {
        for (unsigned i = 0; i < arv_get_n_devices(); ++i)
            cameras.push_back({Text(arv_get_device_id(i)), Text(arv_get_device_model(i)),
                               Text(arv_get_device_serial_nbr(i))});
    }
    State& s = S();
    std::lock_guard lk(s.mu);
    if (s.loaded) {
        if (prepared) g_object_unref(prepared);
        return KVCAM_ERR_ALREADY_LOADED;
    }
    s.model = model;
    s.cameras = std::move(cameras);
    s.prepared = prepared;
    s.loaded = true;
    return KVCAM_OK;
}

int32_t Release() {
    State& s = S();
    std::map<KvCamHandle, std::shared_ptr<Camera>> closing;
    {
        std::lock_guard lk(s.mu);
        if (!s.loaded) return KVCAM_ERR_NOT_LOADED;
        for (auto& [handle, cam] : s.open)
            if (cam->OnCaptureThread()) return KVCAM_ERR_WRONG_THREAD;
        closing.swap(s.open);
        s.loaded = false;
        s.cameras.clear();
        s.limits.clear();
        if (s.prepared) g_object_unref(s.prepared);
        s.prepared = nullptr;
    }
    for (auto& [handle, cam] : closing) cam->Shutdown();
    return KVCAM_OK;
}

int32_t List(KvCamCameraInfo* list, uint32_t* count) {
    State& s = S();
    std::lock_guard lk(s.mu);
    if (!s.loaded) return KVCAM_ERR_NOT_LOADED;
    for (uint32_t i = 0; i < *count && i < s.cameras.size(); ++i) {
        KvCamCameraInfo& e = list[i];
        std::memset(&e, 0, sizeof e);
        e.cameraId = i + 1;
        e.cameraType = static_cast<uint32_t>(s.model.type);
        std::strncpy(e.model, s.cameras[i].model.c_str(), sizeof e.model - 1);
        std::strncpy(e.serial, s.cameras[i].serial.c_str(), sizeof e.serial - 1);
    }
    *count = static_cast<uint32_t>(s.cameras.size());
    return KVCAM_OK;
}

int32_t Open(uint32_t cameraId, KvCamHandle* handle, std::string& error) {
    State& s = S();
    std::unique_lock lk(s.mu);
    if (!s.loaded) return KVCAM_ERR_NOT_LOADED;
    if (cameraId < 1 || cameraId > s.cameras.size()) return KVCAM_ERR_NO_CAMERA;
    for (auto& [h, cam] : s.open)
        if (cam->Id() == cameraId) return KVCAM_ERR_ALREADY_OPEN;
    const std::string device = s.cameras[cameraId - 1].device;
    ArvCamera* camera = cameraId == 1 ? s.prepared : nullptr;
    if (camera != nullptr) s.prepared = nullptr;
    const CameraModel model = s.model;
    lk.unlock();  // opening a camera talks to it; other calls go on meanwhile
    if (camera == nullptr) {
        GError* gerror = nullptr;
        camera = arv_camera_new(device.c_str(), &gerror);
        if (camera == nullptr) {
            error = "genicam: camera '" + device + "' cannot be opened: " + Message(gerror);
            return KVCAM_ERR_NO_CAMERA;
        }
    }
    std::shared_ptr<Camera> cam = Camera::Open(cameraId, device, camera, model, error);
    if (!cam) return KVCAM_ERR_NO_CAMERA;
    lk.lock();
    if (!s.loaded) return KVCAM_ERR_NOT_LOADED;
    const KvCamHandle h = s.nextHandle++;
    if (s.nextHandle == 0) s.nextHandle = 1;
    s.open.emplace(h, cam);
    s.limits[cameraId] = cam->LimitsOf();
    *handle = h;
    return KVCAM_OK;
}

int32_t Close(KvCamHandle handle) {
    State& s = S();
    std::shared_ptr<Camera> cam;
    {
        std::lock_guard lk(s.mu);
        if (!s.loaded) return KVCAM_ERR_NOT_LOADED;
        auto it = s.open.find(handle);
        if (it == s.open.end()) return KVCAM_ERR_INVALID_HANDLE;
        if (it->second->OnCaptureThread()) return KVCAM_ERR_WRONG_THREAD;
        cam = it->second;
        s.open.erase(it);
    }
    cam->Shutdown();
    return KVCAM_OK;
}

int32_t GetInfo(KvCamHandle handle, uint32_t infoId, int32_t* value) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    return cam ? cam->Info(infoId, *value) : r;
}

int32_t GetText(KvCamHandle handle, uint32_t textId, std::string& text) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    return cam ? cam->Text(textId, text) : r;
}

int32_t IsParamSupported(KvCamHandle handle, uint32_t paramId) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    if (!cam) return r;
    if (!IsKnownParam(paramId)) return KVCAM_ERR_UNKNOWN_ID;
    return IsSupported(*cam->LimitsOf(), paramId) ? KVCAM_OK : KVCAM_ERR_NOT_SUPPORTED;
}

int32_t ReadSettings(KvCamHandle handle, KvCamSettings* settings, bool defaults) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    if (!cam) return r;
    EncodeBlock(settings, cam->Id(), defaults ? cam->Defaults() : cam->Current());
    return KVCAM_OK;
}

int32_t SetParam(KvCamSettings* settings, uint32_t paramId, int32_t value) {
    std::shared_ptr<const Limits> limits;
    ParamValues v;
    uint32_t cameraId;
    if (int32_t r = OpenBlock(settings, limits, v, &cameraId)) return r;
    if (int32_t r = ApplyParam(*limits, v, paramId, value)) return r;
    EncodeBlock(settings, cameraId, v);
    return KVCAM_OK;
}

int32_t GetParam(const KvCamSettings* settings, uint32_t paramId, int32_t* value) {
    std::shared_ptr<const Limits> limits;
    ParamValues v;
    if (int32_t r = OpenBlock(settings, limits, v)) return r;
    if (!IsKnownParam(paramId)) return KVCAM_ERR_UNKNOWN_ID;
    if (paramId == KVCAM_PARAM_BINNING_H && !limits->binH.present) return KVCAM_ERR_NOT_SUPPORTED;
    *value = v[paramId];
    return KVCAM_OK;
}

int32_t ParamLimit(const KvCamSettings* settings, uint32_t paramId, int32_t* value, bool max) {
    std::shared_ptr<const Limits> limits;
    ParamValues v;
    if (int32_t r = OpenBlock(settings, limits, v)) return r;
    return max ? ParamMax(*limits, v, paramId, *value) : ParamMin(*limits, v, paramId, *value);
}

int32_t TableKind(const KvCamSettings* settings, uint32_t paramId, bool sparse) {
    std::shared_ptr<const Limits> limits;
    ParamValues v;
    if (int32_t r = OpenBlock(settings, limits, v)) return r;
    if (!IsKnownParam(paramId)) return KVCAM_ERR_UNKNOWN_ID;
    const bool binning = paramId >= KVCAM_PARAM_BINNING && paramId <= KVCAM_PARAM_BINNING_V;
    const bool isSparse = binning && !BinningIsRange(*limits);
    return isSparse == sparse ? KVCAM_OK : KVCAM_ERR_NOT_THIS_KIND;
}

int32_t SparseTable(const KvCamSettings* settings, uint32_t paramId, int32_t* table,
                    uint32_t* count) {
    if (int32_t r = TableKind(settings, paramId, true)) return r;
    // A camera that does not bin offers one factor.
    if (*count > 0) table[0] = 1;
    *count = 1;
    return KVCAM_OK;
}

int32_t Send(KvCamHandle handle, KvCamSettings* settings) {
    std::shared_ptr<const Limits> limits;
    ParamValues v;
    uint32_t cameraId;
    if (int32_t r = OpenBlock(settings, limits, v, &cameraId)) return r;
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    if (!cam) return r;
    if (cameraId != cam->Id()) return KVCAM_ERR_BAD_SETTINGS;
    if (int32_t sent = cam->Send(v)) return sent;
    EncodeBlock(settings, cameraId, v);
    return KVCAM_OK;
}

int32_t SetStreaming(KvCamHandle handle, bool on) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    return cam ? cam->SetStreaming(on) : r;
}

int32_t Queue(KvCamHandle handle, KvCamFrame* frame, KvCamFrameCallback callback, void* user,
              uintptr_t userData) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    return cam ? cam->Queue(frame, callback, user, userData) : r;
}

int32_t Grab(KvCamHandle handle, KvCamFrame* frame) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    return cam ? cam->Grab(frame) : r;
}

int32_t Abort(KvCamHandle handle) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    return cam ? cam->Abort() : r;
}

int32_t Trigger(KvCamHandle handle) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    return cam ? cam->Trigger() : r;
}

int32_t Counters(KvCamHandle handle, KvCamSimCounters* counters) {
    int32_t r;
    std::shared_ptr<Camera> cam = Find(handle, r);
    if (!cam) return r;
    *counters = cam->Counters();
    return KVCAM_OK;
}

}  // namespace kvcam::genicam
