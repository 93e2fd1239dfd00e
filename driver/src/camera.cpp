#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "camera.h"

#include <bxplatform/kernel.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kvcam {

namespace k = bx::kernel;

Camera::Camera(uint32_t cameraId, std::shared_ptr<const CameraModel> model, FaultTable& faults)
    : id_(cameraId),
      model_(std::move(model)),
      faults_(faults),
      scene_(*model_),
      current_(DefaultValues(*model_)) {
    thread_ = std::thread([this] { Run(); });
}

Camera::~Camera() {
    Shutdown();
}

bool Camera::OnCaptureThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void Camera::Shutdown() {
    {
        std::lock_guard lk(mu_);
        if (stop_ && !thread_.joinable()) return;
        stop_ = true;
        abortCurrent_ = true;
        for (Job& j : pending_) cancelled_.push_back(j);
        for (Job& j : lost_) cancelled_.push_back(j);
        pending_.clear();
        lost_.clear();
        counters_.lost = 0;
    }
    cv_.notify_all();
    // The capture thread leaves as soon as it has completed the cancelled frames: its waits all
    // end on stop_, so this join is bounded by the callbacks it still runs.
    if (thread_.joinable() && !OnCaptureThread()) thread_.join();
}

ParamValues Camera::Current() {
    std::lock_guard lk(mu_);
    return current_;
}

int32_t Camera::Send(ParamValues& v) {
    // The capture thread trusts current_: nothing the camera could not have set gets there.
    if (!CameraTakes(*model_, v)) return KVCAM_ERR_BAD_SETTINGS;
    FitRegion(*model_, v);
    std::lock_guard lk(mu_);
    current_ = v;
    cv_.notify_all();  // a trigger wait re-reads the trigger mode
    return KVCAM_OK;
}

int32_t Camera::Info(uint32_t infoId, int32_t& value) {
    const CameraModel& m = *model_;
    switch (infoId) {
        case KVCAM_INFO_CAMERA_TYPE:
            value = m.type;
            return KVCAM_OK;
        case KVCAM_INFO_SERIAL_NUMBER:
            value = static_cast<int32_t>(id_);
            return KVCAM_OK;
        case KVCAM_INFO_HARDWARE_VERSION:
            value = m.hardwareVersion;
            return KVCAM_OK;
        case KVCAM_INFO_FIRMWARE_VERSION:
            value = m.firmwareVersion;
            return KVCAM_OK;
        case KVCAM_INFO_READOUT_SPEEDS:
            value = static_cast<int32_t>(m.readoutMpixPerSecond.size());
            return KVCAM_OK;
        case KVCAM_INFO_MAX_BIT_DEPTH:
            value = m.bitDepth;
            return KVCAM_OK;
        case KVCAM_INFO_COOLER:
            value = m.cooler ? 1 : 0;
            return KVCAM_OK;
        case KVCAM_INFO_TEMPERATURE:
            value = m.cooler ? -150 : 250;
            return KVCAM_OK;
        case KVCAM_INFO_CCD_TYPE:
            value = m.colour ? 1 : 0;
            return KVCAM_OK;
        case KVCAM_INFO_CCD_WIDTH:
            value = m.width;
            return KVCAM_OK;
        case KVCAM_INFO_CCD_HEIGHT:
            value = m.height;
            return KVCAM_OK;
        case KVCAM_INFO_FIRMWARE_BUILD:
            value = m.firmwareBuild;
            return KVCAM_OK;
        case KVCAM_INFO_BAYER_PATTERN:
            value = m.colour ? KVCAM_BAYER_RGGB : KVCAM_BAYER_NONE;
            return KVCAM_OK;
        case KVCAM_INFO_MODEL_B:
            value = m.modelB ? 1 : 0;
            return KVCAM_OK;
        case KVCAM_INFO_IMAGE_WIDTH:
        case KVCAM_INFO_IMAGE_HEIGHT:
        case KVCAM_INFO_IMAGE_SIZE: {
            const Geometry g = GeometryOf(m, Current());
            value = infoId == KVCAM_INFO_IMAGE_WIDTH    ? g.width
                    : infoId == KVCAM_INFO_IMAGE_HEIGHT ? g.height
                                                        : static_cast<int32_t>(g.FrameBytes());
            return KVCAM_OK;
        }
        default:
            return KVCAM_ERR_UNKNOWN_ID;
    }
}

