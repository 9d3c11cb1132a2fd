// Byte streams (IStream), where a control saves and loads its state, and an
// in-memory stream for containers and tests.
#pragma once

#include <vector>

#include "unknwn.h"

constexpr IID IID_ISequentialStream = MakeGuid("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
constexpr IID IID_IStream = MakeGuid("{0000000C-0000-0000-C000-000000000046}");

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum STGTY : DWORD { STGTY_STORAGE = 1, STGTY_STREAM = 2 };
enum STATFLAG : DWORD { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };

struct STATSTG {
    LPOLESTR pwcsName;  // always null here
    DWORD type;
    ULARGE_INTEGER cbSize;
    DWORD grfMode;
    CLSID clsid;
};

struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};
ZIV_DECLARE_IID(ISequentialStream, IID_ISequentialStream)

struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT Clone(IStream** ppstm) = 0;
};
using LPSTREAM = IStream*;
ZIV_DECLARE_IID(IStream, IID_IStream)

using HGLOBAL = void*;

// A growable stream in memory, at position 0. There is no global memory
// block here: `hGlobal` must be null (E_INVALIDARG otherwise).
HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm);
// A memory stream holding a copy of `data`, at position 0.
HRESULT CreateStreamOnBytes(const void* data, ULONG size, LPSTREAM* ppstm);
// Everything a stream holds, from its start; its position is kept.
HRESULT ReadStreamContents(IStream* stream, std::vector<BYTE>* contents);
