// One open GenICam camera: its features, the settings block as a snapshot of them, and the
// frame queue on an Aravis stream.
//
// Queued frames are pushed to the stream as buffers over the caller's own memory (a buffer
// too small for the camera's payload but large enough for the image gets a driver buffer and
// a copy), so the stream fills them in queue order. The camera's thread pops the filled
// buffers, completes their frames through the callbacks and keeps the stream's health: failed
// buffers, underruns and gaps in the frame ids. Abort stops the stream's thread, which drops
// every buffer, so no caller memory is written after it; the stream then starts afresh.
//
// Locking: `mu_` guards the queue, the flags and the counters; `deviceMu_` serialises feature
// access (the GenICam node tree is not thread-safe). Neither is held while a callback runs,
// and `mu_` is never held while taking `deviceMu_`.
//
// Thread rule: thread-safe. Shutdown must not be called from the camera's thread.
#pragma once

#include <arv.h>
#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "genicam/features.h"
#include "genicam/rules.h"
#include "model.h"
#include "settings.h"

namespace kvcam::genicam {

class Camera {
public:
    // Opens the camera behind an Aravis camera object (the reference is taken over). Null,
    // with `error` set, when its features or stream cannot be had.
    static std::shared_ptr<Camera> Open(uint32_t id, std::string device, ArvCamera* camera,
                                        const CameraModel& model, std::string& error);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    uint32_t Id() const { return id_; }
    const std::string& Device() const { return device_; }
    std::shared_ptr<const Limits> LimitsOf() const { return limits_; }
    bool OnCaptureThread() const;

    ParamValues Current();
    ParamValues Defaults() const { return defaults_; }
    // Writes the block's values to the camera and reads back what it took into `v`.
    int32_t Send(ParamValues& v);
    int32_t Info(uint32_t infoId, int32_t& value);
    int32_t Text(uint32_t textId, std::string& value);

    int32_t SetStreaming(bool on);
    int32_t Queue(KvCamFrame* frame, KvCamFrameCallback callback, void* user, uintptr_t userData);
    int32_t Grab(KvCamFrame* frame);
    int32_t Abort();
    int32_t Trigger();
    KvCamSimCounters Counters();

    // Cancels everything, stops acquisition and the camera's thread; waits for it.
    void Shutdown();

private:
    struct SyncWait {
        bool done = false;
        int32_t result = KVCAM_OK;
    };
    struct Job {
        KvCamFrame* frame = nullptr;
        void* memory = nullptr;  // the caller's buffer
        uint32_t size = 0;
        KvCamFrameCallback callback = nullptr;
        void* user = nullptr;
        uintptr_t userData = 0;
        SyncWait* sync = nullptr;
        ArvBuffer* buffer = nullptr;  // in the stream; null for a job that failed at once
        bool bounce = false;          // the buffer is the driver's: copy out on completion
        int32_t error = KVCAM_OK;     // the failure of a job that never reached the stream
        uint64_t serial = 0;
    };

    Camera(uint32_t id, std::string device, ArvCamera* camera, const CameraModel& model);
    bool Start(std::string& error);
    void Run();
    void Delivered(std::unique_lock<std::mutex>& lk, ArvBuffer* buffer);
    // Takes every buffer back from the stream and completes their frames with `code`.
    void Reclaim(std::unique_lock<std::mutex>& lk, int32_t code);
    void Finish(Job& job, int32_t result, ArvBuffer* filled);
    int32_t Push(Job job);
    void WaitWhileReclaiming(std::unique_lock<std::mutex>& lk);
    int32_t WaitForGrab(std::unique_lock<std::mutex>& lk, SyncWait& wait, int64_t boundUs);
    void CountFrameId(uint64_t id);
    static void StampFrameNumber(const KvCamFrame& frame, void* memory);
    int64_t PlatformTimestamp(ArvBuffer* buffer);

    // Feature work; each takes `deviceMu_` itself.
    ParamValues ReadSnapshot();
    int32_t WriteGeometry(const ParamValues& v, const ParamValues& before);
    int32_t WriteSignal(const ParamValues& v, const ParamValues& before);
    bool StartAcquisition(bool single);
    void StopAcquisition();
    static void OnControlLost(ArvDevice* device, gpointer self);

    const uint32_t id_;
    const std::string device_;
    ArvCamera* const camera_;
    const CameraModel model_;
    std::shared_ptr<const Limits> limits_;
    ParamValues defaults_{};

    std::mutex deviceMu_;
    Features features_;  // under deviceMu_
    ArvStream* stream_ = nullptr;
    uint32_t payload_ = 0;  // bytes the stream's buffers must hold (under mu_)
    gulong lostHandler_ = 0;

    std::mutex mu_;
    std::condition_variable cv_;
    ParamValues current_{};
    std::deque<Job> jobs_;
    bool streaming_ = false;
    bool acquiring_ = false;
    bool lost_ = false;
    bool stop_ = false;
    bool reclaiming_ = false;  // the stream is dropping its buffers
    uint64_t abortEpoch_ = 0;
    uint64_t doneEpoch_ = 0;
    uint64_t serial_ = 0;
    uint64_t lastFrameId_ = 0;
    uint64_t frameNumber_ = 0;  // of the last delivered frame
    bool frameIdKnown_ = false;
    int64_t clockOffsetUs_ = 0;
    bool clockKnown_ = false;
    KvCamSimCounters counters_{};
    std::thread thread_;
};

}  // namespace kvcam::genicam
