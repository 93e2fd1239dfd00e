// bxgrab controller: the version query or one command through the control's serial link.
#include "controller.h"

#include <bxplatform/ui.h>

#include <iostream>
#include <memory>

#include "control/Trace.h"

namespace bxgrab {
namespace {

// The trace line with its carriage returns and line feeds shown as \r and \n.
std::string Printable(const std::string& text) {
    std::string out;
    for (char ch : text) out += ch == '\r' ? "\\r" : ch == '\n' ? "\\n" : std::string(1, ch);
    return out;
}

}  // namespace

int RunController(const Options& options, const ControllerOptions& controller) {
    bx::ui::SetUiBackend(std::make_shared<bx::ui::ConsoleUi>(AnswerCode(options.answer)));
    if (options.traceLevel >= 0) g_iTraceLevel = options.traceLevel;
    TBXTessvikFerroFW c;
    if (!c.OpenControllerPort(controller.port))
        throw Failure{kCamera, "controller port " + controller.port + " could not be opened"};

    if (!controller.send.empty()) {
        // The command line ends as the version query's does.
        std::string reply;
        if (!c.SendControllerCommand(controller.send + "\r\n", reply))
            throw Failure{kCamera, "controller: " + reply};
        std::cout << reply << "\n";
        return kOk;
    }
    // Retry in the box asks again; a console answering Retry by default would ask forever
    // (the read time-out box between the questions keeps them from counting as repeats).
    int status = 0;
    int retries = 0;
    do {
        status = c.QueryControllerVersion();
    } while (status == 2 && retries++ < bx::ui::ConsoleUi::kMaxAutomaticRetries);
    if (status != 0) {
        const char* why = status == 1   ? "no response"
                          : status == 3 ? "unrecognised response"
                                        : "no usable answer";
        throw Failure{kCamera, std::string("controller: ") + why + " (" +
                                   Printable(c.lbl_Diagnosis->Caption()) + ")"};
    }
    std::cout << "controller version: " << c.lbl_Version->Caption() << "\n";
    return kOk;
}

}  // namespace bxgrab
