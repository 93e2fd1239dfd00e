// The failures a control operation raises. The automation boundary turns them into
// automation errors whose description is the text.
//
// Thread rule: thread-safe (plain exception types).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace ferro {

// A failure with its fixed English text.
class ControlFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure that already carries its automation error: result code and source (for example a
// failed internal consistency check, raised with E_FAIL and the source file).
class AutomationError : public ControlFailure {
public:
    AutomationError(const std::string& message, int32_t code, std::string source)
        : ControlFailure(message), code_(code), source_(std::move(source)) {}
    int32_t Code() const noexcept { return code_; }
    const std::string& Source() const noexcept { return source_; }

private:
    int32_t code_;
    std::string source_;
};

}  // namespace ferro