int32_t Camera::SetStreaming(bool on) {
    std::lock_guard lk(mu_);
    if (on && !streaming_) streamingSince_ = k::NowMicroseconds();
    streaming_ = on;
    cv_.notify_all();
    return KVCAM_OK;
}

int32_t Camera::Queue(KvCamFrame* frame, KvCamFrameCallback callback, void* user,
                      uintptr_t userData) {
    std::unique_lock lk(mu_);
    if (stop_) return KVCAM_ERR_INVALID_HANDLE;
    if (!streaming_) return KVCAM_ERR_NOT_STREAMING;
    if (frame->buffer == nullptr ||
        frame->bufferSize < GeometryOf(*model_, current_).FrameBytes()) {
        return KVCAM_ERR_BUFFER_TOO_SMALL;
    }
    if (pending_.size() + lost_.size() >= KVCAM_MAX_QUEUED_FRAMES) return KVCAM_ERR_QUEUE_FULL;
    if (int32_t code = faults_.Check(KVCAMSIM_FAULT_QUEUE)) return code;

    Job job;
    job.frame = frame;
    job.buffer = frame->buffer;
    job.bufferSize = frame->bufferSize;
    job.callback = callback;
    job.user = user;
    job.userData = userData;
    job.eligibleAt = k::NowMicroseconds();
    if (faults_.Check(KVCAMSIM_FAULT_FRAME_LOST)) {
        // The camera swallows the frame: it completes only when aborted or closed.
        lost_.push_back(job);
        counters_.lost = static_cast<uint32_t>(lost_.size());
        return KVCAM_OK;
    }
    job.injectedError = faults_.Check(KVCAMSIM_FAULT_FRAME_ERROR);
    pending_.push_back(job);
    lk.unlock();
    cv_.notify_all();
    return KVCAM_OK;
}

int32_t Camera::Grab(KvCamFrame* frame) {
    if (OnCaptureThread()) return KVCAM_ERR_WRONG_THREAD;
    SyncWait wait;
    std::unique_lock lk(mu_);
    if (stop_) return KVCAM_ERR_INVALID_HANDLE;
    const int64_t now = k::NowMicroseconds();
    wait.deadline = now + model_->grabTimeoutUs;
    Job job;
    job.frame = frame;
    job.buffer = frame->buffer;
    job.bufferSize = frame->bufferSize;
    job.sync = &wait;
    job.eligibleAt = now;
    pending_.push_back(job);
    ++grabbing_;
    cv_.notify_all();
    // The time-out counts from this call and covers waiting behind queued frames and for the
    // trigger; once the exposure has started, the frame takes its exposure and readout.
    WaitUntil(lk, wait.deadline, [&] { return wait.started || wait.done; });
    const bool timedOut = !wait.started && !wait.done && Withdraw(wait);
    // Bounded by the capture thread's progress: a started frame ends at the end of its readout
    // on the platform clock (sooner on abort, close or withdrawal), and a cancelled or withdrawn
    // job is completed as soon as the capture thread gets to it. Only then is the caller's
    // buffer free of the driver.
    cv_.wait(lk, [&] { return wait.done; });
    --grabbing_;
    if (timedOut) {
        frame->errorCode = KVCAM_ERR_TIMEOUT;
        return KVCAM_ERR_TIMEOUT;
    }
    return wait.result;
}

bool Camera::Withdraw(SyncWait& wait) {
    auto mine = [&](const Job& j) { return j.sync == &wait; };
    auto queued = std::find_if(pending_.begin(), pending_.end(), mine);
    if (queued != pending_.end()) {
        pending_.erase(queued);  // the capture thread never saw it
        wait.done = true;
        return true;
    }
    if (std::any_of(cancelled_.begin(), cancelled_.end(), mine)) return false;
    // The capture thread holds it, waiting for its trigger: cut it short.
    wait.withdrawn = true;
    cv_.notify_all();
    return true;
}

int32_t Camera::Abort() {
    std::unique_lock lk(mu_);
    for (Job& j : pending_) cancelled_.push_back(j);
    for (Job& j : lost_) cancelled_.push_back(j);
    pending_.clear();
    lost_.clear();
    counters_.lost = 0;
    softTriggers_ = externalTriggers_ = 0;
    if (busy_) abortCurrent_ = true;
    const uint64_t epoch = ++abortEpoch_;
    cv_.notify_all();
    // From inside a callback the capture thread cannot wait for itself; the cancelled frames
    // complete right after the callback returns.
    if (OnCaptureThread()) return KVCAM_OK;
    // Bounded by the capture thread's progress: every wait of the frame in progress ends on
    // abortCurrent_, so what is left is completing the cancelled frames through their
    // callbacks.
    cv_.wait(lk, [&] { return doneEpoch_ >= epoch || exited_; });
    return KVCAM_OK;
}

