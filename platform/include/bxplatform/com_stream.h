// Streams and persistence: IStream (a byte stream with a seek position), IStorage (named
// streams, a container's document), a stream and a storage in memory for hosts and tests, and
// IPersistStreamInit / IPersistStorage, through which a container saves an embedded object's
// own properties into its document and loads them back.
//
// Thread rule: memory streams and storages are thread-bound (as streams are);
// MakeMemoryStream and MakeMemoryStorage are thread-safe.
#pragma once

#include <bxplatform/com_object.h>

#include <string>

union LARGE_INTEGER {
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

inline constexpr DWORD STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2;
inline constexpr HRESULT STG_E_INVALIDFUNCTION = bx::com::MakeCode(0x80030001);
inline constexpr HRESULT STG_E_READFAULT = bx::com::MakeCode(0x8003001E);
inline constexpr HRESULT STG_E_MEDIUMFULL = bx::com::MakeCode(0x80030070);
inline constexpr HRESULT E_PENDING = bx::com::MakeCode(0x8000000A);
inline constexpr HRESULT STG_E_FILENOTFOUND = bx::com::MakeCode(0x80030002);
inline constexpr HRESULT STG_E_ACCESSDENIED = bx::com::MakeCode(0x80030005);
inline constexpr HRESULT STG_E_INVALIDNAME = bx::com::MakeCode(0x800300FC);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = bx::com::MakeCode(0x80030050);

// Open modes of storage elements (the ones this platform looks at).
inline constexpr DWORD STGM_READ = 0x0, STGM_WRITE = 0x1, STGM_READWRITE = 0x2,
                       STGM_SHARE_EXCLUSIVE = 0x10, STGM_CREATE = 0x1000;
inline constexpr DWORD STGTY_STORAGE = 1, STGTY_STREAM = 2;

struct STATSTG {
    LPOLESTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
};

// Reading and writing a sequence of bytes.
class ISequentialStream : public IUnknown {
public:
    // Reads up to `count` bytes; *read says how many (fewer at the end: S_FALSE then).
    virtual HRESULT Read(void* buffer, ULONG count, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG count, ULONG* written) = 0;

protected:
    ~ISequentialStream() = default;
};

class IStream : public ISequentialStream {
public:
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
    virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                           ULARGE_INTEGER* written) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT Clone(IStream** copy) = 0;

protected:
    ~IStream() = default;
};

class IEnumSTATSTG;  // not provided: element enumeration is not offered
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using SNB = OLECHAR**;

// A container's document: named streams (and, on other platforms, nested storages).
class IStorage : public IUnknown {
public:
    virtual HRESULT CreateStream(LPCOLESTR name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                 IStream** stream) = 0;
    virtual HRESULT OpenStream(LPCOLESTR name, void* reserved1, DWORD mode, DWORD reserved2,
                               IStream** stream) = 0;
    virtual HRESULT CreateStorage(LPCOLESTR name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                  IStorage** storage) = 0;
    virtual HRESULT OpenStorage(LPCOLESTR name, IStorage* priority, DWORD mode, SNB exclude,
                                DWORD reserved, IStorage** storage) = 0;
    virtual HRESULT CopyTo(DWORD excludeCount, const IID* exclude, SNB excludeNames,
                           IStorage* target) = 0;
    virtual HRESULT MoveElementTo(LPCOLESTR name, IStorage* target, LPCOLESTR newName,
                                  DWORD flags) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                                 IEnumSTATSTG** elements) = 0;
    virtual HRESULT DestroyElement(LPCOLESTR name) = 0;
    virtual HRESULT RenameElement(LPCOLESTR oldName, LPCOLESTR newName) = 0;
    virtual HRESULT SetElementTimes(LPCOLESTR name, const FILETIME* created,
                                    const FILETIME* accessed, const FILETIME* modified) = 0;
    virtual HRESULT SetClass(REFCLSID clsid) = 0;
    virtual HRESULT SetStateBits(DWORD bits, DWORD mask) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;

protected:
    ~IStorage() = default;
};

// An object that can say which class it is.
class IPersist : public IUnknown {
public:
    virtual HRESULT GetClassID(CLSID* clsid) = 0;

protected:
    ~IPersist() = default;
};

// An embedded object's properties to and from a stream of the container's document.
class IPersistStreamInit : public IPersist {
public:
    virtual HRESULT IsDirty() = 0;  // S_OK: changed since the last save; S_FALSE: not
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
    virtual HRESULT InitNew() = 0;

protected:
    ~IPersistStreamInit() = default;
};

// An embedded object's properties to and from a storage of the container's document.
class IPersistStorage : public IPersist {
public:
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT InitNew(IStorage* storage) = 0;
    virtual HRESULT Load(IStorage* storage) = 0;
    virtual HRESULT Save(IStorage* storage, BOOL sameAsLoad) = 0;
    virtual HRESULT SaveCompleted(IStorage* storage) = 0;
    virtual HRESULT HandsOffStorage() = 0;

protected:
    ~IPersistStorage() = default;
};

inline constexpr IID IID_ISequentialStream =
    bx::com::GuidLiteral("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
inline constexpr IID IID_IStream = bx::com::GuidLiteral("{0000000C-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPersist = bx::com::GuidLiteral("{0000010C-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPersistStreamInit =
    bx::com::GuidLiteral("{7FD52380-4E07-101B-AE2D-08002B2EC713}");

inline constexpr IID IID_IStorage = bx::com::GuidLiteral("{0000000B-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPersistStorage =
    bx::com::GuidLiteral("{0000010A-0000-0000-C000-000000000046}");

BX_COM_INTERFACE(IStorage, IUnknown, IID_IStorage);
BX_COM_INTERFACE(IPersistStorage, IPersist, IID_IPersistStorage);
BX_COM_INTERFACE(ISequentialStream, IUnknown, IID_ISequentialStream);
BX_COM_INTERFACE(IStream, ISequentialStream, IID_IStream);
BX_COM_INTERFACE(IPersist, IUnknown, IID_IPersist);
BX_COM_INTERFACE(IPersistStreamInit, IPersist, IID_IPersistStreamInit);

namespace bx::com {

// A stream over bytes in memory, starting with `content` at position 0. Writing past the end
// grows it.
ComPtr<IStream> MakeMemoryStream(std::string content = {});
// A storage in memory holding streams by name (names compare exactly; nested storages are not
// offered: STG_E_INVALIDFUNCTION). Each OpenStream gives a new position over the element's
// bytes, so what one writes the next open reads.
ComPtr<IStorage> MakeMemoryStorage();
// Everything a memory stream (or any stream) holds, read from its start; its position is left
// at the end.
std::string StreamContent(IStream* stream);

}  // namespace bx::com
