// bxgrab controller: the version query or one command on the controller's serial line. The
// control's own link to the controller is not on its interfaces, so bxgrab talks to the port
// itself, with the line settings and bounded waits the controller expects.
#include "controller.h"

#include <bxplatform/serial.h>

#include <iostream>

namespace bxgrab {
namespace {

namespace kernel = bx::kernel;

// A reply line is at most this long; each character is waited for at most one step.
constexpr size_t kReplyCapacity = 30;
constexpr uint32_t kReadStepMs = 5000;

// The text with its carriage returns and line feeds shown as \r and \n.
std::string Printable(const std::string& text) {
    std::string out;
    for (char ch : text) out += ch == '\r' ? "\\r" : ch == '\n' ? "\\n" : std::string(1, ch);
    return out;
}

class Port {
public:
    explicit Port(const std::string& name) {
        kernel::SerialStatus status;
        port_ = kernel::OpenSerialPort(name, &status);
        if (port_ == kernel::INVALID_SERIAL_HANDLE)
            throw Failure{kCamera, "controller port " + name +
                                       " could not be opened: Unable to Open COM Port (" +
                                       status.Text() + ")"};
        // 9600 8N1, no CTS flow control, DTR and RTS on.
        if (!kernel::SetSerialLine(port_, kernel::SerialLine{}).Ok())
            throw Failure{kCamera, "controller port " + name + ": Unable to Set DCB for COM Port"};
        kernel::SetSerialTimeouts(port_, {.ReadInterval = 2000,
                                          .ReadTotalMultiplier = 5000,
                                          .ReadTotalConstant = 10000,
                                          .WriteTotalMultiplier = 1000,
                                          .WriteTotalConstant = 5000});
        kernel::FlushSerial(port_);
    }
    ~Port() { kernel::CloseSerialPort(port_); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // Sends `text` and reads one reply line (up to a carriage return, which is dropped).
    // False with the reason in `reply` when the write or the read fails.
    bool Ask(const std::string& text, std::string& reply) {
        size_t written = 0;
        if (!kernel::WriteSerial(port_, text.data(), text.size(), &written).Ok() ||
            written != text.size()) {
            reply = "Write Error";
            return false;
        }
        std::string line;
        while (line.size() < kReplyCapacity) {
            unsigned char byte = 0;
            size_t got = 0;
            if (!kernel::ReadSerial(port_, &byte, 1, &got, kReadStepMs).Ok() || got != 1) break;
            line += byte == 0 ? ' ' : static_cast<char>(byte);
            if (byte == '\r') break;
        }
        if (line.empty()) {
            reply = "Read Error";
            return false;
        }
        line.pop_back();  // the carriage return (or, for a full buffer, its last character)
        reply = line;
        return true;
    }

private:
    kernel::SerialHandle port_ = kernel::INVALID_SERIAL_HANDLE;
};

}  // namespace

int RunController(const Options& /*options*/, const ControllerOptions& controller) {
    Port port(controller.port);
    std::string reply;
    if (!controller.send.empty()) {
        // The command line ends as the version query's does.
        if (!port.Ask(controller.send + "\r\n", reply))
            throw Failure{kCamera, "controller: " + reply};
        std::cout << reply << "\n";
        return kOk;
    }
    const std::string query = "?VER\r\n";
    if (!port.Ask(query, reply))
        throw Failure{kCamera, "controller: no response (" + Printable(query) + reply + ")"};
    if (reply.find("VER") == std::string::npos)
        throw Failure{kCamera, "controller: unrecognised response (" + Printable(query) + " : " +
                                   Printable(reply) + ")"};
    std::cout << "controller version: " << (reply.size() > 4 ? reply.substr(4) : "") << "\n";
    return kOk;
}

}  // namespace bxgrab
