#include "deploy/SkipList.h"

namespace {

// Installed elsewhere (the fonts go to the CAD folders) or not at all.
const char* const kSkippedFiles[] = {"SetUp.EXE", "Tovrel_EN.shx", "Tovrel_HZ.shx", "Tovrel.prt5"};

}  // namespace

bool IsSkippedFile(const CString& name) {
    for (const char* skipped : kSkippedFiles) {
        if (name.CompareNoCase(skipped) == 0)
            return true;
    }
    return false;
}
