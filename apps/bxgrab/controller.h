// bxgrab controller: talks to an external camera controller on a COM port with the
// platform's serial ports, without creating the control or opening the camera.
//
// Thread rule: UI thread only (bxgrab's main thread).
#pragma once

#include <string>

#include "session.h"

namespace bxgrab {

struct ControllerOptions {
    std::string port;  // "COMn"; BX_COMn names its device, else /dev/ttyS{n-1}
    std::string send;  // a command to send instead of the version query; empty: query
};

// Prints the controller's version (or its reply to `send`); throws Failure (kCamera) when the
// port does not open or the controller gives no usable answer.
int RunController(const Options& options, const ControllerOptions& controller);

}  // namespace bxgrab
