#include "removal/InstallRecord.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "checked/FileDigest.h"

namespace {

constexpr char kHeader[] = "TovrelUninstall\t3";
// Records of earlier versions are read as well: version 1 has no B lines,
// and neither it nor version 2 has stamps in its file lines.
constexpr char kFirstHeader[] = "TovrelUninstall\t1";
constexpr char kSecondHeader[] = "TovrelUninstall\t2";
constexpr char kEnd[] = "end";
constexpr size_t kHashLength = 32;
constexpr size_t kSha256Length = 64;
// A saved copy's name: the first hex digits of the digest of its file's
// path in lower case, and this suffix.
constexpr size_t kSavedNameLength = 16;
constexpr char kSavedSuffix[] = ".saved";

bool IsRecordable(const CString& text) {
    if (text.IsEmpty())
        return false;
    for (int i = 0; i < text.GetLength(); ++i) {
        if (static_cast<unsigned char>(text.GetAt(i)) < 0x20)
            return false;
    }
    return true;
}

// The content hash's 32 hex digits, or the 64 of a SHA-256 digest that a
// record of version 1 holds.
bool IsDigest(const std::string& text) {
    return (text.size() == kHashLength || text.size() == kSha256Length) &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool AddOnce(CStringArray& list, const CString& text) {
    if (!IsRecordable(text))
        return false;
    for (int i = 0; i < list.GetSize(); ++i) {
        if (list[i].CompareNoCase(text) == 0)
            return true;
    }
    list.Add(text);
    return true;
}

// The file index's key: the path in lower case, as CString::MakeLower makes
// it. A path of single-byte characters (nearly every one) is folded here:
// the C runtime's call takes the locale's lock and costs about a
// microsecond a path under Wine, paid for every line of the record.
std::string FileKey(const CString& path) {
    std::string key(path.GetString(), static_cast<size_t>(path.GetLength()));
    for (char& c : key) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            CString lower = path;
            lower.MakeLower();
            return lower.GetString();
        }
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return key;
}

// The fields of a line, split at tabs: views into the line.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t tab = line.find('\t'); tab != std::string_view::npos; tab = line.find('\t')) {
        fields.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    fields.push_back(line);
    return fields;
}

bool ParseSize(std::string_view text, ULONGLONG* size) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    *size = 0;
    for (const char c : text)
        *size = *size * 10 + static_cast<ULONGLONG>(c - '0');
    return true;
}

// Exactly digits lower-case hex digits.
template <typename T>
bool ParseHex(std::string_view text, size_t digits, T* value) {
    if (text.size() != digits || text.find_first_not_of("0123456789abcdef") != std::string_view::npos)
        return false;
    ULONGLONG parsed = 0;
    for (const char c : text)
        parsed = parsed * 16 + static_cast<ULONGLONG>(c <= '9' ? c - '0' : c - 'a' + 10);
    *value = static_cast<T>(parsed);
    return true;
}

void AppendHex(ULONGLONG value, int digits, std::string& text) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text += "0123456789abcdef"[(value >> shift) & 15];
}

// A file's place and time: "volume:id:time" in 8, 16 and 16 hex digits.
std::string FormatPlaceAndTime(DWORD volume, ULONGLONG id, LONGLONG time) {
    std::string text;
    AppendHex(volume, 8, text);
    text += ':';
    AppendHex(id, 16, text);
    text += ':';
    AppendHex(static_cast<ULONGLONG>(time), 16, text);
    return text;
}

// An id of 0 names no file.
bool ParsePlaceAndTime(std::string_view text, DWORD* volume, ULONGLONG* id, LONGLONG* time) {
    return text.size() == 42 && text[8] == ':' && text[25] == ':' && ParseHex(text.substr(0, 8), 8, volume) &&
           ParseHex(text.substr(9, 16), 16, id) && *id != 0 && ParseHex(text.substr(26, 16), 16, time);
}

