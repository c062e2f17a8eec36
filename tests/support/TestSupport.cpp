#include "tests/support/TestSupport.h"

#include <cstring>
#include <vector>

#include "framework/Handle.h"
#include "framework/Mbcs.h"

namespace testsupport {

std::string ExeFolder() {
    char path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    const int slash = mbcs::ReverseFindChar(path, static_cast<int>(length), '\\');
    return std::string(path, slash > 0 ? static_cast<size_t>(slash) : 0);
}

ScratchFolder::ScratchFolder(const std::string& name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    std::string base(temp);
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    for (unsigned n = GetCurrentProcessId();; ++n) {
        m_path = base + "\\" + name + "-" + std::to_string(n);
        if (CreateDirectoryA(m_path.c_str(), nullptr))
            break;
    }
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(m_path);
}

void ForEachEntry(const std::string& folder, const std::function<void(const WIN32_FIND_DATAA& entry)>& fn) {
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!find.IsValid())
        return;
    do {
        if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0)
            fn(data);
    } while (FindNextFileA(find.Get(), &data));
}

namespace {

// A program a test ran may still hold its own file, or its folder, for a
// moment after its process ended: a copy of a test build left behind under
// the name SetUp.exe is one that someone may later take for the program.
void RetryUntilGone(const std::string& path, const std::function<BOOL()>& remove) {
    for (int tries = 0; !remove() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES && tries < 100;
         ++tries)
        Sleep(50);
}

}  // namespace

void RemoveTree(const std::string& path) {
    ForEachEntry(path, [&](const WIN32_FIND_DATAA& data) {
        const std::string child = path + "\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            const std::string unix = UnixPathOf(child);
            if (!unix.empty())
                RunUnixTool("/bin/rm", {"-f", unix}, [&] { return !FolderExists(child); });
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(child);
        } else {
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            RetryUntilGone(child, [&] { return DeleteFileA(child.c_str()); });
        }
    });
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RetryUntilGone(path, [&] { return RemoveDirectoryA(path.c_str()); });
}

std::string UnixPathOf(const std::string& path) {
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    const auto unixName =
        reinterpret_cast<UnixNameFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixName)
        return std::string();
    std::wstring wide(path.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, path.c_str(), static_cast<int>(path.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    char* name = unixName(wide.c_str());
    if (!name)
        return std::string();
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool RunUnixTool(const std::string& tool, const std::vector<std::string>& args, const std::function<bool()>& done) {
    auto wide = [](const std::string& utf8) {
        std::wstring text(utf8.size() + 1, L'\0');
        text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()),
                                                            &text[0], static_cast<int>(text.size()))));
        return text;
    };
    std::wstring commandLine = L"\"" + wide(tool) + L"\"";
    for (const std::string& arg : args)
        commandLine += L" \"" + wide(arg) + L"\"";
    std::wstring exe = L"Z:" + wide(tool);
    for (wchar_t& c : exe) {
        if (c == L'/')
            c = L'\\';
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (int i = 0; i < 200; ++i) {
        if (done())
            return true;
        Sleep(25);
    }
    return false;
}

