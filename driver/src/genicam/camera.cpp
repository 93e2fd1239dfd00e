#include "genicam/camera.h"

#include <bxplatform/kernel.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace kvcam::genicam {
namespace {

// How long the camera's thread waits for a buffer before it looks at its flags again.
constexpr guint64 kPopTimeoutUs = 20'000;
// What a grab may take beyond its exposure and the grab time-out: transfer and latency.
constexpr int64_t kGrabSlackUs = 2'000'000;

bool Differs(const ParamValues& a, const ParamValues& b, std::initializer_list<uint32_t> ids) {
    for (uint32_t id : ids)
        if (a[id] != b[id]) return true;
    return false;
}

// The integers in a version text ("1.4.2 build 17" gives 1, 4, 2, 17).
std::vector<int32_t> NumbersIn(const std::string& text) {
    std::vector<int32_t> numbers;
    for (size_t i = 0; i < text.size();) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
        numbers.push_back(static_cast<int32_t>(
            std::min(std::stoll(text.substr(i, std::min<size_t>(end - i, 9))), 999999999LL)));
        i = end;
    }
    return numbers;
}

}  // namespace

Camera::Camera(uint32_t id, std::string device, ArvCamera* camera, const CameraModel& model)
    : id_(id), device_(std::move(device)), camera_(camera), model_(model) {}

std::shared_ptr<Camera> Camera::Open(uint32_t id, std::string device, ArvCamera* camera,
                                     const CameraModel& model, std::string& error) {
    std::shared_ptr<Camera> cam(new Camera(id, std::move(device), camera, model));
    if (!cam->Start(error)) return nullptr;
    return cam;
}

bool Camera::Start(std::string& error) {
    ArvDevice* device = arv_camera_get_device(camera_);
    {
        std::lock_guard dk(deviceMu_);
        if (!features_.Resolve(device, model_.featureNames, error)) return false;
        Limits limits = ReadLimits(features_);
        limits.type = model_.type;
        limits.grabTimeoutUs = model_.grabTimeoutUs;
        if (limits.mono8.empty() && limits.mono16.empty()) {
            error = "genicam: camera '" + device_ + "' offers no Mono or Bayer pixel format";
            return false;
        }
        limits_ = std::make_shared<const Limits>(std::move(limits));
        // Frames start on the frame trigger; the acquisition runs until stopped.
        if (features_.Has("trigger_selector"))
            features_.WriteEntry("trigger_selector", "FrameStart");
        if (features_.Has("acquisition_mode"))
            features_.WriteEntry("acquisition_mode", "Continuous");
        // A pixel format of none of the driver's formats (RGB, packed) becomes the deepest mono.
        std::string format;
        features_.ReadText("pixel_format", format);
        if (format != limits_->mono8 && format != limits_->mono16 && format != limits_->bayer8)
            features_.WriteEntry("pixel_format",
                                 limits_->mono16.empty() ? limits_->mono8 : limits_->mono16);
        if (model_.frameRate > 0 && features_.Has("frame_rate")) {
            if (arv_device_get_feature(device, "AcquisitionFrameRateEnable"))
                arv_device_set_boolean_feature_value(device, "AcquisitionFrameRateEnable", TRUE,
                                                     nullptr);
            features_.WriteNumber("frame_rate", model_.frameRate);
        }
    }
    GError* gerror = nullptr;
    stream_ = arv_camera_create_stream(camera_, nullptr, nullptr, &gerror);
    if (stream_ == nullptr) {
        error = "genicam: no stream from camera '" + device_ +
                "': " + (gerror ? gerror->message : "unknown reason");
        if (gerror) g_error_free(gerror);
        return false;
    }
    lostHandler_ =
        g_signal_connect(device, "control-lost", G_CALLBACK(&Camera::OnControlLost), this);
    current_ = defaults_ = ReadSnapshot();
    payload_ = static_cast<uint32_t>(arv_camera_get_payload(camera_, nullptr));
    thread_ = std::thread(&Camera::Run, this);
    return true;
}

Camera::~Camera() {
    Shutdown();
    if (lostHandler_ != 0)
        g_signal_handler_disconnect(arv_camera_get_device(camera_), lostHandler_);
    if (stream_ != nullptr) g_object_unref(stream_);
    g_object_unref(camera_);
}

void Camera::OnControlLost(ArvDevice*, gpointer self) {
    auto* cam = static_cast<Camera*>(self);
    std::lock_guard lk(cam->mu_);
    cam->lost_ = true;
    cam->cv_.notify_all();
}

