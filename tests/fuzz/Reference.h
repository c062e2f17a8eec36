#pragma once

// Reference models of the rules, written for obviousness rather than speed:
// the text is cut into characters first (code page 936: a lead byte 0x81-0xFE
// and a trail byte 0x40-0x7E or 0x80-0xFE make one character; any other
// byte, a lead byte without its trail byte included, is one of its own), and
// every rule is then stated over that list of characters.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace ref {

struct Char {
    int index;  // of its first byte in the text
    std::string bytes;
    bool IsByte(char c) const { return bytes.size() == 1 && bytes[0] == c; }
    bool IsBroken() const;
};

std::vector<Char> Split(const std::string& text);

// Where a character starts, and the end of the text.
std::vector<bool> Boundaries(const std::string& text);

bool IsFolderName(const std::vector<Char>& name);
// The chooser's check-only result: 0 acceptable, 1 malformed.
int CheckFolderPath(const std::string& path);
// The typed install folder: 1 acceptable, 0 not.
int CheckInstallFolder(const std::string& folder);

}  // namespace ref

// Stops the run with the input saved, like any other finding.
#define FUZZ_EXPECT(condition)                                                                           \
    do {                                                                                                 \
        if (!(condition)) {                                                                              \
            fprintf(stderr, "%s:%d: rule and reference disagree: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                                     \
        }                                                                                                \
    } while (0)
