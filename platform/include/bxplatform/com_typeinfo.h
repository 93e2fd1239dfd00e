// Type information as automation clients read it: ITypeInfo (what a dispatch interface or a
// class offers, member by member) with the records it hands out (TYPEATTR, FUNCDESC, ELEMDESC,
// TYPEDESC), and IProvideClassInfo / IProvideClassInfo2, through which an object tells a host
// its class and the interface its events go out on.
//
// Thread rule: the records are plain data owned by whoever the comments name. The type-info
// objects this layer makes (com_dispatch.h) are immutable views of a description and are
// thread-safe.
//
// The interfaces keep the classic function-table order, so the slots line up with what any
// client of the classic API expects; records carry the fields this layer fills.
#pragma once

#include <bxplatform/com_object.h>
#include <bxplatform/com_string.h>
#include <bxplatform/com_variant.h>

using HREFTYPE = DWORD;  // handle of a type another type refers to (a coclass's interfaces)

class ITypeComp;  // binding helpers; not provided here
class ITypeLib;   // type libraries; not provided here

// Kinds of type.
enum TYPEKIND : int32_t {
    TKIND_ENUM = 0,
    TKIND_RECORD = 1,
    TKIND_MODULE = 2,
    TKIND_INTERFACE = 3,  // a function table
    TKIND_DISPATCH = 4,   // members reached through IDispatch::Invoke
    TKIND_COCLASS = 5,    // a creatable class and the interfaces it implements
    TKIND_ALIAS = 6,
    TKIND_UNION = 7,
};

// How a member is called.
enum FUNCKIND : int32_t {
    FUNC_VIRTUAL = 0,
    FUNC_PUREVIRTUAL = 1,
    FUNC_NONVIRTUAL = 2,
    FUNC_STATIC = 3,
    FUNC_DISPATCH = 4,
};

// Which kind of access a member is: the values match the DISPATCH_* flags of Invoke.
enum INVOKEKIND : int32_t {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8,
};

enum CALLCONV : int32_t {
    CC_CDECL = 1,
    CC_STDCALL = 4,
};

// Type flags (TYPEATTR::wTypeFlags).
inline constexpr WORD TYPEFLAG_FAPPOBJECT = 0x01;
inline constexpr WORD TYPEFLAG_FCANCREATE = 0x02;
inline constexpr WORD TYPEFLAG_FHIDDEN = 0x10;
inline constexpr WORD TYPEFLAG_FCONTROL = 0x20;
inline constexpr WORD TYPEFLAG_FDUAL = 0x40;  // reachable both by function table and Invoke
inline constexpr WORD TYPEFLAG_FNONEXTENSIBLE = 0x80;
inline constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
inline constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;  // derives from IDispatch

// Parameter flags (PARAMDESC::wParamFlags).
inline constexpr USHORT PARAMFLAG_NONE = 0x00;
inline constexpr USHORT PARAMFLAG_FIN = 0x01;
inline constexpr USHORT PARAMFLAG_FOUT = 0x02;
inline constexpr USHORT PARAMFLAG_FRETVAL = 0x08;
inline constexpr USHORT PARAMFLAG_FOPT = 0x10;
inline constexpr USHORT PARAMFLAG_FHASDEFAULT = 0x20;

// Flags of a coclass's interfaces (GetImplTypeFlags).
inline constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1;
inline constexpr INT IMPLTYPEFLAG_FSOURCE = 0x2;  // the class calls out on it (events)

// Member identifier meaning "the type itself" (GetDocumentation).
inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

// A type: vt, and for VT_PTR the pointed-at type.
struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;  // VT_PTR
        HREFTYPE hreftype;  // VT_USERDEFINED
    };
    VARTYPE vt;
};

// A parameter's default value.
struct PARAMDESCEX {
    ULONG cBytes;  // size of this record
    VARIANT varDefaultValue;
};

struct PARAMDESC {
    PARAMDESCEX* pparamdescex;  // set when wParamFlags has PARAMFLAG_FHASDEFAULT
    USHORT wParamFlags;
};

// A parameter or a return value: its type and flags.
struct ELEMDESC {
    TYPEDESC tdesc;
    PARAMDESC paramdesc;
};

// A type as a whole. Handed out by GetTypeAttr and given back with ReleaseTypeAttr.
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;  // members (for TKIND_DISPATCH, every get/put/method counts once)
    WORD cVars;
    WORD cImplTypes;  // interfaces a coclass implements
    WORD cbSizeVft;   // size of the function table in bytes
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
};

// One member. Handed out by GetFuncDesc and given back with ReleaseFuncDesc; the parameter
// array belongs to the type-info object and stays valid while the record is held.
struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;  // cParams parameters in declaration order
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;  // trailing optional parameters
    SHORT oVft;        // byte offset of the member's slot in the function table
    SHORT cScodes;
    ELEMDESC elemdescFunc;  // return type
    WORD wFuncFlags;
};

// Variables are not described by this layer; the record exists so GetVarDesc has its type.
struct VARDESC;

// Describes one type. Every call that hands out a record or string gives the caller ownership
// of it (records go back through the matching Release* call, strings through SysFreeString).
class ITypeInfo : public IUnknown {
public:
    virtual HRESULT GetTypeAttr(TYPEATTR** attr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** desc) = 0;
    // The member's name, then its parameters' names; *count of them written (up to max).
    virtual HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) = 0;
    // A coclass's index-th interface as a handle for GetRefTypeInfo.
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* flags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    // Calls member `memid` on `instance`, an interface pointer of the type described.
    virtual HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;
    // Name, help string, help context and help file of a member, or of the type for
    // MEMBERID_NIL. Any pointer may be null.
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext,
                                     BSTR* helpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND kind, BSTR* dll, BSTR* name,
                                WORD* ordinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND kind, void** address) = 0;
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* mops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
    virtual void ReleaseVarDesc(VARDESC* desc) = 0;

protected:
    ~ITypeInfo() = default;
};

// Tells a host which class an object is (its coclass type info).
class IProvideClassInfo : public IUnknown {
public:
    virtual HRESULT GetClassInfo(ITypeInfo** info) = 0;

protected:
    ~IProvideClassInfo() = default;
};

// Which GUID IProvideClassInfo2::GetGUID is asked for.
inline constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

// Also tells the IID of the default source interface, so a host can connect its event sink
// without reading the class's type info.
class IProvideClassInfo2 : public IProvideClassInfo {
public:
    virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;

protected:
    ~IProvideClassInfo2() = default;
};

inline constexpr IID IID_ITypeInfo = bx::com::GuidLiteral("{00020401-0000-0000-C000-000000000046}");
inline constexpr IID IID_IProvideClassInfo =
    bx::com::GuidLiteral("{B196B283-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IProvideClassInfo2 =
    bx::com::GuidLiteral("{A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851}");

BX_COM_INTERFACE(ITypeInfo, IUnknown, IID_ITypeInfo);
BX_COM_INTERFACE(IProvideClassInfo, IUnknown, IID_IProvideClassInfo);
BX_COM_INTERFACE(IProvideClassInfo2, IProvideClassInfo, IID_IProvideClassInfo2);