bool Camera::OnCaptureThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

// ---- Settings ------------------------------------------------------------------------------

ParamValues Camera::ReadSnapshot() {
    std::lock_guard dk(deviceMu_);
    const Limits& l = *limits_;
    ParamValues v{};
    double x = 0;
    v[KVCAM_PARAM_GAIN] =
        l.gain.present && features_.ReadNumber("gain", x) ? RegisterOfFeature(l.gain, x) : 0;
    v[KVCAM_PARAM_OFFSET] =
        kRegisterMax - (l.blackLevel.present && features_.ReadNumber("black_level", x)
                            ? RegisterOfFeature(l.blackLevel, x)
                            : 0);
    v[KVCAM_PARAM_EXPOSURE] =
        features_.ReadNumber("exposure", x)
            ? std::max<int32_t>(1, static_cast<int32_t>(std::lround(std::min(x, 2147483647.0))))
            : 1;
    v[KVCAM_PARAM_BINNING_H] =
        features_.ReadNumber("binning_horizontal", x) ? static_cast<int32_t>(x) : 1;
    v[KVCAM_PARAM_BINNING_V] =
        features_.ReadNumber("binning_vertical", x) ? static_cast<int32_t>(x) : 1;
    v[KVCAM_PARAM_BINNING] = v[KVCAM_PARAM_BINNING_V];
    std::string text;
    if (!l.readoutEntries.empty() && features_.ReadText("readout_speed", text)) {
        auto at = std::find(l.readoutEntries.begin(), l.readoutEntries.end(), text);
        v[KVCAM_PARAM_READOUT_SPEED] =
            at == l.readoutEntries.end() ? 0 : static_cast<int32_t>(at - l.readoutEntries.begin());
    }
    if (features_.ReadText("trigger_mode", text) && text == "On") {
        features_.ReadText("trigger_source", text);
        v[KVCAM_PARAM_TRIGGER] =
            text == "Software" ? KVCAM_TRIGGER_SOFTWARE : KVCAM_TRIGGER_EXTERNAL;
    }
    features_.ReadText("pixel_format", text);
    v[KVCAM_PARAM_FORMAT] = text == l.mono16  ? KVCAM_FORMAT_MONO16
                            : text == l.mono8 ? KVCAM_FORMAT_MONO8
                                              : KVCAM_FORMAT_BAYER8;
    const std::pair<uint32_t, const char*> region[] = {{KVCAM_PARAM_ROI_X, "offset_x"},
                                                       {KVCAM_PARAM_ROI_Y, "offset_y"},
                                                       {KVCAM_PARAM_ROI_WIDTH, "width"},
                                                       {KVCAM_PARAM_ROI_HEIGHT, "height"}};
    for (auto [id, quantity] : region)
        v[id] = features_.ReadNumber(quantity, x) ? static_cast<int32_t>(x) : 0;
    return v;
}

ParamValues Camera::Current() {
    std::lock_guard lk(mu_);
    return current_;
}

namespace {

// Rounds `value` down onto the feature's grid (min + k * inc).
int32_t OnGrid(const Bounds& b, int32_t value) {
    if (!b.present || b.inc <= 1) return value;
    const double base = b.min;
    return static_cast<int32_t>(base + std::floor((value - base) / b.inc) * b.inc);
}

}  // namespace

