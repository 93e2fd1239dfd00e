// Serial ports in the classic style: a port is opened by its name "COMn", given line settings
// and time-outs, read and written with bounded waits, flushed and closed.
//
// "COMn" names the device BX_COMn from the environment when set (BX_COM1=/dev/ttyUSB0),
// else /dev/ttyS{n-1}. A port is opened for reading and writing, exclusively, and only when
// the device exists. Every read and write ends by its time-out; the waits follow the warped
// clock of bxplatform/kernel.h, so tests with a time warp see the time-outs shortened.
//
// Thread rule: the functions are thread-safe; one port is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bx::kernel {

// A port handle; never 0, INVALID_SERIAL_HANDLE when no port was opened.
using SerialHandle = intptr_t;
inline constexpr SerialHandle INVALID_SERIAL_HANDLE = -1;

enum class SerialResult { Ok, InvalidHandle, BadName, Failed, TimedOut };

// The outcome of a call; `Error` is the errno behind a failure (0 otherwise).
struct SerialStatus {
    SerialResult Result = SerialResult::Ok;
    int Error = 0;
    bool Ok() const { return Result == SerialResult::Ok; }
    // What went wrong, in words ("" for Ok).
    std::string Text() const;
};

// Time-outs in milliseconds, as the classic port time-outs: a read ends when no byte came
// for ReadInterval after the first byte, or after ReadTotalMultiplier per byte asked for plus
// ReadTotalConstant; a write ends after WriteTotalMultiplier per byte plus WriteTotalConstant.
// Zero totals mean "no wait": the call takes what is there at once.
struct SerialTimeouts {
    uint32_t ReadInterval = 0;
    uint32_t ReadTotalMultiplier = 0;
    uint32_t ReadTotalConstant = 0;
    uint32_t WriteTotalMultiplier = 0;
    uint32_t WriteTotalConstant = 0;
};

// Line settings: speed, data bits, parity (0 none, 1 odd, 2 even), stop bits (1 or 2), CTS
// flow control, and the DTR and RTS lines to raise.
struct SerialLine {
    uint32_t Baud = 9600;
    int DataBits = 8;
    int Parity = 0;
    int StopBits = 1;
    bool CtsFlow = false;
    bool Dtr = true;
    bool Rts = true;
};

// The device path of a port name "COMn" (n >= 1); "" for any other name.
std::string SerialDevicePath(const std::string& name);

// Opens the named port; INVALID_SERIAL_HANDLE on failure, with the reason in `status`.
SerialHandle OpenSerialPort(const std::string& name, SerialStatus* status = nullptr);
// Applies the line settings in raw mode; other settings stay as the port had them.
SerialStatus SetSerialLine(SerialHandle port, const SerialLine& line);
SerialStatus SetSerialTimeouts(SerialHandle port, const SerialTimeouts& timeouts);
// Reads up to `count` bytes; `got` receives how many came. TimedOut when fewer than `count`
// came before a time-out, or before `waitLimitMs` when that is shorter.
SerialStatus ReadSerial(SerialHandle port, void* buffer, size_t count, size_t* got,
                        uint32_t waitLimitMs = UINT32_MAX);
// Writes `count` bytes; `written` receives how many went. TimedOut when the port did not take
// them all before the write time-out.
SerialStatus WriteSerial(SerialHandle port, const void* data, size_t count, size_t* written);
// Discards what is waiting in both directions.
SerialStatus FlushSerial(SerialHandle port);
// Closes the port; false for a handle that names no open port.
bool CloseSerialPort(SerialHandle port);

}  // namespace bx::kernel
