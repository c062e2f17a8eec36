// SHA-256 computed by the program itself: the standard's examples and a
// last block of 55 bytes (the most that leaves room for the length), fed
// whole and in pieces that end inside, at and past a block.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "checked/FileDigest.h"

namespace {

TEST(FileDigestTest, GivesTheStandardsDigestsInAnyPieces) {
    const struct {
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqr"
         "stu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(119, '\xff'), "b863f94597d433ef2280e3b4656f13ea265a79bb8047287321c218905b03c99b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes.size() << " bytes");
        for (const size_t piece : {c.bytes.size() + 1, size_t{1}, size_t{55}, size_t{64}, size_t{65}}) {
            CFileDigest digest;
            digest.Begin();
            for (size_t at = 0; at < c.bytes.size(); at += piece)
                digest.Add(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
            ASSERT_TRUE(digest.Finish());
            EXPECT_EQ(c.digest, digest.Hex()) << "in pieces of " << piece;
            EXPECT_EQ(c.bytes.size(), digest.Size());
        }
    }
    CFileDigest unbegun;
    EXPECT_FALSE(unbegun.Finish());
}

}  // namespace
