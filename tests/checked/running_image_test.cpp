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
#include <vector>

#include "framework/Handle.h"
#include "checked/RunningImage.h"
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

const IMAGE_NT_HEADERS64* HeadersOf(const std::vector<BYTE>& bytes) {
    LONG header = 0;
    std::memcpy(&header, &bytes[0x3C], sizeof(header));
    return reinterpret_cast<const IMAGE_NT_HEADERS64*>(&bytes[header]);
}

std::vector<IMAGE_SECTION_HEADER> SectionsOf(const std::vector<BYTE>& bytes) {
    const IMAGE_NT_HEADERS64* nt = HeadersOf(bytes);
    return {IMAGE_FIRST_SECTION(nt), IMAGE_FIRST_SECTION(nt) + nt->FileHeader.NumberOfSections};
}

bool IsProgramData(const IMAGE_SECTION_HEADER& section) {
    const std::string name(reinterpret_cast<const char*>(section.Name),
                           strnlen(reinterpret_cast<const char*>(section.Name), 8));
    return name == ".data" || name == ".bss";
}

// What the loader and the program's start make of the file at loadedAt:
// its sections laid out and relocated, then the import address table, the
// TLS index and the program's variables written over.
std::vector<BYTE> LoadAt(const std::vector<BYTE>& file, ULONGLONG loadedAt) {
    const IMAGE_NT_HEADERS64* nt = HeadersOf(file);
    const IMAGE_OPTIONAL_HEADER64& optional = nt->OptionalHeader;
    std::vector<BYTE> image(optional.SizeOfImage);
    std::memcpy(image.data(), file.data(), optional.SizeOfHeaders);
    const ULONGLONG delta = loadedAt - optional.ImageBase;
    const_cast<IMAGE_NT_HEADERS64*>(HeadersOf(image))->OptionalHeader.ImageBase = loadedAt;
    for (const IMAGE_SECTION_HEADER& section : SectionsOf(file))
        std::memcpy(&image[section.VirtualAddress], &file[section.PointerToRawData],
                    std::min<size_t>(section.SizeOfRawData, section.Misc.VirtualSize));
    const IMAGE_DATA_DIRECTORY& table = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (size_t at = table.VirtualAddress; at < table.VirtualAddress + table.Size;) {
        const auto* block = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(&image[at]);
        const auto* entries = reinterpret_cast<const WORD*>(block + 1);
        for (size_t i = 0; i < (block->SizeOfBlock - sizeof(*block)) / sizeof(WORD); ++i) {
            if (entries[i] >> 12 == IMAGE_REL_BASED_DIR64)
                *reinterpret_cast<ULONGLONG*>(&image[block->VirtualAddress + (entries[i] & 0x0FFF)]) += delta;
        }
        at += block->SizeOfBlock;
    }
    const IMAGE_DATA_DIRECTORY& iat = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    std::memset(&image[iat.VirtualAddress], 0xA5, iat.Size);
    const IMAGE_DATA_DIRECTORY& tls = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    const auto* directory = reinterpret_cast<const IMAGE_TLS_DIRECTORY64*>(&image[tls.VirtualAddress]);
    std::memset(&image[directory->AddressOfIndex - loadedAt], 0x5A, sizeof(DWORD));
    for (const IMAGE_SECTION_HEADER& section : SectionsOf(file)) {
        if (IsProgramData(section))
            std::memset(&image[section.VirtualAddress], 0x3C, section.Misc.VirtualSize);
    }
    return image;
}

// SetUp.exe as it would lie loaded 5 GiB above its base: every byte but its
// variables and the loader's own is compared, a relocated address by the
// relocated value (all 8 bytes of it), so a file with any other byte in its
// manifest, an import's name, its initialisers or its TLS template is not
// the program that runs. No process is started: the image is laid out here.
TEST(RunningImageTest, EveryByteButTheProgramsVariablesIsCompared) {
    const std::string read = ReadFile(ExeFolder() + "\\SetUp.exe");
    ASSERT_FALSE(read.empty());
    const std::vector<BYTE> file(read.begin(), read.end());
    const ULONGLONG loadedAt = HeadersOf(file)->OptionalHeader.ImageBase + (5ULL << 30);
    const std::vector<BYTE> image = LoadAt(file, loadedAt);
    auto rawOf = [&](const char* name) {
        for (const IMAGE_SECTION_HEADER& section : SectionsOf(file)) {
            if (std::strncmp(reinterpret_cast<const char*>(section.Name), name, 8) == 0)
                return std::make_pair(static_cast<size_t>(section.PointerToRawData),
                                      static_cast<size_t>(section.PointerToRawData + section.SizeOfRawData));
        }
        return std::make_pair(size_t{0}, size_t{0});
    };
    const struct {
        const char* name;
        const char* section;
        size_t offset;  // of the byte changed; 0: none
    } cases[] = {
        {"as it is", "", 0},
        {"the manifest", ".rsrc", read.find("requireAdministrator")},
        {"an import's name", ".idata", read.find("CreateFileW")},
        // An initialiser's address, which the relocation moves.
        {"an initialiser", ".CRT", rawOf(".CRT").first + 8},
        {"the TLS template", ".tls", rawOf(".tls").first},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> changed = file;
        if (c.offset != 0) {
            ASSERT_GE(c.offset, rawOf(c.section).first);
            ASSERT_LT(c.offset, rawOf(c.section).second);
            changed[c.offset] ^= 0x01;
        }
        EXPECT_EQ(c.offset == 0, MatchesLoadedImage(changed, image.data(), loadedAt));
    }
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
