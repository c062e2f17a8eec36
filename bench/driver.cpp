// Drives SetUp.exe and the bare program (bench/bare.cpp) from outside, the
// same way, in pairs, and prints for each figure the ratio SetUp.exe / bare
// program within a pair and each program's own times: median, interquartile
// range, min and max. An untimed warm-up pair comes first, and the program
// that starts a pair alternates from one pair to the next.
//
// With BENCH_BASELINE naming another SetUp.exe (a Windows path), each round
// runs that one too, as a third program in the same rotation, against the
// same bare program: two builds compared side by side under the same load.
// Each SetUp.exe then keeps its own %ProgramFiles%\Tovrel (moved aside
// while the other runs), so each finds only its own earlier installs.
//
// Every clock stops where the step is finished, seen the same way for both
// programs from this process:
//   dialog shown  the dialog is visible, neither it nor any of its controls
//                 has anything left to paint, and afterwards its thread has
//                 answered a sent WM_NULL (so the last WM_PAINT has returned);
//   install done  the completion view's button is visible and afterwards the
//                 dialog's thread has answered a sent WM_NULL: the Install
//                 handler has returned, with the window in its final state;
//   exit          the process has ended.
// Between those signals this process polls every millisecond; both programs
// pay the same polling.
//
//   bench_driver.exe install FILES BYTES ROUNDS GOAL   Install press -> install done, against the copy floor
//   bench_driver.exe reinstall FILES BYTES ROUNDS GOAL the same, each over an earlier install of its own
//   bench_driver.exe e2e FILES BYTES ROUNDS GOAL       start -> dialog shown -> install done -> exit,
//                                                      against the bare program doing the whole job;
//                                                      SetUp.exe's peak working set is held to within
//                                                      1 MiB of the bare job's
//   bench_driver.exe e2e-own FILES BYTES ROUNDS GOAL   the same, the first install on a machine whose CAD
//                                                      folders hold their own fonts and DLLs, which
//                                                      SetUp.exe saves before it replaces them
// GOAL is the highest median ratio that meets the figure's goal.
//   bench_driver.exe remove FILES BYTES ROUNDS GOAL    the removal of an end-to-end install by SetUp.exe
//                                                      (made untimed before each run): Yes pressed ->
//                                                      the box that tells the outcome is shown, against
//                                                      the bare program deleting the same files,
//                                                      folders and keys by name
//   bench_driver.exe dialog ROUNDS                start -> dialog shown
//   bench_driver.exe scan ROUNDS KEYS...          what a registry tree adds to start -> dialog shown

