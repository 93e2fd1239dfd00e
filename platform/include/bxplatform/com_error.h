// Error objects: how an automation member tells its caller what went wrong beyond the result
// code. A member that fails creates an error object (CreateErrorInfo), fills it through
// ICreateErrorInfo (interface, source, description), makes it the thread's current error
// (SetErrorInfo) and returns its failure code; the caller takes it with GetErrorInfo, which
// also clears it. An object that does this answers ISupportErrorInfo for the interfaces
// concerned, so callers know the error object is meant for them.
//
// Thread rule: the current error is per thread; the functions are thread-safe. An error object
// is immutable once made current and may be read from any thread.
#pragma once

#include <bxplatform/com_object.h>
#include <bxplatform/com_string.h>

#include <string_view>

// Reading an error object.
class IErrorInfo : public IUnknown {
public:
    virtual HRESULT GetGUID(GUID* guid) = 0;         // interface that defined the error
    virtual HRESULT GetSource(BSTR* source) = 0;     // ProgID of the object that raised it
    virtual HRESULT GetDescription(BSTR* text) = 0;  // what went wrong, for people
    virtual HRESULT GetHelpFile(BSTR* path) = 0;
    virtual HRESULT GetHelpContext(DWORD* context) = 0;

protected:
    ~IErrorInfo() = default;
};

// Filling an error object before it is made current.
class ICreateErrorInfo : public IUnknown {
public:
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR text) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR path) = 0;
    virtual HRESULT SetHelpContext(DWORD context) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

// Whether an object's members on interface `iid` leave error objects: S_OK yes, S_FALSE no.
class ISupportErrorInfo : public IUnknown {
public:
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

inline constexpr IID IID_IErrorInfo =
    bx::com::GuidLiteral("{1CF2B120-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ICreateErrorInfo =
    bx::com::GuidLiteral("{22F03340-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ISupportErrorInfo =
    bx::com::GuidLiteral("{DF0B3D60-548F-101B-8E65-08002B2BD119}");

BX_COM_INTERFACE(IErrorInfo, IUnknown, IID_IErrorInfo);
BX_COM_INTERFACE(ICreateErrorInfo, IUnknown, IID_ICreateErrorInfo);
BX_COM_INTERFACE(ISupportErrorInfo, IUnknown, IID_ISupportErrorInfo);

// A new, empty error object (it answers both IErrorInfo and ICreateErrorInfo).
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
// Makes `info` (null: none) the calling thread's current error, replacing any earlier one.
// `reserved` must be 0.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands out the calling thread's current error and clears it: S_OK with the object, S_FALSE
// with null when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);

namespace bx::com {

// Creates an error object with the interface, source and description and makes it the calling
// thread's current error. Returns DISP_E_EXCEPTION, the code a member then returns.
HRESULT RaiseError(REFIID iid, std::string_view source, std::string_view description);

// Moves the calling thread's current error (if any) into an exception record: source,
// description, help file and context, with `scode` as its code. The error is cleared.
void FillExcepInfo(EXCEPINFO* exception, HRESULT scode);

}  // namespace bx::com
