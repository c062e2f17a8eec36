#pragma once

// The SHA-256 digest of a file's bytes: what tells a placed file unchanged
// where its stamp cannot (FileStamp.h), what a record of version 1 holds for
// every file, and what names a saved copy of a CAD file. Computed here, not
// by the system's crypto provider, which costs 15 to 21 ms to acquire under
// Wine, paid by the first digest of every run.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CFileDigest {
  public:
    // Starts over with no bytes.
    void Begin();
    void Add(const void* data, size_t size);
    // Ends the digest. False only without a Begin since the last Finish.
    bool Finish();

    // 64 lower-case hex digits after a Finish that succeeded; empty otherwise.
    const std::string& Hex() const { return m_hex; }
    ULONGLONG Size() const { return m_size; }

  private:
    void Compress(const BYTE* block);

    uint32_t m_state[8] = {};
    BYTE m_block[64] = {};
    size_t m_filled = 0;
    bool m_begun = false;
    ULONGLONG m_size = 0;
    std::string m_hex;
};

// Reads an open file from its current position to its end into digest.
// buffer is the scratch space, of any non-zero size.
bool DigestOfOpenFile(HANDLE file, CFileDigest& digest, std::vector<char>& buffer);

// Whether two open files hold the same bytes, read from where each stands.
bool IsSameContent(HANDLE a, HANDLE b, std::vector<char>& buffer);