#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const char kDialogCaption[] = "T-批打印软件安装";
const char kCadRoot[] = "SOFTWARE\\Gstarsoft";
const char kProfile[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\Main\\";
const char kTreeRoot[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Tree";
const char kSubFolder[] = "\\T-VazivIvir";
const DWORD kTimeoutMs = 120000;
const double kPeakAllowanceKiB = 1024;

// The plug-in's own files, beside the filler files of the end-to-end
// package, and where each of them goes besides the install folder.
struct CPluginFile {
    const char* name;
    bool intoInstallFolder;
    const char* elsewhere;  // "settings", "fonts", "cad" or nullptr
};
const CPluginFile kPluginFiles[] = {
    {"TR_VazivIvir2023.GRX", true, nullptr}, {"Tovrel.Ini", false, "settings"}, {"Tovrel_EN.shx", false, "fonts"},
    {"Tovrel_HZ.shx", false, "fonts"},       {"itextsharp.dll", true, "cad"},   {"GCAD2024P.dll", true, "cad"},
    {"Tovrel.prt5", false, nullptr},
};

enum Program { kSetup, kBare, kBaseline };

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench: %s\n", what.c_str());
    std::fflush(stderr);
    std::exit(1);
}

// Polls every millisecond; false after the timeout.
bool PollUntil(const std::function<bool()>& done, DWORD ms = kTimeoutMs) {
    const double end = NowMs() + ms;
    while (!done()) {
        if (NowMs() > end)
            return false;
        Sleep(1);
    }
    return true;
}

// The median, the quartiles (linear between order statistics) and the
// extremes of a set of figures.
struct CSpread {
    explicit CSpread(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        auto at = [&](double q) {
            const double position = q * static_cast<double>(values.size() - 1);
            const size_t below = static_cast<size_t>(position);
            const size_t above = std::min(below + 1, values.size() - 1);
            return values[below] + (position - static_cast<double>(below)) * (values[above] - values[below]);
        };
        min = values.front();
        q1 = at(0.25);
        median = at(0.5);
        q3 = at(0.75);
        max = values.back();
    }
    double min, q1, median, q3, max;
};

// "median [q1-q3] (min-max)", each with the given number of decimals.
std::string Describe(const std::vector<double>& values, int decimals, const char* unit = "") {
    const CSpread s(values);
    char text[160];
    std::snprintf(text, sizeof(text), "%.*f%s [IQR %.*f-%.*f] (%.*f-%.*f)", decimals, s.median, unit, decimals, s.q1,
                  decimals, s.q3, decimals, s.min, decimals, s.max);
    return text;
}

void PrintFigure(const std::string& figure,
                 const std::vector<double>& ratios,
                 const std::vector<double>& setup,
                 const std::string& bareName,
                 const std::vector<double>& bare,
                 const char* unit = " ms") {
    std::printf("%-40s ratio %s, %zu rounds\n", figure.c_str(), Describe(ratios, 2).c_str(), ratios.size());
    std::printf("    SetUp.exe %s; %s %s\n", Describe(setup, 1, unit).c_str(), bareName.c_str(),
                Describe(bare, 1, unit).c_str());
    std::fflush(stdout);
}

std::vector<double> Ratios(const std::vector<double>& setup, const std::vector<double>& bare) {
    std::vector<double> ratios;
    for (size_t i = 0; i < setup.size(); ++i)
        ratios.push_back(setup[i] / bare[i]);
    return ratios;
}

// The order of a pair: the warm-up (pair 0) starts with SetUp.exe, and the
// first program alternates from there; a baseline takes its turn as third.
std::vector<Program> OrderOfPair(int pair, bool baseline) {
    std::vector<Program> order =
        baseline ? std::vector<Program>{kSetup, kBaseline, kBare} : std::vector<Program>{kSetup, kBare};
    std::rotate(order.begin(), order.begin() + pair % order.size(), order.end());
    return order;
}

std::string Baseline() {
    const char* path = std::getenv("BENCH_BASELINE");
    return path ? path : "";
}

// The dialog and every window below it. The list is taken once for a wait:
// each look at another process's window is a trip to the wineserver, on the
// CPU the program itself needs.
std::vector<HWND> WindowsOf(HWND dialog) {
    std::vector<HWND> windows{dialog};
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// True when none of the windows has an update region: every WM_PAINT they
// were due has at least begun. The dialog comes first and is painted first,
// so while it waits one look is enough.
bool NothingToPaint(const std::vector<HWND>& windows) {
    for (HWND window : windows) {
        if (GetUpdateRect(window, nullptr, FALSE))
            return false;
    }
    return true;
}

// One run of either program, driven as a user would.
class CRun {
  public:
    bool Start(const std::string& exe, const std::string& args) {
        m_started = NowMs();
        return m_process.Start(exe, args);
    }
    // Milliseconds from the start until the dialog is shown.
    double WaitForDialog() {
        if (!PollUntil([&] {
                m_dialog = nullptr;
                while ((m_dialog = FindWindowExA(nullptr, m_dialog, "#32770", kDialogCaption))) {
                    DWORD owner = 0;
                    GetWindowThreadProcessId(m_dialog, &owner);
                    if (owner == m_process.Id())
                        return IsWindowVisible(m_dialog) != FALSE;
                }
                return false;
            }))
            Fail("no dialog appeared");
        WaitPainted();
        return NowMs() - m_started;
    }
    void SetFolder(const std::string& folder) {
        SendMessageA(GetDlgItem(m_dialog, IDC_INSTALL_PATH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
        WaitPainted();
    }
    // Milliseconds from the Install press until the install is done.
    double Install() {
        HWND ok = GetDlgItem(m_dialog, IDOK);
        const double pressed = NowMs();
        PostMessageA(GetDlgItem(m_dialog, IDC_INSTALL), BM_CLICK, 0, 0);
        if (!PollUntil([&] { return IsWindowVisible(ok) != FALSE; }))
            Fail("the install did not complete");
        Answered();
        return NowMs() - pressed;
    }
    // Returns once the dialog shows what it holds: the first answer comes
    // after the change that left something to paint, the second after the
    // last paint has returned.
    void WaitPainted() {
        Answered();
        const std::vector<HWND> windows = WindowsOf(m_dialog);
        if (!PollUntil([&] { return NothingToPaint(windows); }))
            Fail("the dialog is never painted");
        Answered();
    }
    // Peak working set so far, in KiB.
    double PeakKiB() const {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        if (!GetProcessMemoryInfo(m_process.Handle(), &counters, sizeof(counters)))
            return 0;
        return static_cast<double>(counters.PeakWorkingSetSize) / 1024;
    }
    // Presses a button that ends the program; milliseconds from the start
    // until the process has ended.
    double Close(int button) {
        PostMessageA(GetDlgItem(m_dialog, button), BM_CLICK, 0, 0);
        if (!m_process.Wait(kTimeoutMs))
            Fail("the program did not end");
        return NowMs() - m_started;
    }

  private:
    // A sent message is handled only when the thread looks for messages
    // again: its answer means that whatever the thread was doing has ended.
    void Answered() {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(m_dialog, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &result))
            Fail("the dialog does not answer");
    }

    ChildProcess m_process;
    HWND m_dialog = nullptr;
    double m_started = 0;
};

// SetUp.exe and the bare program beside a package, a CAD folder with its
// Fonts folder, and one 2025 profile naming it. Each program installs into
// a folder of its own.
class CBench {
  public:
    CBench() : m_root("bench"), m_baseline(!Baseline().empty()) {
        const std::string bin = ExeFolder();
        CreateDirectoryA(Setup().c_str(), nullptr);
        CreateDirectoryA(Data().c_str(), nullptr);
        if (m_baseline) {
            CreateDirectoryA((m_root / "base").c_str(), nullptr);
            CreateDirectoryA(Data(kBaseline).c_str(), nullptr);
            if (!CopyFileA(Baseline().c_str(), Exe(kBaseline).c_str(), FALSE))
                Fail("no baseline SetUp.exe at " + Baseline());
        }
        if (!MakeCadFolder(Cad()))
            Fail("no CAD stand-in in " + bin);
        if (!CopyFileA((bin + "\\SetUp.exe").c_str(), Exe(kSetup).c_str(), FALSE) ||
            !CopyFileA((bin + "\\bench_bare.exe").c_str(), Exe(kBare).c_str(), FALSE))
            Fail("no SetUp.exe or bench_bare.exe in " + bin);
        char appData[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableA("APPDATA", appData, sizeof(appData));
        if (length == 0 || length >= sizeof(appData))
            Fail("no APPDATA");
        m_settings = std::string(appData) + "\\Tovrel\\Tovrel.Ini";
        char programFiles[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles)))
            Fail("no Program Files folder");
        m_removal = std::string(programFiles) + "\\Tovrel";
        DeleteRegistryTree(kCadRoot);
        SetRegistryString(kProfile, "Location", Cad());
    }
    ~CBench() {
        if (m_baseline) {
            for (Program program : {kSetup, kBaseline})
                RemoveTree(m_removal + "." + std::to_string(program));
        }
        DeleteRegistryTree(kCadRoot);
        if (m_plugin)
            RemovePluginFiles();
        // What the last install left for its removal: an uninstaller left in
        // the prefix is a program someone may take for the setup's.
        RemoveTree(m_removal);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE,
                        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir", KEY_WOW64_64KEY,
                        0);
    }

    std::string Setup() const { return m_root / "setup"; }
    // The package beside each program; the baseline has a folder of its own.
    std::string Data(Program program = kSetup) const {
        return m_root / (program == kBaseline ? "base\\Data" : "setup\\Data");
    }
    std::string Cad() const { return m_root / "cad"; }
    std::string Exe(Program program) const {
        return m_root / (program == kSetup  ? "setup\\SetUp.exe"
                         : program == kBare ? "setup\\bench_bare.exe"
                                            : "base\\SetUp.exe");
    }
    bool HasBaseline() const { return m_baseline; }
    std::string Uninstaller() const { return m_removal + "\\Uninstall.exe"; }
    // Each removal hands the uninstaller to the restart: the list starts
    // empty for every run, the same for both programs.
    static void ClearPendingRenames() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                          &key) != ERROR_SUCCESS)
            return;
        RegDeleteValueA(key, "PendingFileRenameOperations");
        RegDeleteValueA(key, "PendingFileRenameOperations2");
        RegCloseKey(key);
    }
    // Never take a removal that told success for one: the install folder,
    // the plug-in's files elsewhere and the load entries are gone.
    void CheckRemoved() const {
        if (GetFileAttributesA((Folder(kSetup) + kSubFolder).c_str()) != INVALID_FILE_ATTRIBUTES)
            Fail("the removal left the install folder");
        for (const CPluginFile& file : kPluginFiles) {
            if (file.elsewhere && GetFileAttributesA(PluginTarget(file).c_str()) != INVALID_FILE_ATTRIBUTES)
                Fail("the removal left " + PluginTarget(file));
        }
        DWORD type = REG_NONE;
        std::string value;
        if (ReadRegistryValue(std::string(kProfile) + "Applications\\TR_VazivIvir2025", "LOADER", &type, &value))
            Fail("the removal left the load entries");
    }
    // The folder typed into the dialog; the program installs into its
    // T-VazivIvir sub-folder.
    std::string Folder(Program program) const {
        return m_root / (program == kSetup ? "setup-install" : program == kBare ? "bare-install" : "base-install");
    }
    // Each SetUp.exe's own uninstaller, record and entry, in place while it
    // runs and aside while another does.
    void PutRemovalFolder(Program program, bool inPlace) const {
        if (!m_baseline || program == kBare)
            return;
        const std::string aside = m_removal + "." + std::to_string(program);
        if (inPlace)
            MoveFileExA(aside.c_str(), m_removal.c_str(), 0);
        else if (!MoveFileExA(m_removal.c_str(), aside.c_str(), 0) && GetLastError() != ERROR_FILE_NOT_FOUND)
            Fail("cannot move " + m_removal + " aside");
    }

    // files filler files of bytes bytes each, and with plugin the plug-in's
    // own files of the same size.
    void WritePackage(int files, size_t bytes, bool plugin) {
        for (int i = 0; i < files; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "file%04d.dat", i);
            WritePackageFile(name, bytes, static_cast<char>('a' + i % 26));
        }
        if (plugin) {
            for (const CPluginFile& file : kPluginFiles)
                WritePackageFile(file.name, bytes, 'p');
        }
        m_bytes = bytes;
        m_plugin = plugin;
    }

    // A run from nothing installed: none of the program's files, no load
    // entries, none of the plug-in's files outside the install folder. Over
    // an earlier install nothing is cleaned: each program finds its own.
    void Clean(Program program) {
        RemoveTree(Folder(program));
        DeleteRegistryTree(std::string(kProfile) + "Applications");
        if (m_plugin && !m_cadOwnFiles)
            RemovePluginFiles();
        if (m_plugin && m_cadOwnFiles) {
            for (const CPluginFile& file : kPluginFiles) {
                if (file.elsewhere && std::string(file.elsewhere) != "settings" &&
                    !testsupport::WriteFile(PluginTarget(file), std::string(m_bytes, 'c')))
                    Fail("cannot write the CAD's own " + std::string(file.name));
            }
            // No earlier install: no record, no saved copies, no uninstaller.
            if (program != kBare)
                RemoveTree(m_baseline ? m_removal + "." + std::to_string(program) : m_removal);
        }
    }
    // Every run finds the plug-in's fonts and DLLs in the CAD folders as
    // the CAD's own, and no earlier install.
    void KeepCadOwnFiles() { m_cadOwnFiles = true; }

    void Start(CRun& run, Program program, const char* bareMode) const {
        if (!run.Start(Exe(program), program == kSetup ? "" : bareMode))
            Fail("cannot start " + Exe(program));
    }

    // Never take a run that ended for success: every file must be where it
    // belongs, whole, and with the plug-in's files the load entries too.
    void CheckInstalled(Program program, bool wholeJob) const {
        const std::string folder = Folder(program) + kSubFolder;
        for (const std::string& name : m_fillers)
            CheckFile(folder + "\\" + name);
        if (!m_plugin)
            return;
        for (const CPluginFile& file : kPluginFiles) {
            if (file.intoInstallFolder)
                CheckFile(folder + "\\" + file.name);
        }
        if (!wholeJob)
            return;
        for (const CPluginFile& file : kPluginFiles) {
            if (file.elsewhere)
                CheckFile(PluginTarget(file));
        }
        const std::string applications = std::string(kProfile) + "Applications\\";
        CheckValue(applications + "TR_VazivIvir2025", "MANAGED", REG_DWORD, Dword(0));
        CheckValue(applications + "TR_VazivIvir2025", "LOADER", REG_SZ,
                   std::string(folder + "\\TR_VazivIvir2023.GRX") + '\0');
        CheckValue(applications + "Tovrel2025DLLP", "LOADCTRLS", REG_DWORD, Dword(2));
        CheckValue(applications + "Tovrel2025DLLP", "LOADER", REG_SZ, Cad() + "\\GCAD2024P.dll" + '\0');
        CheckValue(applications + "Tovrel2025DLLP", "MANAGED", REG_DWORD, Dword(1));
    }

  private:
    void WritePackageFile(const std::string& name, size_t bytes, char fill) {
        if (!WriteFile(Data() + "\\" + name, std::string(bytes, fill)) ||
            (m_baseline && !WriteFile(Data(kBaseline) + "\\" + name, std::string(bytes, fill))))
            Fail("cannot write the package");
        if (name.compare(0, 4, "file") == 0)
            m_fillers.push_back(name);
    }
    std::string PluginTarget(const CPluginFile& file) const {
        const std::string where = file.elsewhere;
        if (where == "settings")
            return m_settings;
        return Cad() + (where == "fonts" ? "\\Fonts\\" : "\\") + file.name;
    }
    void RemovePluginFiles() const {
        for (const CPluginFile& file : kPluginFiles) {
            if (file.elsewhere)
                DeleteFileA(PluginTarget(file).c_str());
        }
    }
    void CheckFile(const std::string& path) const {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) || data.nFileSizeHigh != 0 ||
            data.nFileSizeLow != m_bytes)
            Fail("the install left " + path + " missing or cut");
    }
    static std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof(value)); }
    static void CheckValue(const std::string& key, const char* name, DWORD type, const std::string& expected) {
        DWORD actualType = REG_NONE;
        std::string actual;
        if (!ReadRegistryValue(key, name, &actualType, &actual) || actualType != type || actual != expected)
            Fail("the install did not register HKCU\\" + key + " " + name + " as expected");
    }

    ScratchFolder m_root;
    bool m_baseline;
    std::string m_removal;  // %ProgramFiles%\Tovrel
    std::vector<std::string> m_fillers;
    std::string m_settings;
    size_t m_bytes = 0;
    bool m_plugin = false;
    bool m_cadOwnFiles = false;
};

