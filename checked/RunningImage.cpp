#include "checked/RunningImage.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "framework/Handle.h"
#include "checked/NativeFile.h"
#include "checked/WidePath.h"

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

// A range of the image, by relative address, that is not compared.
struct CHole {
    size_t begin = 0;
    size_t end = 0;
};

// Compares length bytes of the file from offset raw with the image from
// rva, leaving out the holes.
bool SameOutsideHoles(const std::vector<BYTE>& file,
                      size_t raw,
                      const BYTE* loaded,
                      size_t rva,
                      size_t length,
                      const CHole* holes,
                      size_t holeCount) {
    const size_t end = rva + length;
    for (size_t at = rva; at < end;) {
        size_t stop = end;
        size_t skip = at;
        for (size_t i = 0; i < holeCount; ++i) {
            if (holes[i].begin <= at && at < holes[i].end)
                skip = std::max(skip, holes[i].end);
            else if (holes[i].begin > at && holes[i].begin < stop)
                stop = holes[i].begin;
        }
        if (skip > at) {
            at = std::min(skip, end);
            continue;
        }
        if (std::memcmp(&file[raw + (at - rva)], loaded + at, stop - at) != 0)
            return false;
        at = stop;
    }
    return true;
}

// Where the bytes at rva, length of them, lie in the file: inside what a
// section has there. False for bytes the file does not give (zero fill).
bool FileOffsetOf(const IMAGE_NT_HEADERS64* nt, size_t rva, size_t length, size_t* offset) {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const size_t size = std::min<size_t>(section->SizeOfRawData, section->Misc.VirtualSize);
        if (rva >= section->VirtualAddress && rva + length <= section->VirtualAddress + size) {
            *offset = section->PointerToRawData + (rva - section->VirtualAddress);
            return true;
        }
    }
    return false;
}

// Adds to the file's bytes what the loader added to the image's at each of
// the running program's own relocations (the image's table, never the
// file's, which is compared afterwards like any other section). False for
// a kind of relocation a 64-bit program does not have.
bool Relocate(std::vector<BYTE>& file, const BYTE* loaded, const IMAGE_NT_HEADERS64* nt, ULONGLONG delta) {
    const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    const size_t end = static_cast<size_t>(table.VirtualAddress) + table.Size;
    if (end > nt->OptionalHeader.SizeOfImage)
        return false;
    for (size_t at = table.VirtualAddress; at + sizeof(IMAGE_BASE_RELOCATION) <= end;) {
        const auto* block = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(loaded + at);
        if (block->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION) || at + block->SizeOfBlock > end)
            return false;
        const auto* entries = reinterpret_cast<const WORD*>(block + 1);
        const size_t count = (block->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        for (size_t i = 0; i < count; ++i) {
            const int type = entries[i] >> 12;
            const size_t rva = block->VirtualAddress + (entries[i] & 0x0FFF);
            const size_t width = type == IMAGE_REL_BASED_DIR64 ? 8 : type == IMAGE_REL_BASED_HIGHLOW ? 4 : 0;
            if (type == IMAGE_REL_BASED_ABSOLUTE)
                continue;
            if (width == 0)
                return false;
            // A place the file has no bytes for is not compared either.
            size_t offset = 0;
            if (!FileOffsetOf(nt, rva, width, &offset))
                continue;
            if (width == 8) {
                ULONGLONG value = 0;
                std::memcpy(&value, &file[offset], width);
                value += delta;
                std::memcpy(&file[offset], &value, width);
            } else {
                DWORD value = 0;
                std::memcpy(&value, &file[offset], width);
                value += static_cast<DWORD>(delta);
                std::memcpy(&file[offset], &value, width);
            }
        }
        at += block->SizeOfBlock;
    }
    return true;
}

// The compiler's sections for the program's variables.
bool IsProgramData(const IMAGE_SECTION_HEADER& section) {
    return (section.Characteristics & IMAGE_SCN_MEM_WRITE) &&
           (std::memcmp(section.Name, ".data\0\0\0", 8) == 0 || std::memcmp(section.Name, ".bss\0\0\0\0", 8) == 0);
}

}  // namespace