int32_t Camera::WriteGeometry(const ParamValues& v, const ParamValues& before) {
    std::lock_guard dk(deviceMu_);
    const Limits& l = *limits_;
    bool ok = true;
    if (l.binH.present && v[KVCAM_PARAM_BINNING_H] != before[KVCAM_PARAM_BINNING_H])
        ok = ok && features_.WriteNumber("binning_horizontal", v[KVCAM_PARAM_BINNING_H]);
    if (l.binV.present && v[KVCAM_PARAM_BINNING_V] != before[KVCAM_PARAM_BINNING_V])
        ok = ok && features_.WriteNumber("binning_vertical", v[KVCAM_PARAM_BINNING_V]);
    if (v[KVCAM_PARAM_FORMAT] != before[KVCAM_PARAM_FORMAT])
        ok = ok && features_.WriteEntry("pixel_format", l.EntryOf(v[KVCAM_PARAM_FORMAT]));
    if (!ok) return KVCAM_ERR_REFUSED;
    // The region is fitted to the sensor at this binning and the camera's increments; the
    // offsets go to 0 first so that a larger region always fits while it is written.
    ParamValues fit = v;
    int32_t maxW = 0, maxH = 0;
    ParamMax(l, v, KVCAM_PARAM_ROI_WIDTH, maxW);
    ParamMax(l, v, KVCAM_PARAM_ROI_HEIGHT, maxH);
    int32_t& w = fit[KVCAM_PARAM_ROI_WIDTH];
    int32_t& h = fit[KVCAM_PARAM_ROI_HEIGHT];
    w = std::max(OnGrid(l.width, std::min(w, maxW)),
                 std::max(1, static_cast<int32_t>(l.width.min)));
    h = std::max(OnGrid(l.height, std::min(h, maxH)),
                 std::max(1, static_cast<int32_t>(l.height.min)));
    fit[KVCAM_PARAM_ROI_X] =
        OnGrid(l.offsetX, std::clamp(fit[KVCAM_PARAM_ROI_X], 0, std::max(0, maxW - w)));
    fit[KVCAM_PARAM_ROI_Y] =
        OnGrid(l.offsetY, std::clamp(fit[KVCAM_PARAM_ROI_Y], 0, std::max(0, maxH - h)));
    if (!Differs(
            fit, before,
            {KVCAM_PARAM_ROI_X, KVCAM_PARAM_ROI_Y, KVCAM_PARAM_ROI_WIDTH, KVCAM_PARAM_ROI_HEIGHT}))
        return KVCAM_OK;
    if (l.offsetX.present) ok = ok && features_.WriteNumber("offset_x", 0);
    if (l.offsetY.present) ok = ok && features_.WriteNumber("offset_y", 0);
    ok = ok && features_.WriteNumber("width", w) && features_.WriteNumber("height", h);
    if (l.offsetX.present) ok = ok && features_.WriteNumber("offset_x", fit[KVCAM_PARAM_ROI_X]);
    if (l.offsetY.present) ok = ok && features_.WriteNumber("offset_y", fit[KVCAM_PARAM_ROI_Y]);
    return ok ? KVCAM_OK : KVCAM_ERR_REFUSED;
}

int32_t Camera::WriteSignal(const ParamValues& v, const ParamValues& before) {
    std::lock_guard dk(deviceMu_);
    const Limits& l = *limits_;
    bool ok = true;
    if (v[KVCAM_PARAM_EXPOSURE] != before[KVCAM_PARAM_EXPOSURE])
        ok = ok && features_.WriteNumber("exposure", v[KVCAM_PARAM_EXPOSURE]);
    if (l.gain.present && v[KVCAM_PARAM_GAIN] != before[KVCAM_PARAM_GAIN])
        ok = ok && features_.WriteNumber("gain", FeatureOfRegister(l.gain, v[KVCAM_PARAM_GAIN]));
    if (l.blackLevel.present && v[KVCAM_PARAM_OFFSET] != before[KVCAM_PARAM_OFFSET])
        ok = ok && features_.WriteNumber(
                       "black_level",
                       FeatureOfRegister(l.blackLevel, kRegisterMax - v[KVCAM_PARAM_OFFSET]));
    if (!l.readoutEntries.empty() &&
        v[KVCAM_PARAM_READOUT_SPEED] != before[KVCAM_PARAM_READOUT_SPEED])
        ok = ok &&
             features_.WriteEntry("readout_speed", l.readoutEntries[v[KVCAM_PARAM_READOUT_SPEED]]);
    const int32_t trigger = v[KVCAM_PARAM_TRIGGER];
    if (trigger != before[KVCAM_PARAM_TRIGGER] && features_.Has("trigger_mode")) {
        if (trigger == KVCAM_TRIGGER_FREE_RUN) {
            ok = ok && features_.WriteEntry("trigger_mode", "Off");
        } else {
            ok = ok &&
                 features_.WriteEntry("trigger_source", trigger == KVCAM_TRIGGER_SOFTWARE
                                                            ? std::string("Software")
                                                            : l.externalLine) &&
                 features_.WriteEntry("trigger_mode", "On");
        }
    }
    return ok ? KVCAM_OK : KVCAM_ERR_REFUSED;
}

