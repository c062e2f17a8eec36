#include "deploy/FileDigest.h"

#include <wincrypt.h>

namespace {

constexpr DWORD kDigestBytes = 32;

// One provider for the process, acquired when the first digest is made and
// released at exit. The provider (rsaenh) is in the system folder and is
// found through advapi32, which the program imports already: nothing new is
// loaded from beside the program.
class CCryptProvider {
  public:
    ~CCryptProvider() {
        if (m_provider)
            CryptReleaseContext(m_provider, 0);
    }
    HCRYPTPROV Get() {
        if (!m_provider && !m_tried) {
            m_tried = true;
            if (!CryptAcquireContextA(&m_provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
                m_provider = 0;
        }
        return m_provider;
    }

  private:
    HCRYPTPROV m_provider = 0;
    bool m_tried = false;
};

CCryptProvider& Provider() {
    static CCryptProvider provider;
    return provider;
}

}  // namespace

CFileDigest::~CFileDigest() {
    Release();
}

void CFileDigest::Release() {
    if (m_hash)
        CryptDestroyHash(m_hash);
    m_hash = 0;
}

void CFileDigest::Begin() {
    Release();
    m_size = 0;
    m_hex.clear();
    const HCRYPTPROV provider = Provider().Get();
    m_failed = !provider || !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &m_hash);
    if (m_failed)
        m_hash = 0;
}

void CFileDigest::Add(const void* data, size_t size) {
    m_size += size;
    if (m_failed || size == 0)
        return;
    // CryptHashData takes a DWORD length: the program's buffers are far
    // smaller, but a caller's may not be.
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (size > 0 && !m_failed) {
        const DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        m_failed = !CryptHashData(m_hash, bytes, part, 0);
        bytes += part;
        size -= part;
    }
}

bool CFileDigest::Finish() {
    BYTE value[kDigestBytes];
    DWORD length = sizeof(value);
    const bool ok =
        !m_failed && m_hash && CryptGetHashParam(m_hash, HP_HASHVAL, value, &length, 0) && length == kDigestBytes;
    Release();
    m_failed = true;
    m_hex.clear();
    if (!ok)
        return false;
    static const char kDigits[] = "0123456789abcdef";
    for (const BYTE byte : value) {
        m_hex += kDigits[byte >> 4];
        m_hex += kDigits[byte & 15];
    }
    return true;
}

bool DigestOfOpenFile(HANDLE file, CFileDigest& digest, std::vector<char>& buffer) {
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            return true;
        digest.Add(buffer.data(), read);
    }
}
