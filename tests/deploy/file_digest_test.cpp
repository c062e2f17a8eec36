// SHA-256 computed by the program itself: the standard's examples, fed
// whole and in pieces that end inside, at and past a block, and the system's
// provider on the same bytes.

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>

#include "deploy/FileDigest.h"

namespace {

std::string ProviderDigest(const std::string& bytes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE value[32] = {};
    DWORD length = sizeof(value);
    std::string hex;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
        CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, value, &length, 0)) {
        for (const BYTE byte : value)
            hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    }
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    return hex;
}

TEST(FileDigestTest, GivesTheStandardsDigestsInAnyPieces) {
    const struct {
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(119, '\xff'), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes.size() << " bytes");
        const std::string expected = c.digest ? c.digest : ProviderDigest(c.bytes);
        ASSERT_EQ(64u, expected.size());
        for (const size_t piece : {c.bytes.size() + 1, size_t{1}, size_t{55}, size_t{64}, size_t{65}}) {
            CFileDigest digest;
            digest.Begin();
            for (size_t at = 0; at < c.bytes.size(); at += piece)
                digest.Add(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
            ASSERT_TRUE(digest.Finish());
            EXPECT_EQ(expected, digest.Hex()) << "in pieces of " << piece;
            EXPECT_EQ(c.bytes.size(), digest.Size());
        }
    }
    CFileDigest unbegun;
    EXPECT_FALSE(unbegun.Finish());
}

}  // namespace
