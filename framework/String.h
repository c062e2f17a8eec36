#pragma once

// CString: a byte string in the ANSI code page (GBK on the target systems).
// Searches follow the code page's double-byte rules (framework/Mbcs.h).
// CStringArray: an ordered list of strings, indexed from 0, appended at the end.

#include <cstdarg>
#include <cstddef>
#include <exception>
#include <string>
#include <vector>

// The framework's exceptions. They carry a fixed text, not a string of the
// runtime's: the runtime's own exception classes hold a reference-counted
// string whose code would be linked for them alone.
class CException : public std::exception {
  public:
    explicit CException(const char* what) : m_what(what) {}
    const char* what() const noexcept override { return m_what; }

  private:
    const char* m_what;
};

// Raised for an index outside the string or the list, and for other
// arguments the string and list classes refuse.
class CInvalidArgException : public CException {
  public:
    using CException::CException;
};

// Raised when the string or list classes cannot have the memory they need.
class CMemoryException : public CException {
  public:
    CMemoryException() : CException("out of memory") {}
};

// Raise the exceptions above. The program's code is built without
// exception support (no clean-up code in every function that nothing would
// run: no handler catches them, and an uncaught exception ends the process
// before any frame is unwound); only these raise one.
[[noreturn]] void AfxThrowInvalidArgException(const char* what);
[[noreturn]] void AfxThrowMemoryException();

// vsnprintf with C99 results (the whole length, or -1 for a bad format; the
// buffer, if any, always terminated), for the formats the program uses: %s,
// %d and the like. On Windows it is the C runtime DLL's formatter: the one
// libstdc++ switches on for std::vsnprintf brings in its own, about 22 KiB of
// float conversion the program never needs.
int FormatText(char* buffer, size_t size, const char* format, va_list args);

class CString {
  public:
    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}  // NOLINT: implicit like the framework's
    CString(const char* text, int length) : m_text(text, static_cast<size_t>(length)) {}

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    const char* GetString() const { return m_text.c_str(); }
    operator const char*() const { return m_text.c_str(); }  // NOLINT

    // The byte at index; an index outside the text raises CInvalidArgException.
    char GetAt(int index) const;

    CString& operator=(const char* text);
    CString& operator+=(const char* text);
    CString& operator+=(const CString& text);
    CString& operator+=(char ch);
    friend CString operator+(const CString& a, const char* b);
    friend CString operator+(const char* a, const CString& b);
    friend CString operator+(const CString& a, const CString& b);

    bool operator==(const char* text) const { return m_text == (text ? text : ""); }
    bool operator!=(const char* text) const { return !(*this == text); }
    bool operator==(const CString& text) const { return m_text == text.m_text; }
    bool operator!=(const CString& text) const { return m_text != text.m_text; }

    // Case-insensitive comparison in the ANSI code page (_mbsicmp).
    int CompareNoCase(const char* text) const;

    // Character-boundary searches; -1 when not found.
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char ch) const;

    CString Left(int count) const;
    CString Mid(int start) const;
    CString Mid(int start, int count) const;

    // Removes count bytes from index; returns the new length.
    int Delete(int index, int count = 1);

    // Lower-cases A-Z and double-byte characters as whole characters (_mbslwr_s).
    CString& MakeLower();

    // printf-style formatting into a buffer that grows as needed.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);

  private:
    std::string m_text;
};

class CStringArray {
  public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    bool IsEmpty() const { return m_items.empty(); }

    // Appends at the end; returns the new entry's index.
    int Add(const CString& item);
    void RemoveAll() { m_items.clear(); }

    // Index outside the list raises CInvalidArgException.
    const CString& GetAt(int index) const;
    const CString& operator[](int index) const { return GetAt(index); }

  private:
    std::vector<CString> m_items;
};
