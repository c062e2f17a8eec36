#pragma once

// Owners of Win32 handles: each releases its handle when it goes out of
// scope, on every way out. Non-copyable; movable where a function returns one.

#include <windows.h>

#include <cstdarg>

#include "framework/String.h"

// An owned handle that Traits::Close releases. Both NULL and
// INVALID_HANDLE_VALUE mean "no handle".
template <class Traits>
class CScopedHandle {
  public:
    CScopedHandle() = default;
    explicit CScopedHandle(HANDLE handle) : m_handle(handle) {}
    ~CScopedHandle() { Close(); }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;

    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    void Reset(HANDLE handle = nullptr) {
        Close();
        m_handle = handle;
    }
    // Hands the handle over to the caller, who closes it.
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Close() {
        if (IsValid())
            Traits::Close(m_handle);
        m_handle = nullptr;
    }

  private:
    HANDLE m_handle = nullptr;
};

struct CKernelHandleTraits {
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct CFindHandleTraits {
    static void Close(HANDLE handle) { FindClose(handle); }
};

// A kernel handle (process, snapshot, file).
using CAutoHandle = CScopedHandle<CKernelHandleTraits>;
// A directory search opened by FindFirstFileA.
using CFindHandle = CScopedHandle<CFindHandleTraits>;

// A registry key. Receive() hands out the address for an open/create call.
class CRegKey {
  public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    bool IsOpen() const { return m_key != nullptr; }
    HKEY Get() const { return m_key; }
    HKEY* Receive() {
        Close();
        return &m_key;
    }
    void Close() {
        if (m_key)
            RegCloseKey(m_key);
        m_key = nullptr;
    }
    HKEY Release() {
        HKEY key = m_key;
        m_key = nullptr;
        return key;
    }

  private:
    HKEY m_key = nullptr;
};

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
