#include "checked/FileStamp.h"

#include <algorithm>
#include <cstring>

#include "checked/CheckedFolder.h"
#include "checked/FileDigest.h"
#include "checked/NativeFile.h"

namespace {

// FAT's last-write clock ticks every two seconds; the others tick finer,
// as do the change times of the file systems a share may lie on.
constexpr LONGLONG kCoarsestTick = 2LL * 10000000;

// An id of all ones is the file systems' "no id" (ReFS ids do not fit).
bool IsUsableId(ULONGLONG id) {
    return id != 0 && id != ~0ULL;
}

// MurmurHash3 (x64, 128 bits) of a file's bytes, fed in pieces of any
// size: where the stamp cannot decide, it tells an accidental change, as the
// stamp does, at several GB/s, many times the speed of SHA-256. It is no
// defence against a program that crafts a file: such a program could
// delete the file itself.
class CContentHash {
  public:
    void Add(const char* data, size_t size) {
        m_length += size;
        while (size > 0) {
            const size_t take = std::min(size, sizeof(m_block) - m_filled);
            std::memcpy(m_block + m_filled, data, take);
            m_filled += take;
            data += take;
            size -= take;
            if (m_filled == sizeof(m_block)) {
                ULONGLONG k[2];
                std::memcpy(k, m_block, sizeof(k));
                m_h1 ^= Mix1(k[0]);
                m_h1 = Rotate(m_h1, 27) + m_h2;
                m_h1 = m_h1 * 5 + 0x52dce729;
                m_h2 ^= Mix2(k[1]);
                m_h2 = Rotate(m_h2, 31) + m_h1;
                m_h2 = m_h2 * 5 + 0x38495ab5;
                m_filled = 0;
            }
        }
    }
    // 32 lower-case hex digits.
    std::string Hex() {
        ULONGLONG k[2] = {};
        for (size_t i = 0; i < m_filled; ++i)
            k[i / 8] ^= static_cast<ULONGLONG>(static_cast<unsigned char>(m_block[i])) << (8 * (i % 8));
        ULONGLONG h1 = m_h1 ^ Mix1(k[0]) ^ m_length;
        ULONGLONG h2 = m_h2 ^ Mix2(k[1]) ^ m_length;
        h1 += h2;
        h2 += h1;
        h1 = Finish(h1);
        h2 = Finish(h2);
        h1 += h2;
        h2 += h1;
        std::string hex;
        for (const ULONGLONG half : {h1, h2}) {
            for (int shift = 60; shift >= 0; shift -= 4)
                hex += "0123456789abcdef"[(half >> shift) & 15];
        }
        return hex;
    }

  private:
    static ULONGLONG Rotate(ULONGLONG value, int bits) { return (value << bits) | (value >> (64 - bits)); }
    static ULONGLONG Finish(ULONGLONG k) {
        k ^= k >> 33;
        k *= 0xff51afd7ed558ccdULL;
        k ^= k >> 33;
        k *= 0xc4ceb9fe1a85ec53ULL;
        return k ^ (k >> 33);
    }
    static constexpr ULONGLONG kC1 = 0x87c37b91114253d5ULL;
    static constexpr ULONGLONG kC2 = 0x4cf5ad432745937fULL;
    static ULONGLONG Mix1(ULONGLONG k) { return Rotate(k * kC1, 31) * kC2; }
    static ULONGLONG Mix2(ULONGLONG k) { return Rotate(k * kC2, 33) * kC1; }

    ULONGLONG m_h1 = 0;
    ULONGLONG m_h2 = 0;
    ULONGLONG m_length = 0;
    char m_block[16] = {};
    size_t m_filled = 0;
};

// The current time as the file system's clock reads it.
LONGLONG Now() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

// The id the file system numbers the file by on its volume (an id that
// does not fit 64 bits, as on ReFS, reads as all ones), and the volume's
// serial number, which the folder holding the file asks once: both answer
// without a trip to Wine's mount manager, which FILE_ID_INFO costs for
// every file.
bool SourceFacts(HANDLE file, const CCheckedFolder& folder, CSourceStamp* stamp) {
    ULONGLONG size = 0;
    LONGLONG lastWrite = 0;
    return FileFactsOf(file, &size, &stamp->id, &lastWrite, nullptr, &stamp->changed) &&
           folder.VolumeSerial(&stamp->volume);
}

bool HasSourceId(const CSourceStamp& stamp) {
    return IsUsableId(stamp.id) && stamp.changed != 0;
}

// The digest of the whole file: the content hash, or where digest already
// holds one of 64 digits (a record of version 1), SHA-256.
bool DigestFromStart(HANDLE file, std::vector<char>& buffer, bool sha256, std::string* hex) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    if (sha256) {
        CFileDigest digest;
        digest.Begin();
        if (!DigestOfOpenFile(file, digest, buffer) || !digest.Finish())
            return false;
        *hex = digest.Hex();
        return true;
    }
    CContentHash hash;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            break;
        hash.Add(buffer.data(), read);
    }
    *hex = hash.Hex();
    return true;
}

}  // namespace

bool StampOpenFile(HANDLE file, const CCheckedFolder& folder, std::vector<char>& buffer, CFileStamp* stamp) {
    *stamp = CFileStamp();
    if (!FileFactsOf(file, &stamp->size, &stamp->id, &stamp->lastWrite)) {
        stamp->id = 0;
        return false;
    }
    if (IsUsableId(stamp->id) && stamp->lastWrite < Now() - kCoarsestTick && folder.VolumeSerial(&stamp->volume))
        return true;
    if (DigestFromStart(file, buffer, false, &stamp->digest))
        return true;
    stamp->id = 0;
    stamp->digest.clear();
    return false;
}

bool IsAsStamped(HANDLE file, const CCheckedFolder& folder, const CFileStamp& stamp, std::vector<char>& buffer) {
    ULONGLONG size = 0;
    ULONGLONG id = 0;
    LONGLONG lastWrite = 0;
    if (!FileFactsOf(file, &size, &id, &lastWrite) || size != stamp.size)
        return false;
    if (!stamp.digest.empty()) {
        std::string digest;
        return DigestFromStart(file, buffer, stamp.digest.size() == 64, &digest) && digest == stamp.digest;
    }
    DWORD volume = 0;
    return IsUsableId(stamp.id) && folder.VolumeSerial(&volume) && volume == stamp.volume && id == stamp.id &&
           lastWrite == stamp.lastWrite;
}

bool StampSource(HANDLE file, const CCheckedFolder& folder, CSourceStamp* stamp) {
    *stamp = CSourceStamp();
    if (SourceFacts(file, folder, stamp) && HasSourceId(*stamp) && stamp->changed < Now() - kCoarsestTick)
        return true;
    *stamp = CSourceStamp();
    return false;
}

bool IsSameSource(HANDLE file, const CCheckedFolder& folder, const CSourceStamp& stamp) {
    CSourceStamp now;
    return HasSourceId(stamp) && SourceFacts(file, folder, &now) && now.volume == stamp.volume && now.id == stamp.id &&
           now.changed == stamp.changed;
}
