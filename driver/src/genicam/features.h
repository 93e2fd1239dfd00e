// Feature access of one GenICam camera: the quantities the driver works with ("exposure",
// "gain", ...) resolved once to the camera's own feature names (a description's override, else
// the first standard name the camera has), and typed reads and writes that turn Aravis errors
// into text.
//
// Thread rule: not thread-safe; the camera that owns it serialises every call.
#pragma once

#include <arv.h>

#include <map>
#include <string>
#include <vector>

namespace kvcam::genicam {

// The limits of a numeric feature (integer or float) as the camera reports them.
struct Bounds {
    bool present = false;
    bool isFloat = false;
    double min = 0, max = 0, inc = 0;  // inc 0: any value (float without an increment)
};

class Features {
public:
    // Resolves every quantity. False, with `error` set, when an override names a feature the
    // camera does not have.
    bool Resolve(ArvDevice* device, const std::map<std::string, std::string>& overrides,
                 std::string& error);

    // The camera's feature for a quantity, "" when it has none.
    const std::string& Name(const std::string& quantity) const;
    bool Has(const std::string& quantity) const { return !Name(quantity).empty(); }

    bool ReadNumber(const std::string& quantity, double& value);
    bool WriteNumber(const std::string& quantity, double value);
    Bounds BoundsOf(const std::string& quantity);
    // Text of a string feature or the current entry of an enumeration.
    bool ReadText(const std::string& quantity, std::string& value);
    bool WriteEntry(const std::string& quantity, const std::string& entry);
    // The enumeration entries the camera offers now.
    std::vector<std::string> Entries(const std::string& quantity);
    bool Execute(const std::string& quantity);

    // What the last failed call reported.
    const std::string& LastError() const { return lastError_; }

private:
    bool Check(GError* error, const std::string& feature);

    ArvDevice* device_ = nullptr;
    std::map<std::string, std::string> names_;
    std::string lastError_;
};

}  // namespace kvcam::genicam