int32_t Camera::Send(ParamValues& v) {
    const Limits& l = *limits_;
    // Every value must be one this camera could have set itself.
    for (uint32_t id = 0; id < kParamCount; ++id) {
        if (!IsKnownParam(id) || id == KVCAM_PARAM_BINNING) continue;
        ParamValues probe = v;
        if (ApplyParam(l, probe, id, v[id]) != KVCAM_OK && probe[id] == v[id] &&
            !(id >= KVCAM_PARAM_ROI_X && id <= KVCAM_PARAM_ROI_HEIGHT))
            return KVCAM_ERR_BAD_SETTINGS;
    }
    ParamValues before;
    bool restart = false;
    {
        std::lock_guard lk(mu_);
        if (lost_) return KVCAM_ERR_COMMS;
        before = current_;
        restart = acquiring_;
    }
    const bool geometry = Differs(
        v, before,
        {KVCAM_PARAM_BINNING_H, KVCAM_PARAM_BINNING_V, KVCAM_PARAM_FORMAT, KVCAM_PARAM_ROI_X,
         KVCAM_PARAM_ROI_Y, KVCAM_PARAM_ROI_WIDTH, KVCAM_PARAM_ROI_HEIGHT});
    // A camera takes no new geometry while it acquires: the frames queued for the old one
    // end as aborted and the acquisition starts again once the camera has the new one.
    if (geometry && restart) {
        Abort();
        StopAcquisition();
        std::lock_guard lk(mu_);
        acquiring_ = false;
    }
    int32_t result = geometry ? WriteGeometry(v, before) : KVCAM_OK;
    if (result == KVCAM_OK) result = WriteSignal(v, before);
    const ParamValues taken = ReadSnapshot();
    const uint32_t payload = static_cast<uint32_t>(arv_camera_get_payload(camera_, nullptr));
    bool startAgain = false;
    {
        std::lock_guard lk(mu_);
        current_ = taken;
        if (payload > 0) payload_ = payload;
        startAgain = geometry && restart && streaming_ && !lost_;
        if (result == KVCAM_OK && lost_) result = KVCAM_ERR_COMMS;
    }
    if (startAgain && StartAcquisition(false)) {
        std::lock_guard lk(mu_);
        acquiring_ = true;
    }
    if (result == KVCAM_OK) v = taken;
    return result;
}

int32_t Camera::Info(uint32_t infoId, int32_t& value) {
    const Limits& l = *limits_;
    const ParamValues v = Current();
    std::string text;
    switch (infoId) {
        case KVCAM_INFO_CAMERA_TYPE:
            value = l.type;
            return KVCAM_OK;
        case KVCAM_INFO_SERIAL_NUMBER: {
            Text(KVCAM_TEXT_SERIAL, text);
            const std::vector<int32_t> n = NumbersIn(text);
            value = n.empty() ? 0 : n.back();
            return KVCAM_OK;
        }
        case KVCAM_INFO_HARDWARE_VERSION:
            value = 1;
            return KVCAM_OK;
        case KVCAM_INFO_FIRMWARE_VERSION:
        case KVCAM_INFO_FIRMWARE_BUILD: {
            Text(KVCAM_TEXT_FIRMWARE, text);
            const std::vector<int32_t> n = NumbersIn(text);
            const size_t at = infoId == KVCAM_INFO_FIRMWARE_VERSION ? 0 : n.size() - 1;
            value = n.empty() || (infoId == KVCAM_INFO_FIRMWARE_BUILD && n.size() < 2) ? 0 : n[at];
            return KVCAM_OK;
        }
        case KVCAM_INFO_READOUT_SPEEDS:
            value = std::max<int32_t>(1, static_cast<int32_t>(l.readoutEntries.size()));
            return KVCAM_OK;
        case KVCAM_INFO_MAX_BIT_DEPTH:
            value = l.MaxBitDepth();
            return KVCAM_OK;
        case KVCAM_INFO_COOLER:
            value = 0;
            return KVCAM_OK;
        case KVCAM_INFO_TEMPERATURE: {
            std::lock_guard dk(deviceMu_);
            double celsius = 0;
            if (!features_.ReadNumber("temperature", celsius)) return KVCAM_ERR_NOT_SUPPORTED;
            value = static_cast<int32_t>(std::lround(celsius * 10));
            return KVCAM_OK;
        }
        case KVCAM_INFO_IMAGE_WIDTH:
            value = v[KVCAM_PARAM_ROI_WIDTH];
            return KVCAM_OK;
        case KVCAM_INFO_IMAGE_HEIGHT:
            value = v[KVCAM_PARAM_ROI_HEIGHT];
            return KVCAM_OK;
        case KVCAM_INFO_IMAGE_SIZE:
            value = static_cast<int32_t>(
                KvCam_CalcImageSize(static_cast<uint32_t>(v[KVCAM_PARAM_FORMAT]),
                                    v[KVCAM_PARAM_ROI_WIDTH], v[KVCAM_PARAM_ROI_HEIGHT]));
            return KVCAM_OK;
        case KVCAM_INFO_CCD_TYPE:
            value = l.Colour() ? 1 : 0;
            return KVCAM_OK;
        case KVCAM_INFO_CCD_WIDTH:
            value = l.sensorWidth;
            return KVCAM_OK;
        case KVCAM_INFO_CCD_HEIGHT:
            value = l.sensorHeight;
            return KVCAM_OK;
        case KVCAM_INFO_BAYER_PATTERN:
            value = l.bayerPattern;
            return KVCAM_OK;
        case KVCAM_INFO_MODEL_B:
            value = 0;
            return KVCAM_OK;
        default:
            return KVCAM_ERR_UNKNOWN_ID;
    }
}