// The placed file's stamp, or "-" for none.
std::string FormatStamp(const CFileStamp& stamp) {
    return stamp.id == 0 ? std::string("-") : FormatPlaceAndTime(stamp.volume, stamp.id, stamp.lastWrite);
}

bool ParseStamp(std::string_view text, CFileStamp* stamp) {
    return text == "-" || ParsePlaceAndTime(text, &stamp->volume, &stamp->id, &stamp->lastWrite);
}

// The package file's stamp: a file line's field between its mark and its
// path, only where the source could be told (a change time is then known).
std::string FormatSource(const CSourceStamp& source) {
    return FormatPlaceAndTime(source.volume, source.id, source.changed);
}

bool ParseSource(std::string_view text, CSourceStamp* source) {
    return ParsePlaceAndTime(text, &source->volume, &source->id, &source->changed) && source->changed != 0;
}

CString TextOf(std::string_view field) {
    return CString(field.data(), static_cast<int>(field.size()));
}

// A version 1 file line has no stamp field; a version 3 one may have a
// source field before its path.
bool ParseLine(std::string_view line, bool first, CInstallRecord& record) {
    std::vector<std::string_view> fields = Fields(line);
    if (fields[0] == "F" && (fields.size() == (first ? 5u : 6u) || (!first && fields.size() == 7u))) {
        if (first)
            fields.insert(fields.begin() + 2, "-");
        CRecordedFile file;
        if (fields.size() == 7u && !ParseSource(fields[5], &file.source))
            return false;
        file.path = TextOf(fields.back());
        file.digest = fields[3] == "-" ? std::string() : std::string(fields[3]);
        file.keep = fields[4] == "k";
        return ParseSize(fields[1], &file.size) && ParseStamp(fields[2], &file) &&
               (file.digest.empty() || IsDigest(file.digest)) && (fields[4] == "k" || fields[4] == "-") &&
               record.AddFile(file);
    }
    if (fields[0] == "B" && fields.size() == 3)
        return record.AddSaved(TextOf(fields[2]), TextOf(fields[1]));
    if (fields[0] == "D" && fields.size() == 2)
        return record.AddFolder(TextOf(fields[1]));
    if (fields[0] == "L" && fields.size() == 2)
        return record.AddLoader(TextOf(fields[1]));
    if (fields[0] == "K" && fields.size() == 2)
        return record.AddMadeKey(TextOf(fields[1]));
    if (fields[0] == "U" && fields.size() == 2)
        return record.AddUser(TextOf(fields[1]));
    return false;
}

}  // namespace

bool CInstallRecord::AddFile(const CRecordedFile& file) {
    if (!IsRecordable(file.path) || (!file.digest.empty() && !IsDigest(file.digest)))
        return false;
    std::string key = FileKey(file.path);
    const auto known = m_fileIndex.find(key);
    if (known != m_fileIndex.end()) {
        static_cast<CFileStamp&>(m_files[known->second]) = file;
        m_files[known->second].keep = m_files[known->second].keep || file.keep;
        return true;
    }
    m_fileIndex.emplace(std::move(key), m_files.size());
    m_files.push_back(file);
    return true;
}

const CRecordedFile* CInstallRecord::FileAt(const CString& path) const {
    const auto known = m_fileIndex.find(FileKey(path));
    return known == m_fileIndex.end() ? nullptr : &m_files[known->second];
}

// A saved copy's name is one SavedNameFor makes: nothing in the record can
// name another file of its folder, such as the uninstaller.
bool CInstallRecord::AddSaved(const CString& path, const CString& name) {
    const std::string text = name.GetString();
    if (!IsRecordable(path) || text.size() != kSavedNameLength + std::strlen(kSavedSuffix) ||
        text.find_first_not_of("0123456789abcdef") != kSavedNameLength ||
        text.compare(kSavedNameLength, std::string::npos, kSavedSuffix) != 0)
        return false;
    for (const CSavedFile& saved : m_saved) {
        if (saved.path.CompareNoCase(path) == 0)
            return true;
    }
    m_saved.push_back({path, name});
    return true;
}

