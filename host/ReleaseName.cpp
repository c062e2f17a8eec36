#include "host/ReleaseName.h"

int ReleaseOfKeyName(const CString& keyName) {
    // The CAD names its release keys like "R25.0" or "GstarCAD R24": only the
    // tag matters. Lower-case tags are not the CAD's and do not count.
    static const struct {
        const char* tag;
        int release;
    } kTags[] = {{"R23", 2023}, {"R24", 2024}, {"R25", 2025}};
    for (const auto& entry : kTags) {
        if (keyName.Find(entry.tag) >= 0)
            return entry.release;
    }
    return 0;
}