struct CInstallTimes {
    double work = 0;   // Install press -> install done
    double total = 0;  // start -> exit
    double peakKiB = 0;
};

CInstallTimes RunInstall(CBench& bench, Program program, bool endToEnd, bool over) {
    if (!over)
        bench.Clean(program);
    bench.PutRemovalFolder(program, true);
    CRun run;
    bench.Start(run, program, endToEnd ? "job" : "copy");
    run.WaitForDialog();
    run.SetFolder(bench.Folder(program));
    CInstallTimes times;
    times.work = run.Install();
    // A user sees the completion view before pressing its button.
    run.WaitPainted();
    times.peakKiB = run.PeakKiB();
    times.total = run.Close(IDOK);
    bench.PutRemovalFolder(program, false);
    bench.CheckInstalled(program, endToEnd);
    return times;
}

// Install work against the copy floor, or (e2e) the whole run against the
// bare program doing the whole job. Over an earlier install, the warm-up
// pair makes each program's first install into a folder of its own, and
// every later run finds its own program's last one.
int InstallFigure(bool endToEnd, bool over, bool cadOwnFiles, int files, size_t bytes, int rounds, double goal) {
    CBench bench;
    bench.WritePackage(files, bytes, endToEnd);
    if (cadOwnFiles)
        bench.KeepCadOwnFiles();
    std::vector<double> times[3], peaks[3];
    for (int pair = 0; pair <= rounds; ++pair) {
        CInstallTimes run[3];
        for (Program program : OrderOfPair(pair, bench.HasBaseline()))
            run[program] = RunInstall(bench, program, endToEnd, over);
        if (pair == 0)
            continue;
        for (Program program : {kSetup, kBare, kBaseline}) {
            times[program].push_back(endToEnd ? run[program].total : run[program].work);
            peaks[program].push_back(run[program].peakKiB);
        }
    }
    char figure[128];
    std::snprintf(figure, sizeof(figure), "%s, %d x %zu KiB:",
                  cadOwnFiles ? "end to end, over the CAD's own fonts and DLLs"
                  : endToEnd  ? "end to end"
                  : over      ? "install work, over an earlier install"
                              : "install work",
                  files, bytes / 1024);
    const char* bareName = endToEnd ? "bare job" : "copy floor";
    const std::vector<double> ratios = Ratios(times[kSetup], times[kBare]);
    PrintFigure(figure, ratios, times[kSetup], bareName, times[kBare]);
    std::printf("    peak working set: SetUp.exe %s; %s %s\n", Describe(peaks[kSetup], 0, " KiB").c_str(), bareName,
                Describe(peaks[kBare], 0, " KiB").c_str());
    if (bench.HasBaseline()) {
        std::printf("    baseline SetUp.exe: ratio %s; %s; peak working set %s\n",
                    Describe(Ratios(times[kBaseline], times[kBare]), 2).c_str(),
                    Describe(times[kBaseline], 1, " ms").c_str(), Describe(peaks[kBaseline], 0, " KiB").c_str());
    }
    const double median = CSpread(ratios).median;
    std::printf("    goal: ratio <= %.2f: %s\n", goal, median <= goal ? "met" : "NOT MET");
    if (endToEnd) {
        const double over = CSpread(peaks[kSetup]).median - CSpread(peaks[kBare]).median;
        std::printf("    goal: peak working set within %.0f KiB of the bare job's: %s (%+.0f KiB)\n", kPeakAllowanceKiB,
                    over <= kPeakAllowanceKiB ? "met" : "NOT MET", over);
    }
    std::fflush(stdout);
    return 0;
}