bool CInstallRecord::AddFolder(const CString& path) {
    return AddOnce(folders, path);
}

bool CInstallRecord::AddLoader(const CString& loader) {
    return AddOnce(loaders, loader);
}

bool CInstallRecord::AddMadeKey(const CString& key) {
    return AddOnce(madeKeys, key);
}

bool CInstallRecord::AddUser(const CString& sid) {
    return AddOnce(users, sid);
}

bool CInstallRecord::AddPlaced(const CCheckedFolder& folder, const char* name, const CFileStamp& stamp, bool keep) {
    const CString folderText = folder.FinalPathText();
    if (folderText.IsEmpty())
        return false;
    CRecordedFile file;
    static_cast<CFileStamp&>(file) = stamp;
    file.path = folderText + "\\" + name;
    file.keep = keep;
    return AddFile(file);
}

void CInstallRecord::Merge(const CInstallRecord& newer) {
    for (const CRecordedFile& file : newer.m_files)
        AddFile(file);
    for (const CSavedFile& saved : newer.m_saved)
        AddSaved(saved.path, saved.name);
    for (int i = 0; i < newer.folders.GetSize(); ++i)
        AddFolder(newer.folders[i]);
    for (int i = 0; i < newer.loaders.GetSize(); ++i)
        AddLoader(newer.loaders[i]);
    for (int i = 0; i < newer.madeKeys.GetSize(); ++i)
        AddMadeKey(newer.madeKeys[i]);
    for (int i = 0; i < newer.users.GetSize(); ++i)
        AddUser(newer.users[i]);
}

std::string CInstallRecord::Format() const {
    std::string text = std::string(kHeader) + "\r\n";
    for (const CRecordedFile& file : m_files) {
        text += "F\t" + std::to_string(file.size) + "\t" + FormatStamp(file) + "\t" +
                (file.digest.empty() ? "-" : file.digest) + "\t" + (file.keep ? "k" : "-") + "\t" +
                (file.source.changed != 0 ? FormatSource(file.source) + "\t" : std::string()) + file.path.GetString() +
                "\r\n";
    }
    for (const CSavedFile& saved : m_saved)
        text += std::string("B\t") + saved.name.GetString() + "\t" + saved.path.GetString() + "\r\n";
    for (int i = 0; i < folders.GetSize(); ++i)
        text += std::string("D\t") + folders[i].GetString() + "\r\n";
    for (int i = 0; i < loaders.GetSize(); ++i)
        text += std::string("L\t") + loaders[i].GetString() + "\r\n";
    for (int i = 0; i < madeKeys.GetSize(); ++i)
        text += std::string("K\t") + madeKeys[i].GetString() + "\r\n";
    for (int i = 0; i < users.GetSize(); ++i)
        text += std::string("U\t") + users[i].GetString() + "\r\n";
    return text + kEnd + "\r\n";
}

bool CInstallRecord::Parse(const std::string& text) {
    CInstallRecord parsed;
    bool header = false;
    bool first = false;
    bool ended = false;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        // Every line ends in a line break: a last line without one is cut.
        if (end == std::string::npos || ended)
            return false;
        std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        start = end + 1;
        if (!header) {
            first = line == kFirstHeader || line == kSecondHeader;
            if (line != kHeader && !first)
                return false;
            header = true;
        } else if (line == kEnd) {
            ended = true;
        } else if (!ParseLine(line, first, parsed)) {
            return false;
        }
    }
    if (!ended)
        return false;
    *this = std::move(parsed);
    return true;
}

// The same path gives the same name, so that an install killed after it
// saved a file's bytes finds them there when it runs again, rather than
// saving its own copy over them.
CString SavedNameFor(const CString& path) {
    CString lower = path;
    lower.MakeLower();
    CFileDigest digest;
    digest.Begin();
    digest.Add(lower.GetString(), static_cast<size_t>(lower.GetLength()));
    if (!digest.Finish())
        return CString();
    return CString((digest.Hex().substr(0, kSavedNameLength) + kSavedSuffix).c_str());
}