int32_t Camera::Text(uint32_t textId, std::string& value) {
    static const char* const kQuantity[] = {nullptr, nullptr,  "vendor",
                                            "model", "serial", "firmware"};
    if (textId == KVCAM_TEXT_BACKEND) {
        value = "genicam";
        return KVCAM_OK;
    }
    if (textId == KVCAM_TEXT_DEVICE) {
        value = device_;
        return KVCAM_OK;
    }
    if (textId > KVCAM_TEXT_FIRMWARE) return KVCAM_ERR_UNKNOWN_ID;
    std::lock_guard dk(deviceMu_);
    value.clear();
    return features_.ReadText(kQuantity[textId], value) ? KVCAM_OK : KVCAM_ERR_NOT_SUPPORTED;
}

// ---- Acquisition ---------------------------------------------------------------------------

bool Camera::StartAcquisition(bool single) {
    std::lock_guard dk(deviceMu_);
    if (features_.Has("acquisition_mode")) {
        const std::vector<std::string> modes = features_.Entries("acquisition_mode");
        const bool canSingle = std::find(modes.begin(), modes.end(), "SingleFrame") != modes.end();
        features_.WriteEntry("acquisition_mode",
                             single && canSingle ? "SingleFrame" : "Continuous");
    }
    GError* error = nullptr;
    arv_camera_start_acquisition(camera_, &error);
    if (error != nullptr) {
        g_error_free(error);
        return false;
    }
    std::lock_guard lk(mu_);
    frameIdKnown_ = false;
    return true;
}

void Camera::StopAcquisition() {
    std::lock_guard dk(deviceMu_);
    GError* error = nullptr;
    arv_camera_stop_acquisition(camera_, &error);
    if (error != nullptr) g_error_free(error);
}

int32_t Camera::SetStreaming(bool on) {
    {
        std::lock_guard lk(mu_);
        if (lost_) return KVCAM_ERR_COMMS;
        if (streaming_ == on) return KVCAM_OK;
        streaming_ = on;
        if (on == acquiring_) return KVCAM_OK;
    }
    if (on && !StartAcquisition(false)) {
        std::lock_guard lk(mu_);
        streaming_ = false;
        return KVCAM_ERR_COMMS;
    }
    if (!on) StopAcquisition();
    std::lock_guard lk(mu_);
    acquiring_ = on;
    return KVCAM_OK;
}

// Under mu_: the job joins the queue, and its buffer the stream, in the same order.
int32_t Camera::Push(Job job) {
    if (jobs_.size() >= KVCAM_MAX_QUEUED_FRAMES) return KVCAM_ERR_QUEUE_FULL;
    job.serial = ++serial_;
    const ParamValues& v = current_;
    const uint32_t image = KvCam_CalcImageSize(static_cast<uint32_t>(v[KVCAM_PARAM_FORMAT]),
                                               v[KVCAM_PARAM_ROI_WIDTH], v[KVCAM_PARAM_ROI_HEIGHT]);
    const uint32_t payload = std::max(payload_, image);
    if (job.memory == nullptr || job.size < image) {
        job.error = KVCAM_ERR_BUFFER_TOO_SMALL;
    } else if (job.bounce || job.size < payload) {
        job.bounce = true;
        job.buffer = arv_buffer_new_full(
            payload, nullptr, reinterpret_cast<gpointer>(static_cast<uintptr_t>(job.serial)),
            nullptr);
    } else {
        job.buffer = arv_buffer_new_full(
            payload, job.memory, reinterpret_cast<gpointer>(static_cast<uintptr_t>(job.serial)),
            nullptr);
    }
    if (job.buffer != nullptr) arv_stream_push_buffer(stream_, job.buffer);
    jobs_.push_back(job);
    cv_.notify_all();
    return KVCAM_OK;
}