const char kBoxCaption[] = "T-软件安装";
const char kRemovedText[] = "批打印软件已卸载 !";

// The message box the process shows, other than skip; null after the timeout.
HWND WaitForBox(DWORD process, HWND skip) {
    HWND found = nullptr;
    PollUntil([&] {
        for (HWND box = nullptr; (box = FindWindowExA(nullptr, box, "#32770", kBoxCaption));) {
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            if (owner == process && box != skip && IsWindowVisible(box) && GetDlgItem(box, 0xFFFF)) {
                found = box;
                return true;
            }
        }
        return false;
    });
    return found;
}

// One removal: Yes pressed -> the outcome's box shown and its thread idle.
double RunRemoval(CBench& bench, Program program) {
    bench.ClearPendingRenames();
    ChildProcess process;
    const bool started = program == kSetup ? process.Start(bench.Uninstaller())
                                           : process.Start(bench.Exe(kBare), "remove \"" + bench.Folder(kSetup) + "\"");
    if (!started)
        Fail("cannot start the removal");
    const HWND question = WaitForBox(process.Id(), nullptr);
    if (!question)
        Fail("no question before the removal");
    const double pressed = NowMs();
    PostMessageA(GetDlgItem(question, IDYES), BM_CLICK, 0, 0);
    const HWND told = WaitForBox(process.Id(), question);
    DWORD_PTR result = 0;
    if (!told || !SendMessageTimeoutA(told, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &result))
        Fail("the removal told nothing");
    const double ms = NowMs() - pressed;
    char text[256] = {};
    GetDlgItemTextA(told, 0xFFFF, text, sizeof(text));
    if (std::string(text) != kRemovedText)
        Fail(std::string("the removal told: ") + text);
    PostMessageA(GetDlgItem(told, IDOK), BM_CLICK, 0, 0);
    if (!process.Wait(kTimeoutMs))
        Fail("the removal did not end");
    bench.CheckRemoved();
    return ms;
}

