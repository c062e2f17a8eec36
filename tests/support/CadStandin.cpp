#include "tests/support/CadStandin.h"

#include "tests/support/TestSupport.h"

namespace testsupport {

std::string CadStandinPath() {
    return ExeFolder() + "\\cad\\gcad.exe";
}

bool MakeCadFolder(const std::string& folder, bool fonts) {
    CreateDirectoryA(folder.c_str(), nullptr);
    if (fonts)
        CreateDirectoryA((folder + "\\Fonts").c_str(), nullptr);
    return CopyFileA(CadStandinPath().c_str(), (folder + "\\gcad.exe").c_str(), FALSE) != FALSE;
}

std::string SamplePackageFolder() {
    const std::string bin = ExeFolder();
    const size_t slash = bin.find_last_of('\\');
    return (slash == std::string::npos ? bin : bin.substr(0, slash)) + "\\package";
}

std::string FixtureModuleFolder() {
    return ExeFolder() + "\\cad\\modules";
}

bool CadStandin::Start(const std::string& profileKey, bool stay) {
    return StartWithArguments((stay ? "--stay " : "") + QuoteArgument(profileKey));
}

bool CadStandin::StartWithArguments(const std::string& arguments) {
    return m_process.Start(CadStandinPath(), arguments, "", true);
}

bool CadStandin::HasFinalLine() const {
    for (const std::string& line : Lines()) {
        if (line.compare(0, 5, "done\t") == 0 || line.compare(0, 11, "no profile\t") == 0)
            return true;
    }
    return false;
}

bool CadStandin::WaitForReport(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        const bool open = m_process.ReadAvailable();
        if (HasFinalLine())
            return true;
        if (!open || !IsRunning()) {
            m_process.ReadAvailable();
            return HasFinalLine();
        }
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(5);
    }
}

bool CadStandin::WaitForExit(DWORD ms, DWORD* exitCode) {
    return m_process.Handle() && m_process.Wait(ms, exitCode);
}

}  // namespace testsupport
