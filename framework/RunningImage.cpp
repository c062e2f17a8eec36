#include "framework/RunningImage.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "framework/Handle.h"
#include "framework/NativeFile.h"
#include "framework/WidePath.h"

namespace {

// Far more than the program's size: a larger file is not it.
constexpr DWORD kMaxImageSize = 64 * 1024 * 1024;

// The name of the file the system mapped at base. On Windows the name
// follows a rename of the file; under Wine it stays the name it had.
bool MappedName(HMODULE base, std::wstring* name) {
    using MappedFileNameFn = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);
    const auto mappedFileName = reinterpret_cast<MappedFileNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetMappedFileNameW")));
    if (!mappedFileName)
        return false;
    std::wstring buffer(32768, L'\0');
    const DWORD length = mappedFileName(GetCurrentProcess(), base, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size())
        return false;
    buffer.resize(length);
    *name = buffer;
    return true;
}

// The same file: the same id, where the file system has both now. The
// volume's serial number would say the same as the path's drive, but Wine
// asks its mount manager for it, at about 150 us a call.
bool SameFile(HANDLE a, HANDLE b) {
    ULONGLONG sizes[2] = {};
    ULONGLONG ids[2] = {};
    LONGLONG times[2] = {};
    std::wstring paths[2];
    return FileFactsOf(a, &sizes[0], &ids[0], &times[0]) && FileFactsOf(b, &sizes[1], &ids[1], &times[1]) &&
           ids[0] == ids[1] && FinalPathOf(a, &paths[0]) && FinalPathOf(b, &paths[1]) && IsSamePath(paths[0], paths[1]);
}

bool ReadAll(HANDLE file, std::vector<BYTE>* bytes) {
    LARGE_INTEGER size = {};
    LARGE_INTEGER start = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > kMaxImageSize ||
        !SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) && read == bytes->size();
}

// Marks the bytes the loader may have changed in a section it cannot
// write: the places that relocation adjusts, and the import address table.
void MarkLoaderWrites(const BYTE* base, const IMAGE_NT_HEADERS64* nt, std::vector<char>& changed) {
    auto mark = [&](size_t rva, size_t length) {
        for (size_t i = rva; i < rva + length && i < changed.size(); ++i)
            changed[i] = true;
    };
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    mark(imports.VirtualAddress, imports.Size);
    const IMAGE_DATA_DIRECTORY& relocations = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    size_t at = relocations.VirtualAddress;
    const size_t end = static_cast<size_t>(relocations.VirtualAddress) + relocations.Size;
    while (at + sizeof(IMAGE_BASE_RELOCATION) <= end && end <= changed.size()) {
        const auto* block = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(base + at);
        if (block->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION) || at + block->SizeOfBlock > end)
            break;
        const auto* entries = reinterpret_cast<const WORD*>(block + 1);
        const size_t count = (block->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        for (size_t i = 0; i < count; ++i) {
            const int type = entries[i] >> 12;
            const size_t rva = block->VirtualAddress + (entries[i] & 0x0FFF);
            if (type == IMAGE_REL_BASED_DIR64)
                mark(rva, 8);
            else if (type == IMAGE_REL_BASED_HIGHLOW)
                mark(rva, 4);
        }
        at += block->SizeOfBlock;
    }
}

}  // namespace

// The writable sections are left out (the program has written them since);
// what a changed one could do is caught on Windows by the mapped name,
// which names the file the image came from. Under Wine that name stays the
// old one after a rename, and the bytes are what tells the files apart.
bool HoldsLoadedImage(HANDLE file, HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return false;

    std::wstring mapped;
    if (!MappedName(module, &mapped))
        return false;
    CAutoHandle named(OpenNativeName(mapped));
    if (!named.IsValid() || !SameFile(named.Get(), file))
        return false;

    std::vector<BYTE> bytes;
    if (!ReadAll(file, &bytes))
        return false;
    const size_t headers = nt->OptionalHeader.SizeOfHeaders;
    if (headers > bytes.size())
        return false;
    // The loader may write where it put the image into the headers' copy.
    const size_t imageBase = reinterpret_cast<const BYTE*>(&nt->OptionalHeader.ImageBase) - base;
    for (size_t i = 0; i < headers; ++i) {
        if ((i < imageBase || i >= imageBase + sizeof(ULONGLONG)) && bytes[i] != base[i])
            return false;
    }

    std::vector<char> changed(nt->OptionalHeader.SizeOfImage);
    MarkLoaderWrites(base, nt, changed);
    size_t end = headers;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const size_t raw = section->PointerToRawData;
        const size_t rawSize = section->SizeOfRawData;
        if (raw + rawSize > bytes.size())
            return false;
        if (rawSize > 0)
            end = std::max(end, raw + rawSize);
        if (section->Characteristics & IMAGE_SCN_MEM_WRITE)
            continue;
        const size_t length = std::min<size_t>(rawSize, section->Misc.VirtualSize);
        if (section->VirtualAddress + length > changed.size())
            return false;
        // Compared a run of unchanged bytes at a time.
        const size_t first = section->VirtualAddress;
        for (size_t j = 0; j < length;) {
            const void* mark = std::memchr(&changed[first + j], 1, length - j);
            const size_t run = mark ? static_cast<size_t>(static_cast<const char*>(mark) - &changed[first + j]) : length - j;
            if (std::memcmp(&bytes[raw + j], base + first + j, run) != 0)
                return false;
            j += run;
            while (j < length && changed[first + j])
                ++j;
        }
    }
    // A program built with its symbols carries them after the last section,
    // and a string table after them.
    const size_t symbols = nt->FileHeader.PointerToSymbolTable;
    if (symbols > 0) {
        const size_t table = symbols + static_cast<size_t>(nt->FileHeader.NumberOfSymbols) * 18;
        DWORD strings = 0;
        if (table + sizeof(strings) > bytes.size())
            return false;
        std::memcpy(&strings, &bytes[table], sizeof(strings));
        end = std::max(end, table + strings);
    }
    // A signed program carries its signature after the last section.
    const IMAGE_DATA_DIRECTORY& signature = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (signature.Size > 0)
        end = std::max<size_t>(end, static_cast<size_t>(signature.VirtualAddress) + signature.Size);
    return bytes.size() == end;
}

// Opened as the first thing the program does: the file is then very
// likely the image still, and the check tells where it is not. Sharing
// only reading keeps it so from then on: a rename needs delete access.
HANDLE RunningImageFile() {
    static CAutoHandle image;
    static bool opened = false;
    if (!opened) {
        opened = true;
        std::wstring path(32768, L'\0');
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length > 0 && length < path.size()) {
            path.resize(length);
            CAutoHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (file.IsValid() && HoldsLoadedImage(file.Get(), GetModuleHandleW(nullptr)))
                image.Reset(file.Release());
        }
    }
    return image.Get();
}
