// Whether a file holds the image that runs. A copy of this test program
// runs in a child mode from a scratch folder; there the file at its path is
// renamed away (by a Unix rename: the folder's owner may do it on Windows
// too) and another file put in its place, and the check is asked of what
// the path holds. Under Wine the system's name for the image stays the path
// it was started from, so the bytes are what tells them apart; on Windows
// that name follows the rename and tells them apart already (not seen here).

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "framework/Handle.h"
#include "framework/RunningImage.h"
#include "tests/support/ChildMode.h"

using namespace testsupport;

namespace {

// Flips a byte in the middle of the first section the program executes.
void ChangeCode(std::string& bytes) {
    LONG header = 0;
    std::memcpy(&header, &bytes[0x3C], sizeof(header));
    IMAGE_NT_HEADERS64 nt;
    std::memcpy(&nt, &bytes[header], sizeof(nt));
    const size_t sections = header + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;
        std::memcpy(&section, &bytes[sections + i * sizeof(section)], sizeof(section));
        if (section.Characteristics & IMAGE_SCN_MEM_EXECUTE) {
            bytes[section.PointerToRawData + section.SizeOfRawData / 2] ^= 0x5A;
            return;
        }
    }
}

// The child: true if the check tells what the path holds as it should.
bool CheckWhatThePathHolds(const std::string& variant) {
    const std::string self = OwnPath();
    std::string bytes = ReadFile(self);
    if (variant != "itself") {
        const std::string away = self + ".ran";
        if (!RunUnixTool("/bin/mv", {UnixPathOf(self), UnixPathOf(away)}, [&] { return FileExists(away); }))
            return false;
        if (variant == "its code changed")
            ChangeCode(bytes);
        else
            bytes = ReadFile(ExeFolder() + "\\idle_process.exe");
        if (bytes.empty() || !WriteFile(self, bytes))
            return false;
    }
    CAutoHandle file(CreateFileA(self.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.IsValid() && HoldsLoadedImage(file.Get(), GetModuleHandleW(nullptr)) == (variant == "itself");
}

[[maybe_unused]] const bool kImageMode = AddChildMode("image-check", CheckWhatThePathHolds);

TEST(RunningImageTest, OnlyTheImageThatRunsPasses) {
    for (const char* variant : {"itself", "its code changed", "another program"}) {
        SCOPED_TRACE(variant);
        ScratchFolder scratch("running-image");
        const std::string copy = scratch / "image.exe";
        ASSERT_TRUE(CopyFileA(OwnPath().c_str(), copy.c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA((ExeFolder() + "\\idle_process.exe").c_str(), (scratch / "idle_process.exe").c_str(), FALSE));
        ChildProcess child;
        ASSERT_TRUE(StartChildMode(child, copy, "image-check", variant));
        DWORD exitCode = 0;
        ASSERT_TRUE(child.Wait(30000, &exitCode));
        EXPECT_EQ(kChildModeDone, exitCode);
    }
}

}  // namespace