void Camera::WaitWhileReclaiming(std::unique_lock<std::mutex>& lk) {
    // The camera's own thread reclaims after the stream dropped its buffers, so its pushes
    // (from a callback) are safe; any other thread's would race with the drop.
    if (!OnCaptureThread()) cv_.wait(lk, [&] { return !reclaiming_; });
}

int32_t Camera::Queue(KvCamFrame* frame, KvCamFrameCallback callback, void* user,
                      uintptr_t userData) {
    std::unique_lock lk(mu_);
    WaitWhileReclaiming(lk);
    if (lost_) return KVCAM_ERR_COMMS;
    if (!streaming_) return KVCAM_ERR_NOT_STREAMING;
    Job job;
    job.frame = frame;
    job.memory = frame->buffer;
    job.size = frame->bufferSize;
    job.callback = callback;
    job.user = user;
    job.userData = userData;
    return Push(job);
}

int32_t Camera::Grab(KvCamFrame* frame) {
    if (OnCaptureThread()) return KVCAM_ERR_WRONG_THREAD;
    SyncWait wait;
    Job job;
    job.frame = frame;
    job.memory = frame->buffer;
    job.size = frame->bufferSize;
    job.sync = &wait;
    job.bounce = true;  // a grab that times out must leave the caller's memory alone
    bool startHere = false;
    int64_t boundUs = 0;
    {
        std::unique_lock lk(mu_);
        WaitWhileReclaiming(lk);
        if (lost_) return frame->errorCode = KVCAM_ERR_COMMS;
        if (int32_t r = Push(job)) return frame->errorCode = r;
        ++counters_.grabbing;
        startHere = !acquiring_;
        if (startHere) acquiring_ = true;
        boundUs = limits_->grabTimeoutUs + current_[KVCAM_PARAM_EXPOSURE] + kGrabSlackUs;
    }
    if (startHere && !StartAcquisition(true)) {
        std::lock_guard lk(mu_);
        acquiring_ = false;
    }
    std::unique_lock lk(mu_);
    const int32_t result = WaitForGrab(lk, wait, boundUs);
    --counters_.grabbing;
    if (result == KVCAM_OK) ++counters_.grabbed;
    if (startHere && !streaming_) {
        acquiring_ = false;
        lk.unlock();
        StopAcquisition();
    }
    frame->errorCode = result;
    return result;
}

int32_t Camera::WaitForGrab(std::unique_lock<std::mutex>& lk, SyncWait& wait, int64_t boundUs) {
    // Real time: the camera runs on its own clock, whatever the platform clock's warp.
    if (cv_.wait_for(lk, std::chrono::microseconds(boundUs), [&] { return wait.done; }))
        return wait.result;
    // Timed out: a job still waiting is withdrawn (its driver buffer is dropped when the
    // stream gives it back); one being completed is waited for.
    for (Job& j : jobs_) {
        if (j.sync != &wait) continue;
        j.sync = nullptr;
        return KVCAM_ERR_TIMEOUT;
    }
    cv_.wait(lk, [&] { return wait.done; });
    return wait.result;
}

int32_t Camera::Abort() {
    std::unique_lock lk(mu_);
    const uint64_t target = ++abortEpoch_;
    cv_.notify_all();
    if (OnCaptureThread()) return KVCAM_OK;  // the thread does it once the callback returns
    cv_.wait(lk, [&] { return doneEpoch_ >= target || stop_; });
    return KVCAM_OK;
}

int32_t Camera::Trigger() {
    {
        std::lock_guard lk(mu_);
        if (lost_) return KVCAM_ERR_COMMS;
        if (current_[KVCAM_PARAM_TRIGGER] != KVCAM_TRIGGER_SOFTWARE) return KVCAM_OK;
    }
    std::lock_guard dk(deviceMu_);
    return features_.Execute("trigger_software") ? KVCAM_OK : KVCAM_ERR_COMMS;
}

