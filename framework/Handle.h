#pragma once

// Owners of Win32 handles: each releases its handle when it goes out of
// scope, on every way out.

#include <windows.h>

#include <cstdarg>

#include "framework/String.h"

// One owner for every kind of handle: Traits names the handle's type, what
// counts as none, and how it is released. An owner moves (a function
// returns one) and never copies; Take() hands the handle over to the
// caller, who then releases it; Receive() hands out the owner's own slot
// for a call that opens, so that no handle ever lies unowned.
template <class Traits>
class CScopedHandle {
  public:
    using Handle = typename Traits::Handle;

    CScopedHandle() = default;
    explicit CScopedHandle(Handle handle) : m_handle(handle) {}
    ~CScopedHandle() { Close(); }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    CScopedHandle(CScopedHandle&& other) noexcept : m_handle(other.Take()) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Take());
        return *this;
    }

    bool IsValid() const { return Traits::IsValid(m_handle); }
    Handle Get() const { return m_handle; }
    void Reset(Handle handle = nullptr) {
        Close();
        m_handle = handle;
    }
    // Closes what the owner holds and hands out its slot for an open call.
    Handle* Receive() {
        Close();
        return &m_handle;
    }
    Handle Take() {
        Handle handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Close() {
        if (IsValid())
            Traits::Close(m_handle);
        m_handle = nullptr;
    }

  private:
    Handle m_handle = nullptr;
};

// Both NULL and INVALID_HANDLE_VALUE mean "no handle".
struct CKernelHandleTraits {
    using Handle = HANDLE;
    static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct CFindHandleTraits : CKernelHandleTraits {
    static void Close(HANDLE handle) { FindClose(handle); }
};
struct CRegKeyTraits {
    using Handle = HKEY;
    static bool IsValid(HKEY key) { return key != nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};

// A kernel handle (process, snapshot, file).
using CAutoHandle = CScopedHandle<CKernelHandleTraits>;
// A directory search opened by FindFirstFileA.
using CFindHandle = CScopedHandle<CFindHandleTraits>;
// A registry key.
using CRegKey = CScopedHandle<CRegKeyTraits>;

// Formats into a fixed buffer and says whether the whole text fitted.
// A text that does not fit leaves the buffer empty, so a cut path can never
// be used by mistake.
template <size_t N>
bool FormatInto(char (&buffer)[N], const char* format, ...) __attribute__((format(printf, 2, 3)));

template <size_t N>
bool FormatInto(char (&buffer)[N], const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = FormatText(buffer, N, format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) >= N) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}
