// The GenICam backend of a build without Aravis: a load that asks for it says so, and no
// other call is reached (the driver is never loaded on this backend).
#include "genicam/backend.h"

namespace kvcam::genicam {

bool Available() {
    return false;
}

int32_t Load(const CameraModel&, std::string& error) {
    error = "genicam: this driver was built without GenICam support (Aravis 0.8 was not found)";
    return KVCAM_ERR_NO_CAMERA;
}

int32_t Release() {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t List(KvCamCameraInfo*, uint32_t*) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Open(uint32_t, KvCamHandle*, std::string&) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Close(KvCamHandle) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t GetInfo(KvCamHandle, uint32_t, int32_t*) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t GetText(KvCamHandle, uint32_t, std::string&) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t IsParamSupported(KvCamHandle, uint32_t) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t ReadSettings(KvCamHandle, KvCamSettings*, bool) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t SetParam(KvCamSettings*, uint32_t, int32_t) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t GetParam(const KvCamSettings*, uint32_t, int32_t*) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t ParamLimit(const KvCamSettings*, uint32_t, int32_t*, bool) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t TableKind(const KvCamSettings*, uint32_t, bool) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t SparseTable(const KvCamSettings*, uint32_t, int32_t*, uint32_t*) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Send(KvCamHandle, KvCamSettings*) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t SetStreaming(KvCamHandle, bool) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Queue(KvCamHandle, KvCamFrame*, KvCamFrameCallback, void*, uintptr_t) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Grab(KvCamHandle, KvCamFrame*) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Abort(KvCamHandle) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Trigger(KvCamHandle) {
    return KVCAM_ERR_NOT_LOADED;
}
int32_t Counters(KvCamHandle, KvCamSimCounters*) {
    return KVCAM_ERR_NOT_LOADED;
}

}  // namespace kvcam::genicam
