// The double-byte helpers against the character list of the reference:
// searches, the trailing backslash, and never a byte read past the end (the
// text lies in a heap block of exactly its length, without a zero byte).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "framework/Mbcs.h"
#include "tests/fuzz/Reference.h"

namespace {

int FirstChar(const std::vector<ref::Char>& chars, char ch, int start) {
    for (const ref::Char& c : chars) {
        if (c.index >= start && c.IsByte(ch))
            return c.index;
    }
    return -1;
}

int LastChar(const std::vector<ref::Char>& chars, char ch) {
    int found = -1;
    for (const ref::Char& c : chars) {
        if (c.IsByte(ch))
            found = c.index;
    }
    return found;
}

int FirstText(const std::string& text, const std::string& sub, int start) {
    const std::vector<bool> boundary = ref::Boundaries(text);
    for (size_t i = static_cast<size_t>(start < 0 ? 0 : start); i + sub.size() <= text.size(); ++i) {
        if (boundary[i] && boundary[i + sub.size()] && text.compare(i, sub.size(), sub) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    // Byte 0: a character to look for; byte 1: where a search starts and
    // where the searched-for text is cut from the end of the input.
    const char ch = static_cast<char>(data[0]);
    const int start = data[1] % 16;
    const std::string all(reinterpret_cast<const char*>(data) + 2, size - 2);
    const size_t subLength = std::min<size_t>(data[1] / 16, all.size());
    const std::string text = all.substr(0, all.size() - subLength);
    std::string sub = all.substr(all.size() - subLength);
    sub = sub.substr(0, std::strlen(sub.c_str()));

    const int length = static_cast<int>(text.size());
    std::unique_ptr<char[]> exact(new char[text.size()]);
    std::memcpy(exact.get(), text.data(), text.size());
    const char* s = exact.get();

    const std::vector<ref::Char> chars = ref::Split(text);
    for (const ref::Char& c : chars) {
        FUZZ_EXPECT(mbcs::CharLength(s, length, c.index) == static_cast<int>(c.bytes.size()));
        FUZZ_EXPECT(mbcs::IsBrokenChar(s, length, c.index) == c.IsBroken());
    }
    for (char wanted : {ch, '\\', '?'}) {
        FUZZ_EXPECT(mbcs::FindChar(s, length, wanted, start) == FirstChar(chars, wanted, start));
        FUZZ_EXPECT(mbcs::ReverseFindChar(s, length, wanted) == LastChar(chars, wanted));
    }
    FUZZ_EXPECT(mbcs::EndsWithBackslash(s, length) == (!chars.empty() && chars.back().IsByte('\\')));
    FUZZ_EXPECT(mbcs::FindSubstring(s, length, sub.c_str(), start) == FirstText(text, sub, start));
    return 0;
}