// Each run removes an end-to-end install that SetUp.exe made just before,
// untimed, into the same folder for both programs.
int RemovalFigure(int files, size_t bytes, int rounds, double goal) {
    CBench bench;
    bench.WritePackage(files, bytes, true);
    std::vector<double> times[2];
    for (int pair = 0; pair <= rounds; ++pair) {
        double ms[2] = {};
        for (Program program : OrderOfPair(pair, false)) {
            RunInstall(bench, kSetup, true, false);
            // A baseline's runs of the install figures keep it aside.
            bench.PutRemovalFolder(kSetup, true);
            ms[program] = RunRemoval(bench, program);
            bench.PutRemovalFolder(kSetup, false);
        }
        if (pair == 0)
            continue;
        for (Program program : {kSetup, kBare})
            times[program].push_back(ms[program]);
    }
    char figure[128];
    std::snprintf(figure, sizeof(figure), "removal, %d x %zu KiB:", files, bytes / 1024);
    const std::vector<double> ratios = Ratios(times[kSetup], times[kBare]);
    PrintFigure(figure, ratios, times[kSetup], "bare removal", times[kBare]);
    const double median = CSpread(ratios).median;
    std::printf("    goal: ratio <= %.2f: %s\n", goal, median <= goal ? "met" : "NOT MET");
    std::fflush(stdout);
    return 0;
}

