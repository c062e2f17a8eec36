// The folder rules against the reference: a folder name, the chooser's
// check-only path test, and the typed install folder.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "deploy/FolderPath.h"
#include "framework/Mbcs.h"
#include "tests/fuzz/Reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // Byte 0 chooses a drive prefix, so that most inputs reach the walk over
    // the folder names rather than stopping at the first three bytes, and a
    // device name or a near miss to start the first name with: the fuzzer
    // seldom spells one by itself.
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    text = text.substr(0, std::strlen(text.c_str()));
    static const char* const kStems[] = {"", "CON", "nul", "Com9", "lpt1", "CONOUT$", "aux ", "COM0", "NULL"};
    if (data[0] & 2)
        text = kStems[(data[0] >> 2) % (sizeof(kStems) / sizeof(kStems[0]))] + text;
    if (data[0] & 1)
        text = "C:\\" + text;

    const bool name = ValidateFolderName(text.c_str()) == 1;
    FUZZ_EXPECT(name == ref::IsFolderName(ref::Split(text)));
    const int path = CreateFolderPath(text.c_str(), 1);
    FUZZ_EXPECT(path == ref::CheckFolderPath(text));
    const int install = ValidateInstallFolder(text.c_str());
    FUZZ_EXPECT(install == ref::CheckInstallFolder(text));
    // Whatever the chooser accepts, Install accepts too.
    FUZZ_EXPECT(path != 0 || install == 1);
    // From an accepted folder the dialog makes a well-formed install folder:
    // one trailing backslash dropped, the sub-folder appended.
    if (install == 1) {
        std::string installDir = text;
        if (mbcs::EndsWithBackslash(text.c_str(), static_cast<int>(text.size())))
            installDir.pop_back();
        installDir += "\\T-VazivIvir";
        FUZZ_EXPECT(installDir.size() >= 272 || ref::CheckFolderPath(installDir) == 0);
    }
    return 0;
}
