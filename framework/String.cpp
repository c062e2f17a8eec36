#include "framework/String.h"

#ifdef _WIN32
#include <mbstring.h>
#endif

#include <algorithm>
#include <cstdio>
#include <vector>

#include "framework/Mbcs.h"

char CString::GetAt(int index) const {
    if (index < 0 || index >= GetLength())
        AfxThrowInvalidArgException("CString::GetAt: index outside the text");
    return m_text[static_cast<size_t>(index)];
}

CString& CString::operator=(const char* text) {
    m_text = text ? text : "";
    return *this;
}

CString& CString::operator+=(const char* text) {
    if (text)
        m_text += text;
    return *this;
}

CString& CString::operator+=(const CString& text) {
    m_text += text.m_text;
    return *this;
}

CString& CString::operator+=(char ch) {
    m_text += ch;
    return *this;
}

CString operator+(const CString& a, const char* b) {
    CString result(a);
    result += b;
    return result;
}

CString operator+(const char* a, const CString& b) {
    CString result(a);
    result += b;
    return result;
}

CString operator+(const CString& a, const CString& b) {
    CString result(a);
    result += b;
    return result;
}

#ifdef _WIN32
int CString::CompareNoCase(const char* text) const {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(m_text.c_str()),
                    reinterpret_cast<const unsigned char*>(text ? text : ""));
}
#else
// The native build of the rules (fuzzing on Linux) has no multibyte C
// runtime; a test under Wine holds this stand-in to _mbsicmp.
int CString::CompareNoCase(const char* text) const {
    return mbcs::CompareNoCase(m_text.c_str(), text ? text : "");
}
#endif

int CString::Find(char ch, int start) const {
    return mbcs::FindChar(m_text.c_str(), GetLength(), ch, start);
}

int CString::Find(const char* sub, int start) const {
    return mbcs::FindSubstring(m_text.c_str(), GetLength(), sub ? sub : "", start);
}

int CString::ReverseFind(char ch) const {
    return mbcs::ReverseFindChar(m_text.c_str(), GetLength(), ch);
}

CString CString::Left(int count) const {
    return Mid(0, count);
}

CString CString::Mid(int start) const {
    return Mid(start, GetLength() - start);
}

CString CString::Mid(int start, int count) const {
    if (start < 0)
        start = 0;
    if (start > GetLength())
        start = GetLength();
    if (count < 0)
        count = 0;
    if (count > GetLength() - start)
        count = GetLength() - start;
    return CString(m_text.data() + start, count);
}

int CString::Delete(int index, int count) {
    if (index >= 0 && index < GetLength() && count > 0)
        m_text.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    return GetLength();
}

#ifdef _WIN32
CString& CString::MakeLower() {
    std::vector<unsigned char> buffer(m_text.begin(), m_text.end());
    buffer.push_back(0);
    if (_mbslwr_s(buffer.data(), buffer.size()) != 0)
        AfxThrowInvalidArgException("CString::MakeLower failed");
    m_text.assign(reinterpret_cast<const char*>(buffer.data()));
    return *this;
}
#else
// Single-byte A-Z only, as the C runtime does in code page 936.
CString& CString::MakeLower() {
    const int length = GetLength();
    for (int i = 0; i < length; i += mbcs::CharLength(m_text.c_str(), length, i)) {
        if (mbcs::CharLength(m_text.c_str(), length, i) == 1 && m_text[i] >= 'A' && m_text[i] <= 'Z')
            m_text[i] = static_cast<char>(m_text[i] + ('a' - 'A'));
    }
    return *this;
}
#endif

int FormatText(char* buffer, size_t size, const char* format, va_list args) {
#ifdef _WIN32
    va_list counting;
    va_copy(counting, args);
    const int needed = _vscprintf(format, counting);
    va_end(counting);
    if (needed < 0)
        return -1;
    if (buffer && size > 0) {
        // _vsnprintf writes at most count bytes and no terminator when the
        // text fills them: the terminator is set here.
        const size_t count = std::min(size - 1, static_cast<size_t>(needed));
        _vsnprintf(buffer, count, format, args);
        buffer[count] = '\0';
    }
    return needed;
#else
    return std::vsnprintf(buffer, size, format, args);
#endif
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    va_list counting;
    va_copy(counting, args);
    const int needed = FormatText(nullptr, 0, format, counting);
    va_end(counting);
    if (needed < 0)
        AfxThrowInvalidArgException("CString::Format: bad format");
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    FormatText(buffer.data(), buffer.size(), format, args);
    m_text.assign(buffer.data(), static_cast<size_t>(needed));
}

int CStringArray::Add(const CString& item) {
    m_items.push_back(item);
    return GetSize() - 1;
}

const CString& CStringArray::GetAt(int index) const {
    if (index < 0 || index >= GetSize())
        AfxThrowInvalidArgException("CStringArray::GetAt: index outside the list");
    return m_items[static_cast<size_t>(index)];
}