double TimeToDialog(CBench& bench, Program program) {
    CRun run;
    bench.Start(run, program, "copy");
    const double ms = run.WaitForDialog();
    run.Close(IDCANCEL);
    return ms;
}

// Start -> dialog shown for both programs, after a warm-up pair, in rounds
// pairs of alternating order.
void TimeDialogs(CBench& bench, int rounds, std::vector<double>* setup, std::vector<double>* bare) {
    for (int pair = 0; pair <= rounds; ++pair) {
        double ms[3];
        for (Program program : OrderOfPair(pair, false))
            ms[program] = TimeToDialog(bench, program);
        if (pair == 0)
            continue;
        setup->push_back(ms[kSetup]);
        bare->push_back(ms[kBare]);
    }
}

int DialogFigure(int rounds) {
    CBench bench;
    std::vector<double> setup, bare;
    TimeDialogs(bench, rounds, &setup, &bare);
    PrintFigure("start -> dialog shown:", Ratios(setup, bare), setup, "bare dialog program", bare);
    return 0;
}

// A tree of keys keys below the 2025 release, none holding "Location", so
// that both walks open every one: branches of fifty leaves.
void MakeTree(int keys) {
    DeleteRegistryTree(kTreeRoot);
    const int branches = std::max(1, keys / 50);
    for (int i = 0; i < keys - branches; ++i) {
        const std::string path =
            std::string(kTreeRoot) + "\\B" + std::to_string(i % branches) + "\\L" + std::to_string(i / branches);
        HKEY key = nullptr;
        if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS)
            Fail("cannot make the registry tree");
        RegCloseKey(key);
    }
}

