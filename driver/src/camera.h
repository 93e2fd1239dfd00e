// One open simulated camera: its current settings, its frame queue and the capture thread
// that exposes, synthesises and completes frames on the platform clock.
//
// Capture state machine (per frame): pending -> [waiting for trigger] -> exposing/reading out
// -> completed (callback or GrabFrame return). Abort or close moves pending frames straight to
// completed-as-aborted and cuts short the frame in progress. All state is guarded by one
// mutex, which is never held while a callback runs or pixels are synthesised.
//
// Thread rule: thread-safe. Shutdown must not be called from the capture thread.
#pragma once

#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "faults.h"
#include "model.h"
#include "scene.h"
#include "settings.h"

namespace kvcam {

class Camera {
public:
    Camera(uint32_t cameraId, std::shared_ptr<const CameraModel> model, FaultTable& faults);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    uint32_t Id() const { return id_; }
    const CameraModel& Model() const { return *model_; }
    bool OnCaptureThread() const;

    ParamValues Current();
    // Takes a block: fits its region, applies it to the frames that start from now on and
    // writes the accepted values back into `v`.
    int32_t Send(ParamValues& v);
    int32_t Info(uint32_t infoId, int32_t& value);

    int32_t SetStreaming(bool on);
    int32_t Queue(KvCamFrame* frame, KvCamFrameCallback callback, void* user, uintptr_t userData);
    int32_t Grab(KvCamFrame* frame);
    int32_t Abort();
    void Trigger(bool external);
    KvCamSimCounters Counters();

    // Cancels everything and stops the capture thread; waits for it.
    void Shutdown();

private:
    // A KvCam_GrabFrame call waiting on its job; lives on the caller's stack and is only
    // touched under the lock.
    struct SyncWait {
        int64_t deadline = 0;    // platform clock: the frame must have started by then
        bool started = false;    // the exposure began: the grab no longer times out
        bool withdrawn = false;  // timed out while the capture thread held the job
        bool done = false;       // the capture thread is finished with the job
        int32_t result = KVCAM_OK;
    };
    struct Job {
        KvCamFrame* frame = nullptr;
        void* buffer = nullptr;
        uint32_t bufferSize = 0;
        KvCamFrameCallback callback = nullptr;
        void* user = nullptr;
        uintptr_t userData = 0;
        SyncWait* sync = nullptr;  // set for KvCam_GrabFrame
        int32_t injectedError = 0;
        int64_t eligibleAt = 0;  // platform-clock microseconds
    };

    void Run();
    void Capture(std::unique_lock<std::mutex>& lk, Job& job);
    // Whether the job in progress is to stop: abort, close or a grab that gave up.
    bool Cut(const Job& job) const;
    // In trigger modes, waits for the frame's trigger and moves `start` to it.
    int32_t WaitForTrigger(std::unique_lock<std::mutex>& lk, const Job& job, int64_t& start);
    // Takes back the job of a grab whose deadline passed before its frame started. Returns
    // false when an abort got there first (the job then completes as aborted).
    bool Withdraw(SyncWait& wait);
    // Waits on the warped clock until `deadline` or until `stop` is true.
    template <typename Stop>
    bool WaitUntil(std::unique_lock<std::mutex>& lk, int64_t deadline, Stop stop);
    // Hands a finished job back to its owner; called without the lock.
    void Finish(Job& job, int32_t result);
    int32_t TriggerMode() const { return current_[KVCAM_PARAM_TRIGGER]; }

    const uint32_t id_;
    const std::shared_ptr<const CameraModel> model_;
    FaultTable& faults_;
    Scene scene_;  // capture thread only

    std::mutex mu_;
    std::condition_variable cv_;
    ParamValues current_;
    bool streaming_ = false;
    int64_t streamingSince_ = 0;
    bool stop_ = false;
    bool busy_ = false;             // a job is being captured or completed
    bool capturingQueued_ = false;  // ... and it is a queued frame not yet counted
    bool exited_ = false;           // the capture thread has returned
    bool abortCurrent_ = false;
    uint64_t abortEpoch_ = 0;    // Abort calls so far
    uint64_t doneEpoch_ = 0;     // Abort calls whose frames have all been completed
    uint32_t softTriggers_ = 0;  // latched software triggers
    uint32_t externalTriggers_ = 0;
    int64_t lastEnd_ = 0;     // when the sensor became free
    uint32_t delivered_ = 0;  // frame number of the last delivered frame
    uint32_t grabbing_ = 0;   // KvCam_GrabFrame calls not yet returned
    std::deque<Job> pending_;
    std::vector<Job> lost_;
    std::vector<Job> cancelled_;
    KvCamSimCounters counters_{};
    std::thread thread_;
};

}  // namespace kvcam