PlantedLink::PlantedLink(const std::string& link, const std::string& target) : m_link(link) {
    const std::string unixTarget = UnixPathOf(target);
    m_unixLink = UnixPathOf(link);
    if (unixTarget.empty() || m_unixLink.empty())
        return;
    m_made = RunUnixTool("/bin/ln", {"-s", unixTarget, m_unixLink},
                         [&] { return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

PlantedLink::~PlantedLink() {
    if (m_unixLink.empty())
        return;
    // rm -f on the link's own name never follows it.
    RunUnixTool("/bin/rm", {"-f", m_unixLink},
                [&] { return GetFileAttributesA(m_link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

bool WriteFile(const std::string& path, const std::string& content) {
    CAutoHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size();
}

std::string ReadFile(const std::string& path) {
    CAutoHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return std::string();
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        content.append(buffer, read);
    return content;
}

std::set<std::string> FolderNames(const std::string& folder) {
    std::set<std::string> names;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) { names.insert(entry.cFileName); });
    return names;
}

void SettleAccessTimes(const std::string& folder) {
    const int length = static_cast<int>(folder.size());
    for (int end = mbcs::FindChar(folder.c_str(), length, '\\'); end >= 0;
         end = mbcs::FindChar(folder.c_str(), length, '\\', end + 1))
        FolderNames(folder.substr(0, static_cast<size_t>(end) + 1));
    for (const std::string& name : FolderNames(folder)) {
        if (FolderExists(folder + "\\" + name))
            FolderNames(folder + "\\" + name);
    }
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void DeleteRegistryTree(const std::string& path) {
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
}

bool SetRegistryString(const std::string& keyPath, const std::string& name, const std::string& data, DWORD type) {
    CRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

bool ReadRegistryValue(const std::string& keyPath, const std::string& name, DWORD* type, std::string* data) {
    CRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<char> buffer(size + 1);
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    data->assign(buffer.data(), size);
    return true;
}

// The C runtime's rule: backslashes are literal unless they precede a quote;
// then each one must be doubled, and the quote itself escaped. Its parser
// reads a double-byte character whole, so a trail byte 0x5C is no backslash.
std::string QuoteArgument(const std::string& argument) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (size_t i = 0; i < argument.size(); ++i) {
        const char c = argument[i];
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
        if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < argument.size())
            quoted += argument[++i];
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Start(const std::string& exe, const std::string& args, const std::string& workDir, bool capture) {
    Kill();
    m_lines.clear();
    m_partial.clear();
    std::string commandLine = QuoteArgument(exe);
    if (!args.empty())
        commandLine += " " + args;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    HANDLE writeEnd = nullptr;
    if (capture) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        if (!CreatePipe(&m_output, &writeEnd, &inherit, 0))
            return false;
        // Only the child's end is inherited, so the pipe closes when the child ends.
        SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
    }
    // Wine under heavy load now and then refuses a start with
    // ERROR_INTERNAL_ERROR before the program runs at all: asked again, it
    // starts. Any other refusal is the test's to see.
    bool started = false;
    for (int attempt = 0; !started; ++attempt) {
        started = CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, capture, 0, nullptr,
                                 workDir.empty() ? nullptr : workDir.c_str(), &startup, &m_info);
        if (!started && (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 2))
            break;
        if (!started)
            Sleep(100);
    }
    const DWORD error = GetLastError();
    if (writeEnd)
        CloseHandle(writeEnd);
    if (!started) {
        Kill();
        SetLastError(error);
    }
    return started;
}

bool ChildProcess::ReadAvailable() {
    if (!m_output)
        return false;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(m_output, nullptr, 0, nullptr, &available, nullptr))
            return false;
        if (available == 0)
            return true;
        char chunk[4096];
        DWORD read = 0;
        if (!::ReadFile(m_output, chunk, sizeof(chunk) < available ? sizeof(chunk) : available, &read, nullptr))
            return false;
        m_partial.append(chunk, read);
        size_t end;
        while ((end = m_partial.find('\n')) != std::string::npos) {
            std::string line = m_partial.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            m_lines.push_back(line);
            m_partial.erase(0, end + 1);
        }
    }
}

std::string ChildProcess::Output() const {
    std::string text;
    for (const std::string& line : m_lines)
        text += line + "\n";
    return text;
}

bool ChildProcess::Wait(DWORD ms, DWORD* exitCode) {
    if (!m_info.hProcess)
        return true;
    const ULONGLONG deadline = GetTickCount64() + ms;
    // Reading while waiting: a child blocked on a full pipe would never end.
    while (WaitForSingleObject(m_info.hProcess, m_output ? 5 : ms) == WAIT_TIMEOUT) {
        ReadAvailable();
        if (!m_output || GetTickCount64() >= deadline)
            return false;
    }
    ReadAvailable();
    if (exitCode)
        GetExitCodeProcess(m_info.hProcess, exitCode);
    return true;
}

bool ChildProcess::IsRunning() const {
    return m_info.hProcess && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() {
    if (m_info.hProcess) {
        if (IsRunning()) {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
    }
    m_info = {};
    if (m_output)
        CloseHandle(m_output);
    m_output = nullptr;
}

}  // namespace testsupport
