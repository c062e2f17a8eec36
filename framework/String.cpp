#include "framework/String.h"

#ifdef _WIN32
#include <mbstring.h>
#endif

#include <cstdio>
#include <vector>

#include "framework/Mbcs.h"

char CString::GetAt(int index) const {
    if (index < 0 || index >= GetLength())
        throw CInvalidArgException("CString::GetAt: index outside the text");
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
namespace {

// The native build of the rules (fuzzing on Linux) has no multibyte C
// runtime: these fold single-byte A-Z only and keep double-byte characters
// whole, which is what the C runtime does in code page 936.
unsigned CharValue(const char* s, int length, int i) {
    const unsigned lead = static_cast<unsigned char>(s[i]);
    if (mbcs::CharLength(s, length, i) == 2)
        return lead << 8 | static_cast<unsigned char>(s[i + 1]);
    return lead >= 'A' && lead <= 'Z' ? lead + ('a' - 'A') : lead;
}

}  // namespace

int CString::CompareNoCase(const char* text) const {
    const char* other = text ? text : "";
    // Up to the first zero byte on both sides, as _mbsicmp reads them.
    const int length = static_cast<int>(std::char_traits<char>::length(m_text.c_str()));
    const int otherLength = static_cast<int>(std::char_traits<char>::length(other));
    int i = 0;
    int j = 0;
    while (i < length && j < otherLength) {
        const unsigned a = CharValue(m_text.c_str(), length, i);
        const unsigned b = CharValue(other, otherLength, j);
        if (a != b)
            return a < b ? -1 : 1;
        i += mbcs::CharLength(m_text.c_str(), length, i);
        j += mbcs::CharLength(other, otherLength, j);
    }
    return (i < length) - (j < otherLength);
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
        throw CInvalidArgException("CString::MakeLower failed");
    m_text.assign(reinterpret_cast<const char*>(buffer.data()));
    return *this;
}
#else
CString& CString::MakeLower() {
    const int length = GetLength();
    for (int i = 0; i < length; i += mbcs::CharLength(m_text.c_str(), length, i)) {
        if (mbcs::CharLength(m_text.c_str(), length, i) == 1 && m_text[i] >= 'A' && m_text[i] <= 'Z')
            m_text[i] = static_cast<char>(m_text[i] + ('a' - 'A'));
    }
    return *this;
}
#endif

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    va_list counting;
    va_copy(counting, args);
    const int needed = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (needed < 0)
        throw CInvalidArgException("CString::Format: bad format");
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    m_text.assign(buffer.data(), static_cast<size_t>(needed));
}

int CStringArray::Add(const CString& item) {
    m_items.push_back(item);
    return GetSize() - 1;
}

const CString& CStringArray::GetAt(int index) const {
    if (index < 0 || index >= GetSize())
        throw CInvalidArgException("CStringArray::GetAt: index outside the list");
    return m_items[static_cast<size_t>(index)];
}
