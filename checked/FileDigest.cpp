#include "checked/FileDigest.h"

#include <cstring>

// SHA-256 as FIPS 180-4 specifies it.
namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t Rotate(uint32_t value, int bits) {
    return (value >> bits) | (value << (32 - bits));
}

}  // namespace

void CFileDigest::Begin() {
    std::memcpy(m_state, kInitialState, sizeof(m_state));
    m_filled = 0;
    m_size = 0;
    m_hex.clear();
    m_begun = true;
}

void CFileDigest::Compress(const BYTE* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = static_cast<uint32_t>(block[4 * i]) << 24 | static_cast<uint32_t>(block[4 * i + 1]) << 16 |
               static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 =
            h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRoundConstants[i] + w[i];
        const uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void CFileDigest::Add(const void* data, size_t size) {
    m_size += size;
    if (!m_begun || size == 0)
        return;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    if (m_filled > 0) {
        const size_t take = size < sizeof(m_block) - m_filled ? size : sizeof(m_block) - m_filled;
        std::memcpy(m_block + m_filled, bytes, take);
        m_filled += take;
        bytes += take;
        size -= take;
        if (m_filled < sizeof(m_block))
            return;
        Compress(m_block);
        m_filled = 0;
    }
    for (; size >= sizeof(m_block); bytes += sizeof(m_block), size -= sizeof(m_block))
        Compress(bytes);
    std::memcpy(m_block, bytes, size);
    m_filled = size;
}

bool CFileDigest::Finish() {
    m_hex.clear();
    if (!m_begun)
        return false;
    m_begun = false;
    // A one bit, zeros, and the length in bits in the last 8 bytes of a block.
    const ULONGLONG bits = m_size * 8;
    m_block[m_filled++] = 0x80;
    if (m_filled > sizeof(m_block) - 8) {
        std::memset(m_block + m_filled, 0, sizeof(m_block) - m_filled);
        Compress(m_block);
        m_filled = 0;
    }
    std::memset(m_block + m_filled, 0, sizeof(m_block) - 8 - m_filled);
    for (int i = 0; i < 8; ++i)
        m_block[56 + i] = static_cast<BYTE>(bits >> (56 - 8 * i));
    Compress(m_block);
    static const char kDigits[] = "0123456789abcdef";
    for (const uint32_t word : m_state) {
        for (int shift = 28; shift >= 0; shift -= 4)
            m_hex += kDigits[(word >> shift) & 15];
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

bool IsSameContent(HANDLE a, HANDLE b, std::vector<char>& buffer) {
    CFileDigest first;
    CFileDigest second;
    first.Begin();
    second.Begin();
    return DigestOfOpenFile(a, first, buffer) && first.Finish() && DigestOfOpenFile(b, second, buffer) &&
           second.Finish() && first.Size() == second.Size() && first.Hex() == second.Hex();
}
