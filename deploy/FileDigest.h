#pragma once

// The SHA-256 digest of a file's bytes, from the system's crypto provider:
// what tells a placed file unchanged where its stamp cannot (FileStamp.h),
// and what a record of version 1 holds for every file.

#include <windows.h>

#include <string>
#include <vector>

class CFileDigest {
  public:
    CFileDigest() = default;
    ~CFileDigest();
    CFileDigest(const CFileDigest&) = delete;
    CFileDigest& operator=(const CFileDigest&) = delete;

    // Starts over with no bytes.
    void Begin();
    void Add(const void* data, size_t size);
    // Ends the digest. False if the provider failed at any point: there is
    // then no digest, only the size.
    bool Finish();

    // 64 lower-case hex digits after a Finish that succeeded; empty otherwise.
    const std::string& Hex() const { return m_hex; }
    ULONGLONG Size() const { return m_size; }

  private:
    void Release();

    HCRYPTHASH m_hash = 0;
    bool m_failed = false;
    ULONGLONG m_size = 0;
    std::string m_hex;
};

// Reads an open file from its current position to its end into digest.
// buffer is the scratch space, of any non-zero size.
bool DigestOfOpenFile(HANDLE file, CFileDigest& digest, std::vector<char>& buffer);