void Camera::Trigger(bool external) {
    std::lock_guard lk(mu_);
    ++(external ? externalTriggers_ : softTriggers_);
    cv_.notify_all();
}

KvCamSimCounters Camera::Counters() {
    std::lock_guard lk(mu_);
    KvCamSimCounters c = counters_;
    c.pending = 0;
    for (const Job& j : pending_) c.pending += j.sync == nullptr;
    c.pending += capturingQueued_;
    c.grabbing = grabbing_;
    return c;
}

template <typename Stop>
bool Camera::WaitUntil(std::unique_lock<std::mutex>& lk, int64_t deadline, Stop stop) {
    // The condition variable waits in real time; the deadline is on the warped clock, so
    // convert the remaining time on every pass and re-check the clock after each wake.
    while (!stop()) {
        const int64_t now = k::NowMicroseconds();
        if (now >= deadline) return true;
        // At most a second per pass: far deadlines (or none) must not overflow the clock.
        const double realUs = std::min(1e6, static_cast<double>(deadline - now) / k::TimeWarp());
        cv_.wait_for(lk, std::chrono::microseconds(
                             std::max<int64_t>(1, static_cast<int64_t>(std::ceil(realUs)))));
    }
    return false;
}

void Camera::Finish(Job& job, int32_t result) {
    if (job.sync != nullptr) {
        std::lock_guard lk(mu_);
        job.sync->result = result;
        job.sync->done = true;
        cv_.notify_all();
        return;
    }
    job.callback(job.user, job.userData, result, KVCAM_CALLBACK_ON_COMPLETION);
}

void Camera::Run() {
    // The capture thread stands in for the camera's own electronics, which take nothing from
    // the host: it runs a little below the host's threads, so that making a frame's pixels
    // does not hold up the host thread a completion has just woken.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
    std::unique_lock lk(mu_);
    for (;;) {
        if (!cancelled_.empty()) {
            std::vector<Job> batch;
            batch.swap(cancelled_);
            for (Job& j : batch) {
                j.frame->errorCode = KVCAM_ERR_ABORTED;
                if (j.sync == nullptr) ++counters_.aborted;
            }
            lk.unlock();
            for (Job& j : batch) Finish(j, KVCAM_ERR_ABORTED);
            lk.lock();
            continue;
        }
        // Nothing cancelled is left undelivered and no frame is in progress: every Abort so
        // far has been honoured.
        if (doneEpoch_ != abortEpoch_) {
            doneEpoch_ = abortEpoch_;
            cv_.notify_all();
        }
        if (stop_) break;
        auto next = std::find_if(pending_.begin(), pending_.end(),
                                 [&](const Job& j) { return j.sync != nullptr || streaming_; });
        if (next == pending_.end()) {
            // Idle until there is work: a queued frame, a grab, streaming on, abort or close.
            cv_.wait(lk);
            continue;
        }
        Job job = *next;
        pending_.erase(next);
        busy_ = true;
        capturingQueued_ = job.sync == nullptr;
        abortCurrent_ = false;
        Capture(lk, job);
        busy_ = false;
    }
    // Wake any Abort still waiting; the thread will not run again.
    doneEpoch_ = abortEpoch_;
    exited_ = true;
    cv_.notify_all();
}

bool Camera::Cut(const Job& job) const {
    return abortCurrent_ || stop_ || (job.sync != nullptr && job.sync->withdrawn);
}

