// The driver's entry points over GenICam cameras: what the C functions do once a load chose
// this backend. Cameras are found through Aravis at load (one named device, or every camera
// Aravis finds) and numbered 1..n in the list; blocks carry the camera's number, whose limits
// stay known until the driver is released.
//
// Thread rule: thread-safe; the same calls as the C interface, with its rules.
#pragma once

#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <string>

#include "model.h"

namespace kvcam::genicam {

// Whether this build has the backend (Aravis was found when it was built).
bool Available();

// Finds the cameras the description names. KVCAM_ERR_NO_CAMERA with `error` set when the
// named device is not there (or the build has no GenICam support).
int32_t Load(const CameraModel& model, std::string& error);
int32_t Release();
int32_t List(KvCamCameraInfo* list, uint32_t* count);
int32_t Open(uint32_t cameraId, KvCamHandle* handle, std::string& error);
int32_t Close(KvCamHandle handle);
int32_t GetInfo(KvCamHandle handle, uint32_t infoId, int32_t* value);
int32_t GetText(KvCamHandle handle, uint32_t textId, std::string& text);
int32_t IsParamSupported(KvCamHandle handle, uint32_t paramId);

int32_t ReadSettings(KvCamHandle handle, KvCamSettings* settings, bool defaults);
int32_t SetParam(KvCamSettings* settings, uint32_t paramId, int32_t value);
int32_t GetParam(const KvCamSettings* settings, uint32_t paramId, int32_t* value);
int32_t ParamLimit(const KvCamSettings* settings, uint32_t paramId, int32_t* value, bool max);
// KVCAM_OK when the parameter's values are of that kind (a sparse table, else a range).
int32_t TableKind(const KvCamSettings* settings, uint32_t paramId, bool sparse);
int32_t SparseTable(const KvCamSettings* settings, uint32_t paramId, int32_t* table,
                    uint32_t* count);
int32_t Send(KvCamHandle handle, KvCamSettings* settings);

int32_t SetStreaming(KvCamHandle handle, bool on);
int32_t Queue(KvCamHandle handle, KvCamFrame* frame, KvCamFrameCallback callback, void* user,
              uintptr_t userData);
int32_t Grab(KvCamHandle handle, KvCamFrame* frame);
int32_t Abort(KvCamHandle handle);
int32_t Trigger(KvCamHandle handle);
int32_t Counters(KvCamHandle handle, KvCamSimCounters* counters);

}  // namespace kvcam::genicam
