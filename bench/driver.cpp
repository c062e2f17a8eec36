// Drives SetUp.exe and the bare program (bench/bare.cpp) from outside, the
// same way, alternately, and prints the ratio of their times. Timing is what
// this process sees: a press is posted, then the window it waits for is
// polled every millisecond. Both programs pay the same polling.
//
//   bench_driver.exe install FILES BYTES ROUNDS   Install press -> completion view
//   bench_driver.exe reinstall FILES BYTES ROUNDS the same over the files of an earlier run
//   bench_driver.exe e2e FILES BYTES ROUNDS       process start -> install done -> exit
//   bench_driver.exe dialog ROUNDS                process start -> dialog visible
//   bench_driver.exe scan ROUNDS KEYS...          start-up scan against a bare walk

#include <windows.h>
#include <psapi.h>

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
bool PollUntil(const std::function<bool()>& done, DWORD ms = 120000) {
    const double end = NowMs() + ms;
    while (!done()) {
        if (NowMs() > end)
            return false;
        Sleep(1);
    }
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintRatio(const std::string& figure, const std::vector<double>& ratios) {
    std::printf("%-44s ratio median %.2f (min %.2f, max %.2f), %zu rounds\n", figure.c_str(), Median(ratios),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
                ratios.size());
    std::fflush(stdout);
}

// One run of either program, driven as a user would.
class CRun {
  public:
    bool Start(const std::string& exe, const std::string& args) {
        m_started = NowMs();
        return m_process.Start(exe, args);
    }
    // Milliseconds from the start until the dialog is visible.
    double WaitForDialog() {
        if (!PollUntil([&] {
                m_dialog = FindWindowA("#32770", kDialogCaption);
                DWORD owner = 0;
                if (m_dialog)
                    GetWindowThreadProcessId(m_dialog, &owner);
                return m_dialog && owner == m_process.Id() && IsWindowVisible(m_dialog);
            }))
            Fail("no dialog appeared");
        return NowMs() - m_started;
    }
    void SetFolder(const std::string& folder) {
        SendMessageA(GetDlgItem(m_dialog, IDC_INSTALL_PATH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    }
    // Milliseconds from the Install press until the completion view.
    double Install() {
        HWND ok = GetDlgItem(m_dialog, IDOK);
        const double pressed = NowMs();
        PostMessageA(GetDlgItem(m_dialog, IDC_INSTALL), BM_CLICK, 0, 0);
        if (!PollUntil([&] { return IsWindowVisible(ok) != FALSE; }))
            Fail("the install did not complete");
        return NowMs() - pressed;
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
        if (!m_process.Wait(60000))
            Fail("the program did not end");
        return NowMs() - m_started;
    }

  private:
    ChildProcess m_process;
    HWND m_dialog = nullptr;
    double m_started = 0;
};

// SetUp.exe beside a package, the bare program beside it, a CAD folder and
// one 2025 profile naming it.
class CBench {
  public:
    CBench() : m_root("bench") {
        const std::string bin = ExeFolder();
        CreateDirectoryA(Setup().c_str(), nullptr);
        CreateDirectoryA(Data().c_str(), nullptr);
        CreateDirectoryA(Cad().c_str(), nullptr);
        CreateDirectoryA((Cad() + "\\Fonts").c_str(), nullptr);
        if (!CopyFileA((bin + "\\SetUp.exe").c_str(), SetupExe().c_str(), FALSE))
            Fail("no SetUp.exe in " + bin);
        m_bare = bin + "\\bench_bare.exe";
        DeleteRegistryTree(kCadRoot);
        SetRegistryString(kProfile, "Location", Cad());
    }
    ~CBench() { DeleteRegistryTree(kCadRoot); }

    std::string Setup() const { return m_root / "setup"; }
    std::string Data() const { return m_root / "setup\\Data"; }
    std::string Cad() const { return m_root / "cad"; }
    std::string SetupExe() const { return m_root / "setup\\SetUp.exe"; }
    // SetUp.exe installs into <folder>\T-VazivIvir.
    std::string SetupFolder() const { return m_root / "install"; }
    std::string FloorTarget() const { return m_root / "floor\\T-VazivIvir"; }

    void WritePackage(int files, size_t bytes) {
        for (int i = 0; i < files; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "\\file%04d.dat", i);
            if (!WriteFile(Data() + name, std::string(bytes, static_cast<char>('a' + i % 26))))
                Fail("cannot write the package");
        }
        m_files = files;
    }

    // Every run starts from nothing registered and, unless over, nothing
    // installed.
    void Clean(bool over) {
        if (!over) {
            RemoveTree(SetupFolder());
            RemoveTree(m_root / "floor");
        }
        DeleteRegistryTree(std::string(kProfile) + "Applications");
    }

    void StartSetup(CRun& run) const {
        if (!run.Start(SetupExe(), ""))
            Fail("cannot start SetUp.exe");
    }
    void StartBare(CRun& run, const char* mode) const {
        const std::string args =
            std::string(mode) + " \"" + Data() + "\" \"" + FloorTarget() + "\" \"" + kProfile + "\"";
        if (!run.Start(m_bare, args))
            Fail("cannot start bench_bare.exe");
    }

    // Never take a run that ended for success: the files must be there.
    void CheckInstalled(const std::string& folder) const {
        if (static_cast<int>(FolderNames(folder).size()) != m_files)
            Fail("the install into " + folder + " is incomplete");
    }

  private:
    ScratchFolder m_root;
    std::string m_bare;
    int m_files = 0;
};

struct CInstallTimes {
    double work = 0;
    double total = 0;
    double peakKiB = 0;
};

CInstallTimes RunInstall(CBench& bench, bool setup, bool endToEnd, bool over) {
    bench.Clean(over);
    CRun run;
    if (setup) {
        bench.StartSetup(run);
    } else {
        bench.StartBare(run, endToEnd ? "job" : "copy");
    }
    run.WaitForDialog();
    run.SetFolder(bench.SetupFolder());
    CInstallTimes times;
    times.work = run.Install();
    times.peakKiB = run.PeakKiB();
    times.total = run.Close(IDOK);
    bench.CheckInstalled(setup ? bench.SetupFolder() + "\\T-VazivIvir" : bench.FloorTarget());
    return times;
}

// Install work against the copy floor, or (e2e) the whole run against the
// bare program doing the same job.
int InstallFigure(bool endToEnd, bool over, int files, size_t bytes, int rounds) {
    CBench bench;
    bench.WritePackage(files, bytes);
    if (over) {
        RunInstall(bench, true, false, false);
        RunInstall(bench, false, false, false);
    }
    std::vector<double> ratios, setupTimes, bareTimes, setupPeak, barePeak;
    for (int round = 0; round < rounds; ++round) {
        const CInstallTimes setup = RunInstall(bench, true, endToEnd, over);
        const CInstallTimes bare = RunInstall(bench, false, endToEnd, over);
        const double a = endToEnd ? setup.total : setup.work;
        const double b = endToEnd ? bare.total : bare.work;
        ratios.push_back(a / b);
        setupTimes.push_back(a);
        bareTimes.push_back(b);
        setupPeak.push_back(setup.peakKiB);
        barePeak.push_back(bare.peakKiB);
    }
    char figure[96];
    std::snprintf(figure, sizeof(figure), "%s, %d x %zu KiB:",
                  endToEnd ? "end to end"
                  : over   ? "install work over an earlier install"
                           : "install work",
                  files, bytes / 1024);
    PrintRatio(figure, ratios);
    std::printf("    SetUp.exe %.1f ms, %s %.1f ms (medians)\n", Median(setupTimes),
                endToEnd ? "bare program" : "copy floor", Median(bareTimes));
    if (!endToEnd) {
        std::printf("    peak working set during the install: SetUp.exe %.0f KiB, bare program %.0f KiB\n",
                    Median(setupPeak), Median(barePeak));
    }
    return 0;
}

double TimeToDialog(CBench& bench, bool setup) {
    CRun run;
    if (setup) {
        bench.StartSetup(run);
    } else {
        bench.StartBare(run, "copy");
    }
    const double ms = run.WaitForDialog();
    run.Close(IDCANCEL);
    return ms;
}

// Start -> dialog visible for both programs, rounds times alternated.
void TimeDialogs(CBench& bench, int rounds, std::vector<double>* setup, std::vector<double>* bare) {
    for (int round = 0; round < rounds; ++round) {
        setup->push_back(TimeToDialog(bench, true));
        bare->push_back(TimeToDialog(bench, false));
    }
}

int DialogFigure(int rounds) {
    CBench bench;
    std::vector<double> setup, bare, ratios;
    TimeDialogs(bench, rounds, &setup, &bare);
    for (size_t i = 0; i < setup.size(); ++i)
        ratios.push_back(setup[i] / bare[i]);
    PrintRatio("start -> dialog visible:", ratios);
    std::printf("    SetUp.exe %.1f ms, bare dialog program %.1f ms (medians)\n", Median(setup), Median(bare));
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

// The scan is what a tree adds to start -> dialog visible, for each
// program: (SetUp(N) - SetUp(0)) / (bare(N) - bare(0)).
int ScanFigure(int rounds, const std::vector<int>& sizes) {
    CBench bench;
    std::vector<double> setup0, bare0;
    TimeDialogs(bench, rounds, &setup0, &bare0);
    const double setupBase = Median(setup0);
    const double bareBase = Median(bare0);
    for (int keys : sizes) {
        MakeTree(keys);
        std::vector<double> setup, bare, ratios;
        TimeDialogs(bench, rounds, &setup, &bare);
        for (size_t i = 0; i < setup.size(); ++i)
            ratios.push_back((setup[i] - setupBase) / (bare[i] - bareBase));
        char figure[64];
        std::snprintf(figure, sizeof(figure), "start-up scan, %d keys:", keys);
        PrintRatio(figure, ratios);
        std::printf("    SetUp.exe %.1f us a key, bare walk %.1f us a key (medians)\n",
                    1000 * (Median(setup) - setupBase) / keys, 1000 * (Median(bare) - bareBase) / keys);
        DeleteRegistryTree(kTreeRoot);
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_driver install|reinstall|e2e FILES BYTES ROUNDS\n"
                 "       bench_driver dialog ROUNDS\n"
                 "       bench_driver scan ROUNDS KEYS...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string figure = argc > 1 ? argv[1] : "";
    if ((figure == "install" || figure == "reinstall" || figure == "e2e") && argc == 5)
        return InstallFigure(figure == "e2e", figure == "reinstall", std::atoi(argv[2]),
                             std::strtoul(argv[3], nullptr, 10), std::atoi(argv[4]));
    if (figure == "dialog" && argc == 3)
        return DialogFigure(std::atoi(argv[2]));
    if (figure == "scan" && argc >= 4) {
        std::vector<int> sizes;
        for (int i = 3; i < argc; ++i)
            sizes.push_back(std::atoi(argv[i]));
        return ScanFigure(std::atoi(argv[2]), sizes);
    }
    return Usage();
}
