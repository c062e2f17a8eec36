// The skip list against a plain comparison that ignores the case of A-Z,
// and the version caption against printf's own zero padding.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "deploy/SkipList.h"
#include "tests/fuzz/Reference.h"
#include "ui/VersionCaption.h"

namespace {

std::string Folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool Skipped(const std::string& name) {
    for (const char* skipped : {"setup.exe", "tovrel_en.shx", "tovrel_hz.shx", "tovrel.prt5"}) {
        if (Folded(name) == skipped)
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A file name has no zero byte: the name ends at the first one.
    std::string name(reinterpret_cast<const char*>(data), size);
    name = name.substr(0, std::strlen(name.c_str()));
    FUZZ_EXPECT(IsSkippedFile(CString(name.c_str())) == Skipped(name));

    int32_t stamp = 0;
    std::memcpy(&stamp, data, size < sizeof(stamp) ? size : sizeof(stamp));
    const CString caption = FormatVersionCaption(stamp);
    const std::string zero = FormatVersionCaption(0).GetString();
    const std::string prefix = zero.substr(0, zero.size() - std::strlen("V0.00.00"));
    if (stamp >= 0) {
        char version[64];
        std::snprintf(version, sizeof(version), "V%d.%02d.%02d", stamp / 10000, stamp / 100 % 100, stamp % 100);
        FUZZ_EXPECT(prefix + version == caption.GetString());
    }
    return 0;
}