int32_t Camera::WaitForTrigger(std::unique_lock<std::mutex>& lk, const Job& job, int64_t& start) {
    const CameraModel& m = *model_;
    auto cut = [&] { return Cut(job); };
    // A grab gives up at its deadline, counted from its call; a queued frame waits until it is
    // triggered, or until abort or close cut it.
    const int64_t timeout = job.sync != nullptr ? job.sync->deadline : INT64_MAX;
    for (;;) {
        const int32_t mode = TriggerMode();  // may change by a send while waiting
        if (mode == KVCAM_TRIGGER_FREE_RUN || cut()) return KVCAM_OK;
        uint32_t& latched = mode == KVCAM_TRIGGER_SOFTWARE ? softTriggers_ : externalTriggers_;
        if (latched > 0) {
            --latched;
            start = std::max(lastEnd_, k::NowMicroseconds());
            return KVCAM_OK;
        }
        int64_t deadline = timeout;
        const int64_t period = m.externalTriggerPeriodUs;
        bool tick = false;
        if (mode == KVCAM_TRIGGER_EXTERNAL && period > 0) {
            // A periodic trigger source: the first tick once the sensor is free and the frame
            // is waiting (ideal times, so a late wake-up does not skip a tick).
            const int64_t next = (start + period - 1) / period * period;
            if (next <= timeout) {
                deadline = next;
                tick = true;
            }
        }
        const bool reached =
            WaitUntil(lk, deadline, [&] { return cut() || TriggerMode() != mode || latched > 0; });
        if (!reached) continue;  // a pulse, a mode change or an abort: look again
        if (!tick) return KVCAM_ERR_TIMEOUT;
        start = deadline;
        return KVCAM_OK;
    }
}

void Camera::Capture(std::unique_lock<std::mutex>& lk, Job& job) {
    const CameraModel& m = *model_;
    auto cut = [&] { return Cut(job); };
    const bool sync = job.sync != nullptr;

    // Free-running frames start when the sensor is free and the frame may run; triggered ones
    // at their pulse.
    int64_t start = std::max(lastEnd_, job.eligibleAt);
    if (!sync) start = std::max(start, streamingSince_);
    int32_t result = WaitForTrigger(lk, job, start);

    const ParamValues settings = current_;
    const Geometry g = GeometryOf(m, settings);
    if (cut()) {
        result = KVCAM_ERR_ABORTED;
    } else if (result == KVCAM_OK && (job.buffer == nullptr || job.bufferSize < g.FrameBytes())) {
        result = KVCAM_ERR_BUFFER_TOO_SMALL;  // settings changed since the frame was queued
    }
    if (result != KVCAM_OK) {
        lastEnd_ = std::max(lastEnd_, std::min(start, k::NowMicroseconds()));
    } else {
        if (sync) {
            job.sync->started = true;  // from here the grab waits for the frame, not the clock
            cv_.notify_all();
        }
        const size_t speed = std::clamp<size_t>(size_t(settings[KVCAM_PARAM_READOUT_SPEED]), 0,
                                                m.readoutMpixPerSecond.size() - 1);
        const double rate = m.readoutMpixPerSecond[speed];
        const int64_t readoutUs =
            static_cast<int64_t>(std::ceil(double(g.width) * g.height / rate));
        const int64_t end = start + settings[KVCAM_PARAM_EXPOSURE] + readoutUs;
        const uint32_t number = delivered_ + 1;
        if (job.injectedError == 0) {
            // Pixels are made while the simulated exposure runs; no lock is needed for the
            // caller's buffer, which only this thread touches until the frame completes.
            lk.unlock();
            scene_.Render(g, Signal::From(settings), number, job.buffer);
            if (m.frameCounter) {
                WriteFrameCounter(job.buffer, g.bytesPerPixel, uint32_t(g.width * g.height),
                                  number);
            }
            lk.lock();
        }
        WaitUntil(lk, end, cut);
        if (cut()) {
            result = KVCAM_ERR_ABORTED;
            lastEnd_ = std::min(end, k::NowMicroseconds());
        } else {
            lastEnd_ = end;
            result = job.injectedError;
            if (result == KVCAM_OK) {
                delivered_ = number;
                KvCamFrame& f = *job.frame;
                f.format = static_cast<uint32_t>(g.format);
                f.width = static_cast<uint32_t>(g.width);
                f.height = static_cast<uint32_t>(g.height);
                f.bitDepth = g.format == KVCAM_FORMAT_MONO16 ? uint32_t(m.bitDepth) : 8u;
                f.frameNumber = number;
                f.timestamp = start;
                f.bayerPattern = BayerPatternOf(m, g);
            }
        }
    }
    job.frame->errorCode = result;
    capturingQueued_ = false;  // counted as completed from here on
    if (sync) {
        if (result == KVCAM_OK) ++counters_.grabbed;
    } else {
        if (result == KVCAM_OK)
            ++counters_.completed;
        else if (result == KVCAM_ERR_ABORTED)
            ++counters_.aborted;
        else
            ++counters_.failed;
    }
    lk.unlock();
    Finish(job, result);
    // The host thread the callback woke is likely to run where this one does; let it, rather
    // than making the next frame's pixels first.
    std::this_thread::yield();
    lk.lock();
}

}  // namespace kvcam