// The scan is what a tree adds to start -> dialog shown, for each program:
// (SetUp(N) - SetUp(0)) / (bare(N) - bare(0)), against the medians without
// the tree.
int ScanFigure(int rounds, const std::vector<int>& sizes) {
    CBench bench;
    std::vector<double> setup0, bare0;
    TimeDialogs(bench, rounds, &setup0, &bare0);
    const double setupBase = CSpread(setup0).median;
    const double bareBase = CSpread(bare0).median;
    for (int keys : sizes) {
        MakeTree(keys);
        std::vector<double> setup, bare, ratios, setupPerKey, barePerKey;
        TimeDialogs(bench, rounds, &setup, &bare);
        for (size_t i = 0; i < setup.size(); ++i) {
            ratios.push_back((setup[i] - setupBase) / (bare[i] - bareBase));
            setupPerKey.push_back(1000 * (setup[i] - setupBase) / keys);
            barePerKey.push_back(1000 * (bare[i] - bareBase) / keys);
        }
        char figure[64];
        std::snprintf(figure, sizeof(figure), "start-up scan, %d keys:", keys);
        PrintFigure(figure, ratios, setupPerKey, "bare walk", barePerKey, " us a key");
        DeleteRegistryTree(kTreeRoot);
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_driver install|reinstall|e2e|e2e-own|remove FILES BYTES ROUNDS GOAL\n"
                 "       bench_driver dialog ROUNDS\n"
                 "       bench_driver scan ROUNDS KEYS...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string figure = argc > 1 ? argv[1] : "";
    if ((figure == "install" || figure == "reinstall" || figure == "e2e" || figure == "e2e-own") && argc == 6 &&
        std::atoi(argv[4]) > 0)
        return InstallFigure(figure == "e2e" || figure == "e2e-own", figure == "reinstall", figure == "e2e-own",
                             std::atoi(argv[2]), std::strtoul(argv[3], nullptr, 10), std::atoi(argv[4]),
                             std::atof(argv[5]));
    if (figure == "remove" && argc == 6 && std::atoi(argv[4]) > 0)
        return RemovalFigure(std::atoi(argv[2]), std::strtoul(argv[3], nullptr, 10), std::atoi(argv[4]),
                             std::atof(argv[5]));
    if (figure == "dialog" && argc == 3 && std::atoi(argv[2]) > 0)
        return DialogFigure(std::atoi(argv[2]));
    if (figure == "scan" && argc >= 4 && std::atoi(argv[2]) > 0) {
        std::vector<int> sizes;
        for (int i = 3; i < argc; ++i)
            sizes.push_back(std::atoi(argv[i]));
        return ScanFigure(std::atoi(argv[2]), sizes);
    }
    return Usage();
}
