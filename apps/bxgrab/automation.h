// The camera control as bxgrab reaches it: an object of a registered class, created by its
// ProgID, driven through its automation interfaces only. Properties are late bound (names
// resolved once through GetIDsOfNames, then Invoke), so any camera plug-in of the family
// that names them alike can be driven; the methods are early bound through
// IBXTessvikFerroFW's function table. A failing call throws ControlError with the text of
// the control's error object.
//
// Thread rule: UI thread only (the thread that created the control), as the control's own
// members are.
#pragma once

#include <bxcamera/interfaces.h>
#include <bxmm/host.h>
#include <bxmm/mm40.h>
#include <bxplatform/com.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>

namespace bxgrab {

// A member call the control refused: the description its error object carries (or the
// result code when it left none).
class ControlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The description of the calling thread's current error object, cleared; or the code.
std::string ErrorText(HRESULT hr);

struct CreateOptions {
    std::string progid = "Korvane Camera";
    std::string module;  // the module to register when the class is not; empty: beside bxgrab
};

class Control {
public:
    // CoInitialize, the ProgID's class (registering the module first when the ProgID is not
    // registered) and CoCreateInstance for IBXTessvikFerroFW. Throws ControlError saying what
    // failed, with the registry file and the platform's load error.
    explicit Control(const CreateOptions& options);
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    IBXTessvikFerroFW& ferro() { return *ferro_.Get(); }
    IUnknown* unknown() { return ferro_.Get(); }
    // The registered module's file (the class's InprocServer32).
    const std::string& modulePath() const { return modulePath_; }

    // Property access by name; the common interface (IBXCameraInterface) answers names the
    // control's own interface lacks (Offset, BitDepth, InterfaceVersion).
    bx::com::Variant Get(const std::string& name);
    void Put(const std::string& name, const bx::com::Variant& value);
    long GetLong(const std::string& name);
    bool GetBool(const std::string& name);
    void PutLong(const std::string& name, long value) {
        Put(name, bx::com::Variant(int32_t(value)));
    }
    void PutBool(const std::string& name, bool value) { Put(name, bx::com::Variant(value)); }

    // Throws ControlError("<what>: <error text>") when `hr` failed.
    static void Check(HRESULT hr, const std::string& what = {});

private:
    struct Binding {
        IDispatch* dispatch;
        DISPID id;
    };
    Binding Bind(const std::string& name);

    bool initialised_ = false;
    bx::com::ComPtr<IBXTessvikFerroFW> ferro_;
    bx::com::ComPtr<IBXCameraInterface> common_;
    std::string modulePath_;
    std::map<std::string, Binding> bindings_;
};

// What the store cannot know about an image the control has just taken, for its OME-XML: the
// bits its samples carry (8 for 8-bit and colour data, else the camera's BitDepth), the
// exposure the camera used (ExposureTime, in microseconds) and `acquired`, when the frame was
// taken.
// `image` is the image saved: its sample size tells 8-bit data from deeper.
bx::mm::SaveOptions AcquisitionSaveOptions(Control& c, MM_HANDLE image,
                                           std::chrono::system_clock::time_point acquired);

}  // namespace bxgrab
