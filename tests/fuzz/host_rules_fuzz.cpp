// The rules applied to what the registry holds: the release a key name
// belongs to, and the trailing backslash dropped from a CAD location.

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/ReleaseName.h"
#include "framework/TrailingBackslash.h"
#include "tests/fuzz/Reference.h"

namespace {

int Release(const std::string& name) {
    const std::vector<ref::Char> chars = ref::Split(name);
    const std::pair<const char*, int> tags[] = {{"R23", 2023}, {"R24", 2024}, {"R25", 2025}};
    for (const auto& tag : tags) {
        for (size_t i = 0; i + 3 <= chars.size(); ++i) {
            if (chars[i].IsByte(tag.first[0]) && chars[i + 1].IsByte(tag.first[1]) && chars[i + 2].IsByte(tag.first[2]))
                return tag.second;
        }
    }
    return 0;
}

std::string Stripped(const std::string& path) {
    const std::vector<ref::Char> chars = ref::Split(path);
    if (chars.size() > 1 && chars.back().IsByte('\\'))
        return path.substr(0, path.size() - 1);
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FUZZ_EXPECT(ReleaseOfKeyName(CString(text.data(), static_cast<int>(text.size()))) == Release(text));

    CString path(text.data(), static_cast<int>(text.size()));
    StripTrailingBackslash(path);
    FUZZ_EXPECT(std::string(path.GetString(), static_cast<size_t>(path.GetLength())) == Stripped(text));
    return 0;
}
