// Opening the control on the simulated (or a described) camera, shared by the benchmarks.
#pragma once

#include <kvcam/kvcam.h>
#include <kvcam/kvcam_sim.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "control/BXTessvikGrabImpl1.h"

namespace bench {

// A control with its camera session open on `description`, exposure `exposureUs`, showing
// live video in the view `imageWindow` names (0: none); exits when the camera does not open.
inline std::unique_ptr<ferro::TBXTessvikFerroFW> OpenControl(const char* description,
                                                             int exposureUs,
                                                             uint32_t imageWindow = 0) {
    KvCamSim_Reset();
    if (KvCamSim_UseDescription(description) != KVCAM_OK) {
        std::fprintf(stderr, "bad camera description: %s\n", KvCamSim_LastError());
        std::exit(1);
    }
    auto control = std::make_unique<ferro::TBXTessvikFerroFW>();
    control->ImageWindow = imageWindow;
    control->InitialiseArmed = true;
    control->Initialise();
    if (!control->SessionOpen) {
        std::fprintf(stderr, "camera did not open: %s\n", KvCamSim_LastError());
        std::exit(1);
    }
    control->SetExposureTime(exposureUs);
    return control;
}

}  // namespace bench
