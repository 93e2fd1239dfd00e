// Fixture for the acquisition tests: the control fixture plus a headless view registered as
// the control's image window, an event log fed from the form's event slots, and helpers to
// read back what the image store holds.
#pragma once

#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <bxview/headless_view.h>
#include <bxview/image_view.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/control_fixture.h"

namespace ferro::testing {

// A small camera with its frame counter on, so every frame proves where it came from.
inline constexpr const char* kSmallCountingCamera =
    "[sensor]\nwidth = 96\nheight = 64\nframe_counter = yes\n";

class AcquisitionTest : public ControlTest {
protected:
    void TearDown() override {
        ControlTest::TearDown();
        registration_.reset();
        for (MM_HANDLE image : bx::mm::ListImages()) MM_DeleteImage(image);
    }

    TBXTessvikFerroFW& OpenWithView(const char* description = kSmallCountingCamera) {
        UseCamera(description);
        TBXTessvikFerroFW& c = CreateAndOpen();
        registration_ = std::make_unique<bx::view::ImageViewRegistration>(&view);
        c.ImageWindow = registration_->handle();
        return c;
    }

    // Logs the acquisition events by name and every progress value as it is raised.
    void RecordEvents() {
        TBXTessvikFerroFW& c = *control;
        const std::pair<EventId, const char*> named[] = {
            {EventId::OnPreAcquisitionTriggerClick, "PreAcquisition"},
            {EventId::OnPreFrameTriggerClick, "PreFrame"},
            {EventId::OnFrameTriggerClick, "Frame"},
            {EventId::OnPostFrameTriggerClick, "PostFrame"},
            {EventId::OnAcquisitionTriggerClick, "Acquisition"},
            {EventId::OnPostAcquisitionTriggerClick, "PostAcquisition"},
        };
        for (const auto& [id, name] : named)
            c.Events.Set(id, [this, label = std::string(name)] { events.push_back(label); });
        c.Events.Set(EventId::OnProcessUpdate, [this, &c] {
            events.push_back("Progress " + std::to_string(c.GrabProgress));
        });
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        if (start != text.size()) lines.push_back("<unterminated>" + text.substr(start));
        return lines;
    }

    // The frame counter the camera wrote into the first pixels of a stored grey frame.
    static uint32_t FrameCounter(MM_HANDLE image, int64_t frame) {
        const auto info = bx::mm::Describe(image);
        std::vector<uint8_t> pixels = bx::mm::ReadFrame(image, frame);
        if (!info || pixels.empty()) return 0;
        KvCamFrame descriptor{};
        descriptor.buffer = pixels.data();
        descriptor.bufferSize = static_cast<uint32_t>(pixels.size());
        descriptor.format = info->bytes_per_pixel == 1 ? KVCAM_FORMAT_MONO8 : KVCAM_FORMAT_MONO16;
        descriptor.width = static_cast<uint32_t>(info->size.d[0]);
        descriptor.height = static_cast<uint32_t>(info->size.d[1]);
        uint32_t counter = 0;
        return KvCamSim_ReadFrameCounter(&descriptor, &counter) == KVCAM_OK ? counter : 0;
    }

    static size_t DistinctBytes(const std::vector<uint8_t>& pixels) {
        std::vector<uint8_t> sorted = pixels;
        std::sort(sorted.begin(), sorted.end());
        return static_cast<size_t>(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
    }

    bx::view::THeadlessImageView view;
    std::vector<std::string> events;

private:
    std::unique_ptr<bx::view::ImageViewRegistration> registration_;
};

}  // namespace ferro::testing