KvCamSimCounters Camera::Counters() {
    guint64 completed = 0, failures = 0, underruns = 0;
    arv_stream_get_statistics(stream_, &completed, &failures, &underruns);
    std::lock_guard lk(mu_);
    KvCamSimCounters c = counters_;
    c.pending = 0;
    for (const Job& j : jobs_) c.pending += j.sync == nullptr && j.callback != nullptr;
    c.underruns = static_cast<uint32_t>(underruns);
    return c;
}

// ---- The camera's thread -------------------------------------------------------------------

void Camera::Run() {
    std::unique_lock lk(mu_);
    while (!stop_) {
        if (abortEpoch_ != doneEpoch_) {
            const uint64_t target = abortEpoch_;
            Reclaim(lk, KVCAM_ERR_ABORTED);
            doneEpoch_ = target;
            cv_.notify_all();
            continue;
        }
        if (lost_ && !jobs_.empty()) {
            Reclaim(lk, KVCAM_ERR_COMMS);
            continue;
        }
        if (!jobs_.empty() && jobs_.front().buffer == nullptr) {
            Job job = jobs_.front();
            jobs_.pop_front();
            if (job.sync == nullptr && job.callback != nullptr) ++counters_.failed;
            lk.unlock();
            Finish(job, job.error, nullptr);
            lk.lock();
            continue;
        }
        if (jobs_.empty()) {
            cv_.wait_for(lk, std::chrono::milliseconds(100));
            continue;
        }
        lk.unlock();
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_, kPopTimeoutUs);
        lk.lock();
        if (buffer != nullptr) Delivered(lk, buffer);
    }
    Reclaim(lk, KVCAM_ERR_ABORTED);
    doneEpoch_ = abortEpoch_;
    cv_.notify_all();
}

void Camera::Delivered(std::unique_lock<std::mutex>& lk, ArvBuffer* buffer) {
    const auto serial =
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arv_buffer_get_user_data(buffer)));
    auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const Job& j) { return j.serial == serial; });
    if (it == jobs_.end()) {
        g_object_unref(buffer);
        return;
    }
    Job job = *it;
    jobs_.erase(it);
    const bool counted = job.sync == nullptr && job.callback != nullptr;
    int32_t result = KVCAM_OK;
    if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
        result = KVCAM_ERR_FAILED;
        if (counted) ++counters_.failed;
    } else {
        CountFrameId(arv_buffer_get_frame_id(buffer));
        if (counted) ++counters_.completed;
    }
    if (result == KVCAM_OK && (job.sync != nullptr || job.callback != nullptr)) {
        KvCamFrame& f = *job.frame;
        const Limits& l = *limits_;
        f.format = static_cast<uint32_t>(current_[KVCAM_PARAM_FORMAT]);
        f.bitDepth = f.format == KVCAM_FORMAT_MONO16 ? static_cast<uint32_t>(l.mono16Bits) : 8;
        f.bayerPattern =
            static_cast<uint32_t>(PatternOfEntry(l.EntryOf(current_[KVCAM_PARAM_FORMAT])));
        f.frameNumber = static_cast<uint32_t>(frameNumber_);
        f.timestamp = PlatformTimestamp(buffer);
    }
    lk.unlock();
    Finish(job, result, buffer);
    lk.lock();
}

void Camera::CountFrameId(uint64_t id) {
    // Frame numbers follow the camera's ids, unwrapped: 16-bit block ids run from 65535 on
    // to 1 (0 is never used), and the number goes on counting.
    uint64_t step = 1;
    if (frameIdKnown_ && id > lastFrameId_) {
        step = id - lastFrameId_;
    } else if (frameIdKnown_ && lastFrameId_ >= 0xFF00 && id < 0x100) {
        step = 0xFFFF - lastFrameId_ + id;
    }
    if (frameIdKnown_) {
        counters_.missingFrameIds += static_cast<uint32_t>(step - 1);
        frameNumber_ += step;
    } else if (frameNumber_ == 0) {
        frameNumber_ = id;
    } else {
        ++frameNumber_;  // a new acquisition: its ids may start anywhere
    }
    frameIdKnown_ = true;
    lastFrameId_ = id;
}

