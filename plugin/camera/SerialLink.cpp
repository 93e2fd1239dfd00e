// The line-oriented link to an external camera controller on a COM port: open the port, send
// one command text, read one reply line, ask for the controller's version. Only the hidden
// "Controller" group reaches it. Every wait is bounded by the port's time-outs.
#include <bxplatform/serial.h>

#include "control/BXTessvikGrabImpl1.h"
#include "control/Trace.h"

namespace ferro {
namespace {

using namespace bx::ui;
namespace kernel = bx::kernel;

// The reply buffer of one line.
constexpr size_t kReplyCapacity = 30;
constexpr uint32_t kReadStepMs = 5000;
constexpr char kVersionCaption[] = "Initialising Tessvik Ferro 1 Camera";

bool PortOpen(kernel::SerialHandle port) {
    return port != kernel::INVALID_SERIAL_HANDLE && port != 0;
}

void Warn(const char* text, const char* caption) {
    MessageBox(text, caption, MB_OK | MB_ICONWARNING);
}

bool WriteCommand(kernel::SerialHandle port, const std::string& text) {
    size_t written = 0;
    const kernel::SerialStatus status =
        kernel::WriteSerial(port, text.data(), text.size(), &written);
    if (!status.Ok() && g_iTraceLevel > 0) TraceWrite("WriteCom: %s", status.Text().c_str());
    return status.Ok() && written == text.size();
}

// One character of the reply; false (after its box) when none could be read. The wait ends
// after one 5 s step even though the port's own bound for a byte is longer.
bool ReadCharCom(kernel::SerialHandle port, char& c) {
    unsigned char byte = 0;
    size_t got = 0;
    const kernel::SerialStatus status = kernel::ReadSerial(port, &byte, 1, &got, kReadStepMs);
    if (status.Result == kernel::SerialResult::TimedOut) {
        Warn("READ Timeout", "ReadCharCom");
        return false;
    }
    if (!status.Ok() || got != 1) {
        Warn("Error isuing READ", "ReadCharCom");
        return false;
    }
    c = byte == 0 ? ' ' : static_cast<char>(byte);
    return true;
}

// Up to a carriage return or the buffer's 30 characters; a character that cannot be read
// ends the line with a beep.
std::string ReadLineCom(kernel::SerialHandle port) {
    std::string line;
    while (line.size() < kReplyCapacity) {
        char c = 0;
        if (!ReadCharCom(port, c)) {
            MessageBeep();
            break;
        }
        line += c;
        if (c == '\r') break;
    }
    return line;
}

std::string PortNameForIndex(int index) {
    if (index == 0) return {};
    if (index >= 1 && index <= 6) return "COM" + std::to_string(index);
    return "COM1";
}

}  // namespace

bool TBXTessvikFerroFW::OpenControllerPort(const std::string& name) {
    if (PortOpen(SerialPort)) kernel::CloseSerialPort(SerialPort);
    SerialPort = kernel::INVALID_SERIAL_HANDLE;
    if (name.empty()) return false;

    kernel::SerialStatus status;
    SerialPort = kernel::OpenSerialPort(name, &status);
    if (SerialPort == kernel::INVALID_SERIAL_HANDLE) {
        if (g_iTraceLevel > 0) TraceWrite("%s: %s", name.c_str(), status.Text().c_str());
        Warn("Unable to Open COM Port", "Initialize");
    }
    // 9600 8N1, no CTS flow control, DTR and RTS on; after a failed open this fails too.
    if (!kernel::SetSerialLine(SerialPort, kernel::SerialLine{}).Ok()) {
        Warn("Unable to Set DCB for COM Port", "Initialize");
    }
    kernel::SetSerialTimeouts(SerialPort, {.ReadInterval = 2000,
                                           .ReadTotalMultiplier = 5000,
                                           .ReadTotalConstant = 10000,
                                           .WriteTotalMultiplier = 1000,
                                           .WriteTotalConstant = 5000});
    return PortOpen(SerialPort);
}

bool TBXTessvikFerroFW::SendControllerCommand(const std::string& text, std::string& reply) {
    if (!PortOpen(SerialPort)) return false;
    ControllerBusy = 1;
    lbl_Diagnosis->SetCaption(text);
    if (!text.empty() && !WriteCommand(SerialPort, text)) {
        lbl_Diagnosis->SetCaption(lbl_Diagnosis->Caption() + "Write Error");
        reply = "Write Error";
        return false;
    }
    ProcessMessages();
    std::string line = ReadLineCom(SerialPort);
    ProcessMessages();
    if (line.empty()) {
        lbl_Diagnosis->SetCaption(lbl_Diagnosis->Caption() + "Read Error");
        reply = "Read Error";
        return false;
    }
    line.pop_back();  // the carriage return (or, for a full buffer, its last character)
    reply = line;
    lbl_Diagnosis->SetCaption(lbl_Diagnosis->Caption() + " : " + reply);
    ControllerBusy = 0;
    return true;
}

int TBXTessvikFerroFW::QueryControllerVersion() {
    if (!PortOpen(SerialPort)) return 0;
    kernel::FlushSerial(SerialPort);
    std::string reply;
    if (!SendControllerCommand("?VER\r\n", reply)) {
        const int answer =
            MessageBox("No Response \n1. Is it switched on?\n2. Check Connections & Settings?",
                       kVersionCaption, MB_RETRYCANCEL);
        return answer == IDCANCEL ? 1 : 2;
    }
    if (reply.find("VER") == std::string::npos) {
        const int answer = MessageBox(
            "Unrecognised Response: \n1. Is the correct device connected\n2.Try Resetting or "
            "\n3.Check Connections & Port Settings?",
            kVersionCaption, MB_RETRYCANCEL);
        return answer == IDCANCEL ? 3 : 2;
    }
    lbl_Version->SetCaption(reply.size() > 4 ? reply.substr(4) : std::string());
    return 0;
}

void TBXTessvikFerroFW::ControlPortChange(bx::ui::TObject* sender) {
    if (sender == cbo_ControlPort) ReconnectPort = true;
    const std::string name = PortNameForIndex(cbo_ControlPort->ItemIndex());
    if (ReconnectPort) {
        OpenControllerPort(name);
        int status = 0;
        do {
            status = QueryControllerVersion();
        } while (status == 2);
        if (status == 1) {
            kernel::CloseSerialPort(SerialPort);
            SerialPort = 0;
        }
    } else {
        if (PortOpen(SerialPort)) kernel::CloseSerialPort(SerialPort);
        SerialPort = 0;
    }
    lbl_ComStatus->SetCaption(PortOpen(SerialPort) ? "Connected on " + name : "Not Connected");
    InitialiseCamera();
}

void TBXTessvikFerroFW::BindControllerHandlers() {
    cbo_ControlPort->OnChange = [this](TObject* sender) { ControlPortChange(sender); };
}

}  // namespace ferro