// Every byte the image has from the file is compared, relocated as the
// loader relocated the image, but these:
// - the program's variables (.data; .bss has no bytes in the file): its
//   start has written them by now, the C runtime's state and the static
//   objects among them. A substitute that differs only there runs this
//   program's code, imports, initialisers, TLS callbacks and manifest, the
//   request for elevation and every check included: it adds no code (the
//   section is not executable) and sets no more than where this program's
//   own variables start;
// - what the loader writes: the import address table (the loader finds each
//   import through the lookup table its descriptor names, both compared,
//   and never reads the file's own copy of the address table), the TLS
//   index slot, and where the image was put, in the headers;
// - what is never loaded: a section's padding beyond its size, the symbol
//   table, a signature.
// The section headers are compared with the rest of the headers: a
// substitute cannot name another section as the program's variables.
bool MatchesLoadedImage(std::vector<BYTE>& file, const BYTE* loaded, ULONGLONG loadedAt) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(loaded);
    if (!loaded || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(loaded + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return false;
    const size_t headers = nt->OptionalHeader.SizeOfHeaders;
    const size_t image = nt->OptionalHeader.SizeOfImage;
    const size_t imageBase = reinterpret_cast<const BYTE*>(&nt->OptionalHeader.ImageBase) - loaded;
    if (headers > file.size() || headers > image)
        return false;

    const IMAGE_DATA_DIRECTORY& iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    CHole holes[3] = {{imageBase, imageBase + sizeof(ULONGLONG)},
                      {iat.VirtualAddress, iat.VirtualAddress + size_t{iat.Size}}};
    const IMAGE_DATA_DIRECTORY& tls = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (tls.Size >= sizeof(IMAGE_TLS_DIRECTORY64) && static_cast<size_t>(tls.VirtualAddress) + tls.Size <= image) {
        const auto* directory = reinterpret_cast<const IMAGE_TLS_DIRECTORY64*>(loaded + tls.VirtualAddress);
        const ULONGLONG index = directory->AddressOfIndex - loadedAt;
        if (directory->AddressOfIndex >= loadedAt && index < image)
            holes[2] = {static_cast<size_t>(index), static_cast<size_t>(index) + sizeof(DWORD)};
    }
    if (!SameOutsideHoles(file, 0, loaded, 0, headers, holes, 3))
        return false;

    // The headers are the image's own from here on, but where it was put.
    size_t end = headers;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const size_t raw = section->PointerToRawData;
        const size_t rawSize = section->SizeOfRawData;
        const size_t length = std::min<size_t>(rawSize, section->Misc.VirtualSize);
        if (raw + rawSize > file.size() || section->VirtualAddress + length > image)
            return false;
        if (rawSize > 0)
            end = std::max(end, raw + rawSize);
    }
    ULONGLONG fileBase = 0;
    std::memcpy(&fileBase, &file[imageBase], sizeof(fileBase));
    if (!Relocate(file, loaded, nt, loadedAt - fileBase))
        return false;
    section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const size_t length = std::min<size_t>(section->SizeOfRawData, section->Misc.VirtualSize);
        if (!IsProgramData(*section) &&
            !SameOutsideHoles(file, section->PointerToRawData, loaded, section->VirtualAddress, length, holes, 3))
            return false;
    }
    // A program built with its symbols carries them after the last section,
    // and a string table after them.
    const size_t symbols = nt->FileHeader.PointerToSymbolTable;
    if (symbols > 0) {
        const size_t table = symbols + static_cast<size_t>(nt->FileHeader.NumberOfSymbols) * 18;
        DWORD strings = 0;
        if (table + sizeof(strings) > file.size())
            return false;
        std::memcpy(&strings, &file[table], sizeof(strings));
        end = std::max(end, table + strings);
    }
    // A signed program carries its signature after the last section.
    const IMAGE_DATA_DIRECTORY& signature = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (signature.Size > 0)
        end = std::max<size_t>(end, static_cast<size_t>(signature.VirtualAddress) + signature.Size);
    return file.size() == end;
}

// On Windows the mapped name names the file the image came from, so a file
// renamed into its place is told apart by name already. Under Wine that name
// stays the old one after a rename, and the bytes are what tells the files
// apart.
bool HoldsLoadedImage(HANDLE file, HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    std::wstring mapped;
    if (!base || !MappedName(module, &mapped))
        return false;
    const CAutoHandle named = OpenNativeName(mapped);
    if (!named.IsValid() || !SameFile(named.Get(), file))
        return false;
    std::vector<BYTE> bytes;
    return ReadAll(file, &bytes) && MatchesLoadedImage(bytes, base, reinterpret_cast<ULONGLONG>(base));
}

namespace {

// The folder whose entry the open file is: the folder its final path names,
// if the file under its name there is this very file, on the same volume.
// A link put in that folder's place leads to a folder whose entry of that
// name is another file.
CAutoHandle OpenFolderOf(HANDLE file) {
    std::wstring path;
    if (!FinalPathOf(file, &path))
        return CAutoHandle();
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= path.size())
        return CAutoHandle();
    std::wstring folderPath = path.substr(0, slash);
    if (folderPath.size() < FirstLevel(path))
        folderPath = path.substr(0, slash + 1);
    CAutoHandle folder(
        CreateFileW(VerbatimPath(folderPath).c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    CAutoHandle entry;
    ULONG_PTR information = 0;
    if (!folder.IsValid() || OpenRelative(folder.Get(), path.substr(slash + 1), FILE_READ_ATTRIBUTES, 0,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                          FILE_NON_DIRECTORY_FILE, &entry, &information) < 0)
        return CAutoHandle();
    return SameFile(entry.Get(), file) ? std::move(folder) : CAutoHandle();
}

struct CRunningImage {
    CAutoHandle file;
    CAutoHandle folder;
};

// Opened as the first thing the program does: the file is then very
// likely the image still, and the check tells where it is not. Sharing
// only reading keeps it so from then on: a rename needs delete access.
// Its folder is taken from the file, whatever the check says: the path the
// program was started by may lead through a link that is changed later.
const CRunningImage& RunningImage() {
    static CRunningImage running;
    static bool opened = false;
    if (!opened) {
        opened = true;
        std::wstring path(32768, L'\0');
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length > 0 && length < path.size()) {
            path.resize(length);
            CAutoHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (file.IsValid())
                running.folder = OpenFolderOf(file.Get());
            if (file.IsValid() && HoldsLoadedImage(file.Get(), GetModuleHandleW(nullptr)))
                running.file = std::move(file);
        }
    }
    return running;
}

}  // namespace

HANDLE RunningImageFile() {
    return RunningImage().file.Get();
}

HANDLE RunningImageFolder() {
    return RunningImage().folder.Get();
}
