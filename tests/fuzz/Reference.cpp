#include "tests/fuzz/Reference.h"

#include <cctype>
#include <cstring>

namespace ref {

namespace {

bool IsLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

bool IsTrail(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
}

bool IsEdgeChar(const Char& c) {
    return c.IsByte('\t') || c.IsByte(' ') || c.IsByte('.');
}

// The characters before the first dot, trailing blanks dropped, spelled in
// upper case: the name Windows looks up among its devices.
bool IsDevice(const std::vector<Char>& name) {
    std::string base;
    for (const Char& c : name) {
        if (c.IsByte('.'))
            break;
        base += c.bytes;
    }
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::vector<std::string> devices = {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1", "COM2",
                                              "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",    "COM9", "LPT1",
                                              "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",   "LPT7",    "LPT8", "LPT9"};
    for (const std::string& device : devices) {
        if (base == device)
            return true;
    }
    return false;
}

bool IsDriveRoot(const std::string& path) {
    const char d = path[0];
    return ((d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z')) && path[1] == ':' && path[2] == '\\';
}

// The characters after "X:\" cut at every backslash character.
std::vector<std::vector<Char>> Components(const std::string& path) {
    std::vector<std::vector<Char>> components(1);
    for (const Char& c : Split(path)) {
        if (c.index < 3)
            continue;
        if (c.IsByte('\\'))
            components.emplace_back();
        else
            components.back().push_back(c);
    }
    return components;
}

bool AllFolderNames(const std::string& path) {
    for (const std::vector<Char>& component : Components(path)) {
        if (!IsFolderName(component))
            return false;
    }
    return true;
}

}  // namespace

bool Char::IsBroken() const {
    return bytes.size() == 1 && IsLead(static_cast<unsigned char>(bytes[0]));
}

std::vector<Char> Split(const std::string& text) {
    std::vector<Char> chars;
    for (size_t i = 0; i < text.size();) {
        const bool pair = IsLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                          IsTrail(static_cast<unsigned char>(text[i + 1]));
        const size_t length = pair ? 2 : 1;
        chars.push_back({static_cast<int>(i), text.substr(i, length)});
        i += length;
    }
    return chars;
}

std::vector<bool> Boundaries(const std::string& text) {
    std::vector<bool> boundary(text.size() + 1, false);
    for (const Char& c : Split(text))
        boundary[static_cast<size_t>(c.index)] = true;
    boundary[text.size()] = true;
    return boundary;
}

bool IsFolderName(const std::vector<Char>& name) {
    if (name.empty() || IsEdgeChar(name.front()) || IsEdgeChar(name.back()) || IsDevice(name))
        return false;
    for (const Char& c : name) {
        if (c.IsBroken())
            return false;
        for (char forbidden : std::string("\"*/:<>?\\|")) {
            if (c.IsByte(forbidden))
                return false;
        }
    }
    return true;
}

int CheckFolderPath(const std::string& path) {
    if (path.size() >= 272 || path.size() < 3 || !IsDriveRoot(path))
        return 1;
    if (path.size() == 3)
        return 0;
    return AllFolderNames(path) ? 0 : 1;
}

int CheckInstallFolder(const std::string& folder) {
    if (folder.size() == 3)
        return IsDriveRoot(folder) ? 1 : 0;
    std::string judged = folder;
    const std::vector<Char> chars = Split(folder);
    if (folder.size() > 3 && chars.back().IsByte('\\'))
        judged.pop_back();
    if (judged.size() < 4 || !IsDriveRoot(judged))
        return 0;
    return AllFolderNames(judged) ? 1 : 0;
}

}  // namespace ref