int64_t Camera::PlatformTimestamp(ArvBuffer* buffer) {
    guint64 ns = arv_buffer_get_timestamp(buffer);
    if (ns == 0) ns = arv_buffer_get_system_timestamp(buffer);
    const int64_t cameraUs = static_cast<int64_t>(ns / 1000);
    const int64_t now = bx::kernel::NowMicroseconds();
    // The camera's clock is anchored to the platform's at the first frame, so frames keep
    // their own spacing; a clock that jumps (a camera reset) is anchored again.
    const int64_t mapped = cameraUs + clockOffsetUs_;
    if (!clockKnown_ || mapped > now + 1'000'000 || mapped < now - 60'000'000) {
        clockOffsetUs_ = now - cameraUs;
        clockKnown_ = true;
    }
    return cameraUs + clockOffsetUs_;
}

// The test aid of the description's frame_counter key, as on the simulated camera: the frame
// number in the first four pixels, one byte per pixel, least significant first.
void Camera::StampFrameNumber(const KvCamFrame& frame, void* memory) {
    if (uint64_t{frame.width} * frame.height < 4) return;
    for (uint32_t i = 0; i < 4; ++i) {
        const uint8_t byte = static_cast<uint8_t>(frame.frameNumber >> (8 * i));
        if (frame.format == KVCAM_FORMAT_MONO16)
            static_cast<uint16_t*>(memory)[i] = byte;
        else
            static_cast<uint8_t*>(memory)[i] = byte;
    }
}

void Camera::Finish(Job& job, int32_t result, ArvBuffer* filled) {
    // A withdrawn grab has no owner left: its descriptor and memory are not to be touched.
    const bool owned = job.sync != nullptr || job.callback != nullptr;
    if (owned && result == KVCAM_OK && filled != nullptr) {
        size_t bytes = 0;
        const void* data = arv_buffer_get_image_data(filled, &bytes);
        const gint w = std::max(arv_buffer_get_image_width(filled), 0);
        const gint h = std::max(arv_buffer_get_image_height(filled), 0);
        const uint32_t image = KvCam_CalcImageSize(job.frame->format, static_cast<uint32_t>(w),
                                                   static_cast<uint32_t>(h));
        if (data == nullptr || image == 0 || image > job.size || bytes < image) {
            result = KVCAM_ERR_BUFFER_TOO_SMALL;
        } else {
            if (job.bounce) std::memcpy(job.memory, data, image);
            job.frame->width = static_cast<uint32_t>(w);
            job.frame->height = static_cast<uint32_t>(h);
            if (model_.frameCounter) StampFrameNumber(*job.frame, job.memory);
        }
    }
    if (filled != nullptr) g_object_unref(filled);
    if (!owned) return;
    job.frame->errorCode = result;
    if (job.sync != nullptr) {
        std::lock_guard lk(mu_);
        job.sync->result = result;
        job.sync->done = true;
        cv_.notify_all();
    } else {
        job.callback(job.user, job.userData, result, KVCAM_CALLBACK_ON_COMPLETION);
    }
}

void Camera::Reclaim(std::unique_lock<std::mutex>& lk, int32_t code) {
    std::deque<Job> jobs;
    jobs.swap(jobs_);
    const bool wasAcquiring = acquiring_;
    const bool lost = lost_;
    uint32_t queued = 0;
    for (const Job& j : jobs) queued += j.sync == nullptr && j.callback != nullptr;
    if (code == KVCAM_ERR_ABORTED)
        counters_.aborted += queued;
    else
        counters_.lost += queued;
    reclaiming_ = true;
    lk.unlock();
    if (wasAcquiring && !lost) StopAcquisition();
    // Stopping the stream's thread drops every buffer it holds: no caller memory is written
    // from here on.
    arv_stream_stop_thread(stream_, TRUE);
    for (Job& j : jobs) {
        j.buffer = nullptr;
        Finish(j, j.error != KVCAM_OK ? j.error : code, nullptr);
    }
    arv_stream_start_thread(stream_);
    lk.lock();
    reclaiming_ = false;
    cv_.notify_all();
    acquiring_ = false;
    frameIdKnown_ = false;
    if (!(wasAcquiring && streaming_ && !lost_ && !stop_)) return;
    lk.unlock();
    const bool started = StartAcquisition(false);
    lk.lock();
    acquiring_ = started;
}

void Camera::Shutdown() {
    {
        std::lock_guard lk(mu_);
        if (!thread_.joinable()) return;
        stop_ = true;
        cv_.notify_all();
    }
    thread_.join();
    bool acquiring;
    {
        std::lock_guard lk(mu_);
        acquiring = acquiring_ && !lost_;
        acquiring_ = false;
    }
    if (acquiring) StopAcquisition();
}

}  // namespace kvcam::genicam
