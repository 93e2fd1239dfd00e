// Which camera the control's driver opens: the simulated camera or a GenICam camera named by
// its Aravis device id. The driver reads the choice from KVCAM_DEVICE when it loads, so a host
// sets it before it creates the control. bxgrab and bxgrab-gui share this.
//
// Thread rule: any thread, but before the control is created (the environment is process-wide).
#pragma once

#include <string>

namespace bxgrab {

// Why `device` is not a device a host can ask for ("simulated" or "genicam:<id>"); empty when
// it is one.
std::string DeviceProblem(const std::string& device);

// Sets KVCAM_DEVICE to `device` (checked with DeviceProblem first).
void UseDevice(const std::string& device);

// True when the environment chooses a GenICam camera (KVCAM_DEVICE=genicam:...).
bool GenicamChosen();

}  // namespace bxgrab
