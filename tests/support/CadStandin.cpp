#include "tests/support/CadStandin.h"

#include "tests/support/TestSupport.h"

namespace testsupport {

std::string CadStandinPath() {
    return ExeFolder() + "\\cad\\gcad.exe";
}

std::string SamplePackageFolder() {
    const std::string bin = ExeFolder();
    const size_t slash = bin.find_last_of('\\');
    return (slash == std::string::npos ? bin : bin.substr(0, slash)) + "\\package";
}

std::string FixtureModuleFolder() {
    return ExeFolder() + "\\cad\\modules";
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

CadStandin::~CadStandin() {
    Kill();
}

bool CadStandin::Start(const std::string& profileKey, bool stay) {
    return StartWithArguments((stay ? "--stay " : "") + QuoteArgument(profileKey));
}

bool CadStandin::StartWithArguments(const std::string& arguments) {
    Kill();
    m_lines.clear();
    m_partial.clear();

    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    // Only the child's end is inherited, so the pipe closes when the child ends.
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    const std::string exe = CadStandinPath();
    std::string commandLine = QuoteArgument(exe) + " " + arguments;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    const BOOL started =
        CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &m_process);
    CloseHandle(writeEnd);
    if (!started) {
        const DWORD error = GetLastError();
        CloseHandle(readEnd);
        m_process = {};
        SetLastError(error);
        return false;
    }
    m_output = readEnd;
    return true;
}

bool CadStandin::ReadAvailable() {
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

bool CadStandin::HasFinalLine() const {
    for (const std::string& line : m_lines) {
        if (line.compare(0, 5, "done\t") == 0 || line.compare(0, 11, "no profile\t") == 0)
            return true;
    }
    return false;
}

bool CadStandin::WaitForReport(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        const bool open = ReadAvailable();
        if (HasFinalLine())
            return true;
        if (!open || !IsRunning()) {
            ReadAvailable();
            return HasFinalLine();
        }
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(5);
    }
}

bool CadStandin::WaitForExit(DWORD ms, DWORD* exitCode) {
    if (!m_process.hProcess)
        return false;
    const ULONGLONG deadline = GetTickCount64() + ms;
    // Reading while waiting: a child blocked on a full pipe would never end.
    while (WaitForSingleObject(m_process.hProcess, 5) == WAIT_TIMEOUT) {
        ReadAvailable();
        if (GetTickCount64() >= deadline)
            return false;
    }
    ReadAvailable();
    if (exitCode)
        GetExitCodeProcess(m_process.hProcess, exitCode);
    return true;
}

bool CadStandin::IsRunning() const {
    return m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

void CadStandin::Kill() {
    if (m_process.hProcess && IsRunning()) {
        TerminateProcess(m_process.hProcess, 99);
        WaitForSingleObject(m_process.hProcess, 5000);
    }
    Close();
}

void CadStandin::Close() {
    if (m_process.hProcess)
        CloseHandle(m_process.hProcess);
    if (m_process.hThread)
        CloseHandle(m_process.hThread);
    m_process = {};
    if (m_output)
        CloseHandle(m_output);
    m_output = nullptr;
}

std::string CadStandin::Output() const {
    std::string text;
    for (const std::string& line : m_lines)
        text += line + "\n";
    return text;
}

}  // namespace testsupport
