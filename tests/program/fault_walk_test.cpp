// Every registry, file and process call that a default install makes is
// failed once, one install per call: SetUpFaults.exe (the program plus the
// fault seam) is driven from here as a user would, and each run is checked
// for a crash or hang, a leaked handle, a change outside the install set,
// and an honest outcome: the completion view with every lost item told (the
// copy prompt or the failure list), or the dialog ended by the missing
// package message. The walk counts the calls of a clean install at run time,
// so calls that a change adds or removes are walked without touching this
// test.

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "removal/RecordStore.h"
#include "framework/Handle.h"
#include "tests/seam/FaultSeam.h"
#include "res/resource.h"
#include "tests/support/InstallWorld.h"
#include "tests/support/SeamView.h"

using namespace testsupport;

namespace {

constexpr char kEntryKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir";
constexpr char kEntryName[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir";
constexpr char kMissingPackage[] = "未找到安装所需的Data文件夹";
constexpr char kUnfinishedHeading[] = "以下项目未能完成";
// One install, prompts answered, well within this; more is a hang.
constexpr DWORD kRunLimitMs = 30000;

// Path (files), or registry entries as RegistrySnapshot names them -> what is there.
using Snapshot = std::map<std::string, std::string>;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return Lower(text).compare(0, prefix.size(), Lower(prefix)) == 0;
}

void SnapshotFolder(const std::string& folder, bool recurse, Snapshot& out) {
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        const std::string path = folder + "\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[path] = "folder";
            // Wine links the profile's Desktop and Documents to the Linux
            // home folder: a link is noted, not followed.
            if (recurse && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                SnapshotFolder(path, true, out);
        } else {
            out[path] =
                std::to_string(entry.dwFileAttributes) + ":" + std::to_string(std::hash<std::string>()(ReadFile(path)));
        }
    });
}

// Where the install leaves the uninstaller and its record.
std::string RemovalFolder() {
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path);
    return std::string(path) + "\\Tovrel";
}

// The current user's whole registry and the files a user's session can see
// change: the profile folders (temp, roaming, where the CAD folders and the
// setup folder of this test live) and the top of drive C; and what the
// install leaves for its removal. The record's stamps and the entry's size
// and date follow what was placed, which the walk checks file by file:
// only that they are there counts, and whether the record is whole.
Snapshot TakeSnapshot() {
    Snapshot snapshot;
    SnapshotKey(HKEY_CURRENT_USER, "HKCU", true, snapshot);
    SnapshotFolder("C:\\users", true, snapshot);
    SnapshotFolder("C:", false, snapshot);
    SnapshotFolder(kDefaultFolder, true, snapshot);
    SnapshotFolder(RemovalFolder(), true, snapshot);
    CRegKey entry;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ | KEY_WOW64_64KEY, entry.Receive()) == ERROR_SUCCESS)
        SnapshotKey(entry.Get(), kEntryName, true, snapshot);
    for (const std::string& derived :
         {std::string(kEntryName) + "|EstimatedSize", std::string(kEntryName) + "|InstallDate"}) {
        if (snapshot.count(derived))
            snapshot[derived] = "there";
    }
    // The record is there before the install places anything, naming only
    // what comes to the CAD folders and the default folder; once whole, it
    // names the install folder too.
    const std::string record = RemovalFolder() + "\\Uninstall.lst";
    if (snapshot.count(record))
        snapshot[record] =
            ReadFile(record).find("\\T-VazivIvir") != std::string::npos ? "there" : "named before placing";
    return snapshot;
}

std::vector<std::string> ChangedEntries(const Snapshot& before, const Snapshot& after) {
    std::vector<std::string> changed;
    for (const auto& [path, state] : before) {
        auto found = after.find(path);
        if (found == after.end() || found->second != state)
            changed.push_back(path);
    }
    for (const auto& [path, state] : after) {
        if (before.find(path) == before.end())
            changed.push_back(path);
    }
    return changed;
}

// What a box must name for a lost entry to count as told: the file's path,
// or the profile key under which a value went missing.
std::string ItemOf(const std::string& entry) {
    const std::string path = entry.substr(0, entry.find('|'));
    if (!StartsWith(path, "HKCU\\"))
        return path;
    const size_t applications = Lower(path).find("\\applications");
    return path.substr(5, applications == std::string::npos ? std::string::npos : applications - 5);
}

// The items a failure box names as not done, one a line after its heading.
std::vector<std::string> FailedItems(const std::vector<std::string>& boxes) {
    std::vector<std::string> items;
    for (const std::string& text : boxes) {
        if (text.rfind(kUnfinishedHeading, 0) != 0)
            continue;
        size_t start = text.find("\n\n");
        while (start != std::string::npos && start + 1 < text.size()) {
            const size_t end = text.find('\n', start + 1);
            const std::string line = text.substr(start + 1, end == std::string::npos ? end : end - start - 1);
            if (!line.empty() && line != "……")
                items.push_back(line);
            start = end;
        }
    }
    return items;
}

// The entries of a snapshot at and below a told item (a file, or a profile
// key named with its hive).
Snapshot EntriesOf(const Snapshot& snapshot, std::string item) {
    if (StartsWith(item, "HKEY_CURRENT_USER\\"))
        item = "HKCU" + item.substr(17);
    Snapshot entries;
    for (const auto& [path, state] : snapshot) {
        if (Lower(path) == Lower(item) || StartsWith(path, item + "\\") || StartsWith(path, item + "|"))
            entries[Lower(path)] = state;
    }
    return entries;
}

// The number of handles a process holds. GetProcessHandleCount on another
// process gives 0 under Wine; the system's handle table (as a process
// viewer reads it) is counted per owner instead. False if it cannot be read.
bool CountHandles(DWORD processId, DWORD* count) {
    struct CHandleEntry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT backTrace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    struct CHandleTable {
        ULONG_PTR count;
        ULONG_PTR reserved;
        CHandleEntry entries[1];
    };
    using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    static const auto query =
        reinterpret_cast<QueryFn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    constexpr int kSystemExtendedHandleInformation = 64;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<BYTE> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status =
            query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0)
            return false;
        break;
    }
    const auto* table = reinterpret_cast<const CHandleTable*>(buffer.data());
    *count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == processId)
            ++*count;
    }
    return *count > 0;
}

// The handles a process keeps: the fewest of a few looks. Wine's own code
// holds a registry key for a moment now and then while the dialog paints
// (one that is gone before it could be named); a leaked handle is there at
// every look.
bool CountKeptHandles(DWORD processId, DWORD* count) {
    bool counted = false;
    for (int look = 0; look < 3; ++look) {
        DWORD seen = 0;
        if (look > 0)
            Sleep(20);
        if (CountHandles(processId, &seen) && (!counted || seen < *count)) {
            *count = seen;
            counted = true;
        }
    }
    return counted;
}

template <size_t N>
void CopyName(char (&target)[N], const std::string& name) {
    target[name.copy(target, N - 1)] = '\0';
}

enum class End { kCompleted, kEnded, kHang };

struct RunResult {
    End end = End::kHang;
    // False when the program did not come up to its dialog with the seam
    // open: nothing of the walk ran.
    bool started = false;
    LONG calls = 0;
    std::string failedCall;
    std::string unhooked;
    // Calls per function in the order first made.
    std::vector<std::pair<std::string, LONG>> perCall;
    // The counted calls in their order, as indexes into perCall.
    std::vector<unsigned char> trace;
    DWORD handlesBefore = 0;
    DWORD handlesAfter = 0;
    bool handlesCounted = false;
    std::vector<std::string> boxes;
    Snapshot before;
    Snapshot after;
};

class FaultWalkTest : public ::testing::Test, protected InstallWorld {
  protected:
    FaultWalkTest() : InstallWorld("SetUpFaults.exe") {}

    const std::string settings = SettingsFolder();
    // Each run starts over an earlier install of other content, some of it
    // read-only: what a user who installs again has.
    bool overEarlierInstall = false;

    void TearDown() override {
        overEarlierInstall = false;
        ResetInstallSet();
    }

    // Back to the state before any install: no install folder, no settings,
    // no registration, CAD folders as the CAD left them. Another plug-in's
    // registration stays throughout: it is outside the install set.
    void ResetInstallSet() {
        RemoveInstall();
        RemoveTree(RemovalFolder());
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, KEY_WOW64_64KEY, 0);
        for (const char* profile : {kProfileA, kProfileB, kProfile2023})
            DeleteRegistryTree(std::string(profile) + "Applications");
        SetRegistryString(std::string(kProfileA) + "Applications\\OtherPlugin", "LOADER", "C:\\Other\\other.dll");
        MakeCadFolders();
        WriteFile(cadA + "\\GCAD2024P.dll", "the CAD's own older host DLL");
        if (overEarlierInstall)
            LayEarlierInstall();
    }

    void LayEarlierInstall() {
        const std::string folder = std::string(kDefaultFolder) + "\\T-VazivIvir";
        CreateDirectoryA(kDefaultFolder, nullptr);
        CreateDirectoryA(folder.c_str(), nullptr);
        CreateDirectoryA(settings.c_str(), nullptr);
        const std::string files[] = {folder + "\\TR_VazivIvir2023.GRX", folder + "\\Tovrel.lsp",
                                     settings + "\\Tovrel.Ini", cadA + "\\itextsharp.dll",
                                     cadA + "\\Fonts\\Tovrel_EN.shx"};
        for (const std::string& file : files) {
            WriteFile(file, "an earlier release");
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        for (const char* profile : {kProfileA, kProfileB}) {
            const std::string applications = std::string(profile) + "Applications\\";
            SetRegistryString(applications + "TR_VazivIvir2025", "LOADER", "C:\\Earlier\\TR_VazivIvir2023.GRX");
            SetRegistryString(applications + "Tovrel2025DLLP", "LOADER", "C:\\Earlier\\GCAD2024P.dll");
        }
    }

    static void AnswerBox(const MessageBoxInfo& box, std::map<std::string, int>& seen) {
        // A copy prompt is retried once (a one-off failure then heals), then
        // ignored; any other box has OK only.
        int answer = IDOK;
        if (GetDlgItem(box.window, IDRETRY))
            answer = seen[box.text]++ == 0 ? IDRETRY : IDIGNORE;
        SetupDriver::Answer(box.window, answer);
        SetupDriver::WaitUntil([&] { return !IsWindow(box.window); }, 5000);
    }

    void Drive(SetupDriver& setup, CSeamView& seam, RunResult& result) {
        std::map<std::string, int> seen;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < kRunLimitMs) {
            if (!IsWindow(setup.Dialog())) {
                result.end = setup.WaitForExit(5000) ? End::kEnded : End::kHang;
                return;
            }
            if (setup.IsVisible(IDOK) && !setup.IsVisible(IDC_INSTALL)) {
                result.end = End::kCompleted;
                seam->armed = 0;
                // The completion view shows before the Install handler has
                // returned: its handles are counted once the dialog's thread
                // answers again.
                SendMessageTimeoutA(setup.Dialog(), WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
                result.handlesCounted = CountKeptHandles(setup.ProcessId(), &result.handlesAfter);
                setup.Press(IDOK);
                if (!setup.WaitForExit(10000))
                    result.end = End::kHang;
                return;
            }
            const MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption, 0);
            if (box.window) {
                result.boxes.push_back(box.text);
                AnswerBox(box, seen);
            }
        }
        result.end = End::kHang;
    }

    // One install with the failAt-th call of the function failing (none
    // for an empty name).
    // atPause, if given, runs while the program waits before its
    // pauseAt-th counted call.
    RunResult Run(const std::string& name, LONG failAt, LONG pauseAt = 0, const std::function<void()>& atPause = {}) {
        ResetInstallSet();
        RunResult result;
        result.before = TakeSnapshot();
        {
            SetupDriver setup;
            if (!setup.Start(layout.Exe()))
                return result;
            CSeamView seam(setup.ProcessId());
            if (!seam.IsOpen())
                return result;
            result.started = true;
            result.unhooked = seam->unhooked;
            CountKeptHandles(setup.ProcessId(), &result.handlesBefore);
            seam->calls = 0;
            seam->failAt = failAt;
            CopyName(seam->failName, name);
            char pausedName[64];
            char resumeName[64];
            FaultSeamEventName(setup.ProcessId(), "paused", pausedName);
            FaultSeamEventName(setup.ProcessId(), "resume", resumeName);
            CAutoHandle paused(CreateEventA(nullptr, TRUE, FALSE, pausedName));
            CAutoHandle resume(CreateEventA(nullptr, TRUE, FALSE, resumeName));
            seam->pauseAt = pauseAt;
            seam->armed = 1;
            setup.Press(IDC_INSTALL);
            if (pauseAt > 0) {
                if (WaitForSingleObject(paused.Get(), kRunLimitMs) == WAIT_OBJECT_0)
                    atPause();
                SetEvent(resume.Get());
            }
            Drive(setup, seam, result);
            result.calls = seam->calls;
            const LONG traced = std::min<LONG>(LONG{seam->calls}, static_cast<LONG>(sizeof(seam->trace)));
            result.trace.assign(seam->trace, seam->trace + traced);
            result.failedCall = seam->failedCall;
            for (const CFaultSeamCall& call : seam->perCall) {
                if (call.name[0])
                    result.perCall.emplace_back(call.name, call.count);
            }
        }
        result.after = TakeSnapshot();
        return result;
    }

    // A level whose security could not be read, or that could not be
    // opened, is taken for another's: moved aside beside itself ("C:\Tovrel.old")
    // and told, like one another user made.
    bool InInstallFolders(const std::string& path) const {
        for (const std::string& folder : {std::string(kDefaultFolder), settings, RemovalFolder()}) {
            if (Lower(path) == Lower(folder) || StartsWith(path, folder + "\\"))
                return true;
        }
        return StartsWith(path, std::string(kDefaultFolder) + ".old");
    }

    // The two sub-keys of a registered profile, their values, and the
    // Applications key that holds them; the entry in the installed programs.
    static bool InRegistration(const std::string& entry) {
        if (StartsWith(entry, kEntryName))
            return true;
        for (const char* profile : {kProfileA, kProfileB}) {
            const std::string applications = std::string("HKCU\\") + profile + "Applications";
            if (Lower(entry) == Lower(applications))
                return true;
            for (const std::string& key : {"HKCU\\" + ModuleKey(profile), "HKCU\\" + HostKey(profile)}) {
                if (Lower(entry) == Lower(key) || StartsWith(entry, key + "|") || StartsWith(entry, key + "\\"))
                    return true;
            }
        }
        return false;
    }

    // Checks one faulted run; returns what was wrong, empty if nothing.
    std::vector<std::string> Judge(const RunResult& run, const RunResult& clean, int* checks) {
        std::vector<std::string> faults;
        auto fault = [&](const std::string& what) { faults.push_back(what); };

        ++*checks;
        if (run.end == End::kHang)
            fault("hang: no completion view and no end within the limit");

        // Wine opens a few handles of its own the first time an install's
        // calls run (a clean install ends with them too): only more than the
        // clean install's growth is a leak.
        ++*checks;
        const long cleanGrowth = static_cast<long>(clean.handlesAfter) - static_cast<long>(clean.handlesBefore);
        const long growth = static_cast<long>(run.handlesAfter) - static_cast<long>(run.handlesBefore);
        if (run.end == End::kCompleted && run.handlesCounted && growth > cleanGrowth)
            fault("handles " + std::to_string(run.handlesBefore) + " before, " + std::to_string(run.handlesAfter) +
                  " after (a clean install: +" + std::to_string(cleanGrowth) + ")");

        // Outside the install set, nothing changes: the install set is the
        // install's own folders, the registration's two sub-keys per
        // profile, and whatever else a clean install changes (the files it
        // places in the CAD folders).
        ++*checks;
        const std::vector<std::string> cleanChanged = ChangedEntries(clean.before, clean.after);
        for (const std::string& entry : ChangedEntries(run.before, run.after)) {
            if (InInstallFolders(entry) || (run.end == End::kCompleted && InRegistration(entry)))
                continue;
            if (run.end != End::kCompleted)
                fault("changed by an install that ended: " + entry);
            else if (std::find(cleanChanged.begin(), cleanChanged.end(), entry) == cleanChanged.end())
                fault("changed outside the install set: " + entry);
        }

        ++*checks;
        auto told = [&](const std::string& item) {
            return std::any_of(run.boxes.begin(), run.boxes.end(), [&](const std::string& text) {
                return Lower(text).find(Lower(item)) != std::string::npos;
            });
        };
        if (run.end == End::kEnded) {
            if (!std::any_of(run.boxes.begin(), run.boxes.end(),
                             [](const std::string& text) { return text.find(kMissingPackage) != std::string::npos; }))
                fault("the dialog ended without the missing package message (a crash?)");
        } else if (run.end == End::kCompleted) {
            // The bytes a CAD's own file had, saved beside the record, are
            // told with that file: a run that could not save them leaves it
            // as it was and names it.
            std::map<std::string, std::string> savedFor;
            for (const std::string& entry : cleanChanged) {
                if (!InInstallFolders(entry) && !StartsWith(entry, "HKCU\\"))
                    savedFor[Lower(RemovalFolder() + "\\" + SavedNameFor(entry.c_str()).GetString())] = entry;
            }
            for (const std::string& entry : cleanChanged) {
                auto found = run.after.find(entry);
                const auto expected = clean.after.find(entry);
                const bool same =
                    found != run.after.end() && expected != clean.after.end() && found->second == expected->second;
                const bool goneAsInClean = found == run.after.end() && expected == clean.after.end();
                const auto saved = savedFor.find(Lower(entry));
                if (!same && !goneAsInClean && !told(saved == savedFor.end() ? ItemOf(entry) : saved->second))
                    fault("not as a clean install and not told: " + entry);
            }
        }

        // Nothing is named as not done that ended as a clean install leaves it.
        ++*checks;
        for (const std::string& item : FailedItems(run.boxes)) {
            if (EntriesOf(run.after, item) == EntriesOf(clean.after, item))
                fault("told as not done, but as a clean install leaves it: " + item);
        }
        return faults;
    }

    // Counts the calls of a clean install, then installs once per call with
    // that call failing, and judges each run.
    void Walk(const char* label) {
        RunResult clean = Run("", 0);
        if (!clean.started)
            clean = Run("", 0);
        ASSERT_EQ(End::kCompleted, clean.end) << "the clean install did not complete";
        ASSERT_TRUE(clean.boxes.empty()) << "the clean install showed: " << clean.boxes.front();
        EXPECT_EQ("", clean.unhooked) << "imports of the registry, file or process families without a failure rule";
        ASSERT_GT(clean.calls, 0);
        std::string perCall;
        for (const auto& [name, count] : clean.perCall)
            perCall += " " + name + " " + std::to_string(count);
        std::printf("Fault walk (%s): a clean install makes %ld calls:%s\n", label, static_cast<long>(clean.calls),
                    perCall.c_str());
        if (clean.handlesCounted)
            std::printf("Fault walk (%s): handles %lu before the install, %lu after\n", label, clean.handlesBefore,
                        clean.handlesAfter);

        // FAULT_WALK_CALL=Name:k repeats one run of the walk, to look at a finding.
        char only[64] = {};
        GetEnvironmentVariableA("FAULT_WALK_CALL", only, sizeof(only));
        int checks = 0;
        int failed = 0;
        int told = 0;
        int ended = 0;
        std::vector<std::string> findings;
        // Calls are numbered per function: the number of Process32Next calls
        // follows the process list, which may change between runs, and must
        // not shift every later call.
        for (const auto& [name, count] : clean.perCall) {
            for (LONG k = 1; k <= count; ++k) {
                const std::string call = name + ":" + std::to_string(k);
                if (only[0] && call != only)
                    continue;
                RunResult run = Run(name, k);
                // The seam is armed only once the dialog is up, so a start
                // that Wine fumbles under load is simply made again.
                if (!run.started)
                    run = Run(name, k);
                if (!run.started) {
                    ++failed;
                    findings.push_back(call + ": the program did not come up to its dialog, twice");
                    continue;
                }
                if (run.failedCall.empty() && run.end == End::kCompleted)
                    continue;  // this run made fewer such calls
                ++failed;
                told += run.end == End::kCompleted && !run.boxes.empty();
                ended += run.end == End::kEnded;
                const std::vector<std::string> faults = Judge(run, clean, &checks);
                if (faults.empty())
                    continue;
                std::string finding = call + ": " + faults.front();
                if (faults.size() > 1)
                    finding += " (and " + std::to_string(faults.size() - 1) + " more)";
                findings.push_back(finding);
            }
        }
        std::printf(
            "Fault walk (%s): %d calls failed, %d outcomes checked, %zu findings; %d installs completed with the "
            "failure told, %d ended with the missing package message\n",
            label, failed, checks, findings.size(), told, ended);
        for (const std::string& finding : findings)
            ADD_FAILURE() << label << ": " << finding;
    }
};

TEST_F(FaultWalkTest, EveryCallOfADefaultInstallFailedOnce) {
    Walk("first install");
}

TEST_F(FaultWalkTest, EveryCallOfAnInstallOverAnEarlierOneFailedOnce) {
    overEarlierInstall = true;
    Walk("install over an earlier one");
}

// A CAD folder swapped for a link into the system folder while the install
// runs, right before its first host-side file is made. On Windows the swap
// fails (the setup holds the folder without delete sharing); under Wine it
// succeeds underneath, and the copies must still go nowhere but the folder
// that was checked: nothing reaches the system folder, what did not reach
// the CAD folder is told, and the rest of the install is done.
TEST_F(FaultWalkTest, ACadFolderSwappedForALinkMidInstallLeadsNowhere) {
    const RunResult clean = Run("", 0);
    ASSERT_EQ(End::kCompleted, clean.end);
    // The host side's first file call: the first NtCreateFile after the
    // registration's last registry call (its calls come in one run; the
    // entry in the installed programs is written later).
    auto nameAt = [&](size_t i) {
        return clean.trace[i] < clean.perCall.size() ? clean.perCall[clean.trace[i]].first : std::string();
    };
    size_t lastRegistryCall = 0;
    for (size_t i = 0; i < clean.trace.size(); ++i) {
        if (nameAt(i).compare(0, 3, "Reg") == 0)
            lastRegistryCall = i;
        else if (lastRegistryCall > 0)
            break;
    }
    LONG pauseAt = 0;
    for (size_t i = lastRegistryCall; i < clean.trace.size() && pauseAt == 0; ++i) {
        if (nameAt(i) == "NtCreateFile")
            pauseAt = static_cast<LONG>(i + 1);
    }
    ASSERT_GT(pauseAt, 0) << "no host-side file call after the registration";

    const std::string cad = cadA;
    const std::string moved = cadA + ".moved";
    char system32[MAX_PATH] = {};
    GetSystemDirectoryA(system32, MAX_PATH);
    const std::set<std::string> systemBefore = FolderNames(system32);
    std::unique_ptr<PlantedLink> link;
    const RunResult run = Run("", 0, pauseAt, [&] {
        RunUnixTool("/bin/mv", {UnixPathOf(cad), UnixPathOf(moved)}, [&] { return FolderExists(moved); });
        link = std::make_unique<PlantedLink>(cad, system32);
    });
    const bool swapped = link && link->IsMade();
    link.reset();
    RunUnixTool("/bin/mv", {UnixPathOf(moved), UnixPathOf(cad)}, [&] { return !FolderExists(moved); });
    ASSERT_TRUE(swapped) << "the folder was not swapped";

    EXPECT_EQ(End::kCompleted, run.end);
    EXPECT_EQ(systemBefore, FolderNames(system32)) << "a file reached the system folder";
    std::map<std::string, int> told;
    for (const std::string& item : FailedItems(run.boxes))
        ++told[item];
    // Whether the folder holds the CAD's program cannot be told through the
    // swapped folder: its files are named as for a folder that could not be
    // checked (where the link leads there is no Fonts folder).
    EXPECT_EQ((std::map<std::string, int>{{cad + "\\GCAD2024P.dll", 1}, {cad + "\\itextsharp.dll", 1}}), told);
    for (const std::string& placed : {cadB + "\\itextsharp.dll", cadB + "\\GCAD2024P.dll",
                                      std::string(kDefaultFolder) + "\\T-VazivIvir\\Tovrel.lsp"})
        EXPECT_EQ(1u, run.after.count(placed)) << placed;
    for (const char* profile : {kProfileA, kProfileB}) {
        const std::string loader = Lower(std::string("HKCU\\") + profile + "Applications\\TR_VazivIvir2025|LOADER");
        EXPECT_TRUE(std::any_of(run.after.begin(), run.after.end(), [&](const auto& entry) {
            return Lower(entry.first) == loader;
        })) << profile;
    }
}

// The crash walk: SetUpFaults.exe ends itself (TerminateProcess, no
// clean-up) at its k-th counted call, for k from 1 to the calls of a whole
// run, counted at run time. After each kill the same job runs to its end
// with the plain SetUp.exe (for the removal walk: the uninstaller again),
// then the removal; each run is checked: no file under its real name and no
// registration key half written, the CAD's own bytes in place or saved and
// back exactly after the removal, every placed file and made folder in the
// record, the world as before the first install after the removal but for
// what its box names, and no crash, hang or failure told that did not
// happen. The test command walks every CRASH_WALK_STRIDE-th call (default
// 12) and every call that renames or flushes a file; CRASH_WALK=all walks
// every call. Wine cannot cut power: what a power cut could lose is read
// from the order of flushes and renames in the seam's log instead.
constexpr char kNotRemoved[] = "以下项目未能删除 !";

class CrashWalkTest : public FaultWalkTest {
  protected:
    SetupLayout plain{"SetUp.exe"};
    // The CAD's own files and their bytes, laid before the first install.
    std::map<std::string, std::string> cadOwn;

    void SetUp() override { plain.WritePackage(); }

    void TearDown() override {
        FaultWalkTest::TearDown();
        ClearPendingDeletes();
    }

    // Each removal hands its uninstaller to the next restart, which never comes.
    static void ClearPendingDeletes() {
        CRegKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                          key.Receive()) == ERROR_SUCCESS)
            RegDeleteValueA(key.Get(), "PendingFileRenameOperations");
    }

    // Dated a day back, as a package unpacked before the install is: its
    // copies are then stamped by file id, and passed over when in place.
    void WritePackages(const std::string& prefix) {
        for (SetupLayout* each : {&layout, &plain}) {
            for (const std::string& name : FolderNames(each->DataFolder()))
                WriteFile(each->DataFolder() + "\\" + name, prefix + name);
            each->SetPackageTime(-1);
        }
    }

    // The world before the first install: CAD folders with the CAD's own
    // fonts and DLLs, the package as first shipped.
    void ResetWorld() {
        ClearPendingDeletes();
        ResetInstallSet();
        WritePackages("content of ");
        for (const auto& [path, bytes] : cadOwn)
            WriteFile(path, bytes);
    }

    // Installs with exe to the end: the boxes it showed, or "(hang)".
    // counted, if given, receives the seam's state of a whole run.
    std::vector<std::string> InstallToEnd(const std::string& exe,
                                          LONG killAt = 0,
                                          bool* killed = nullptr,
                                          CFaultSeamState* counted = nullptr) {
        std::vector<std::string> boxes;
        SetupDriver setup;
        if (!setup.Start(exe))
            return {"(no dialog)"};
        std::unique_ptr<CSeamView> seam;
        if (killAt > 0 || counted) {
            seam = std::make_unique<CSeamView>(setup.ProcessId());
            if (!seam->IsOpen())
                return {"(no seam)"};
            (*seam)->killAt = killAt;
            (*seam)->calls = 0;
            (*seam)->armed = 1;
        }
        setup.Press(IDC_INSTALL);
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < kRunLimitMs) {
            if (killAt > 0 && setup.WaitForExit(0)) {
                if (killed)
                    *killed = true;
                return boxes;
            }
            if (setup.IsVisible(IDOK) && !setup.IsVisible(IDC_INSTALL)) {
                if (seam)
                    (*seam)->armed = 0;
                // The completion view shows before the Install handler has
                // returned: the seam is read once the dialog's thread answers.
                SendMessageTimeoutA(setup.Dialog(), WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
                if (counted)
                    std::memcpy(counted, seam->operator->(), sizeof(*counted));
                setup.Press(IDOK);
                if (!setup.WaitForExit(10000))
                    boxes.push_back("(hang)");
                return boxes;
            }
            const MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption, 0);
            if (box.window) {
                boxes.push_back(box.text);
                SetupDriver::Answer(box.window, GetDlgItem(box.window, IDRETRY) ? IDIGNORE : IDOK);
                SetupDriver::WaitUntil([&] { return !IsWindow(box.window); }, 5000);
            }
            Sleep(1);
        }
        boxes.push_back("(hang)");
        return boxes;
    }

    // Runs the uninstaller, answers Yes, and returns its last box's text;
    // with killAt, armed once its question is up and "(killed)" if it ends
    // there. counted receives the calls it made.
    static std::string Uninstall(LONG killAt = -1, LONG* counted = nullptr) {
        SetupDriver run;
        if (!run.Launch(RemovalFolder() + "\\Uninstall.exe"))
            return "(no start)";
        MessageBoxInfo box = run.WaitForBox(kInstallBoxCaption, 20000);
        std::unique_ptr<CSeamView> seam;
        if (box.window && box.text == kConfirm) {
            if (killAt >= 0) {
                seam = std::make_unique<CSeamView>(run.ProcessId());
                if (!seam->IsOpen())
                    return "(no seam)";
                (*seam)->killAt = killAt;
                (*seam)->calls = 0;
                (*seam)->armed = 1;
            }
            SetupDriver::Answer(box.window, IDYES);
            SetupDriver::WaitUntil([&] { return !IsWindow(box.window); });
            box = {};
            SetupDriver::WaitUntil(
                [&] {
                    box = run.WaitForBox(kInstallBoxCaption, 0);
                    return box.window || run.WaitForExit(0);
                },
                kRunLimitMs);
        }
        if (counted && seam)
            *counted = (*seam)->calls;
        if (!box.window)
            return run.WaitForExit(0) && killAt > 0 ? "(killed)" : "(hang)";
        SetupDriver::Answer(box.window, IDOK);
        return run.WaitForExit(20000) ? box.text : "(hang)";
    }

    // Whole bytes a file may hold: what any file held before or after a
    // whole run, or the package's.
    static void AddWholeContents(const Snapshot& snapshot, std::set<std::string>& whole) {
        for (const auto& [path, state] : snapshot)
            whole.insert(state.substr(state.find(':') + 1));
    }

    static bool IsTemporary(const std::string& path) { return Lower(path).find("\\~tvcopy") != std::string::npos; }

    // The programs and their packages, which the walk itself changes.
    bool IsLayout(const std::string& path) const {
        return StartsWith(path, layout.Folder()) || StartsWith(path, plain.Folder());
    }

    // No file under its real name is cut, the record is whole, and each
    // registration key is as one whole run or none left it.
    void CheckNothingHalfWritten(const Snapshot& before,
                                 const Snapshot& after,
                                 const Snapshot& whole,
                                 std::vector<std::string>& faults) {
        std::set<std::string> contents;
        AddWholeContents(before, contents);
        AddWholeContents(whole, contents);
        for (const std::string& entry : ChangedEntries(before, after)) {
            const auto found = after.find(entry);
            if (found == after.end() || found->second == "folder" || IsTemporary(entry) || IsLayout(entry) ||
                StartsWith(entry, "HKCU\\") || StartsWith(entry, kEntryName))
                continue;
            if (Lower(entry) == Lower(RemovalFolder() + "\\Uninstall.lst")) {
                CInstallRecord record;
                if (!record.Parse(ReadFile(entry)))
                    faults.push_back("a record no run can read");
                continue;
            }
            if (!contents.count(found->second.substr(found->second.find(':') + 1)))
                faults.push_back("half written: " + entry);
        }
        for (const char* profile : {kProfileA, kProfileB}) {
            for (const std::string& key : {"HKCU\\" + ModuleKey(profile), "HKCU\\" + HostKey(profile)}) {
                const Snapshot now = EntriesOf(after, key);
                if (now != EntriesOf(before, key) && now != EntriesOf(whole, key) && !now.empty())
                    faults.push_back("half written: " + key);
            }
        }
    }

    // After a run that followed a kill: each CAD file's own bytes are in
    // place or saved.
    void CheckCadBytesKept(std::vector<std::string>& faults) {
        for (const auto& [path, bytes] : cadOwn) {
            const std::string saved = RemovalFolder() + "\\" + SavedNameFor(path.c_str()).GetString();
            if (ReadFile(path) != bytes && ReadFile(saved) != bytes)
                faults.push_back("the CAD's own bytes are neither in place nor saved: " + path);
        }
    }

    // Every file and folder the runs placed outside the record's own folder
    // is in the record.
    void CheckRecordNamesAll(const Snapshot& world, const Snapshot& after, std::vector<std::string>& faults) {
        CInstallRecord record;
        if (!record.Parse(ReadFile(RemovalFolder() + "\\Uninstall.lst"))) {
            faults.push_back("no record after a whole run");
            return;
        }
        for (const std::string& entry : ChangedEntries(world, after)) {
            const auto found = after.find(entry);
            if (found == after.end() || StartsWith(entry, "HKCU\\") || StartsWith(entry, kEntryName) ||
                StartsWith(entry, RemovalFolder()) || IsLayout(entry))
                continue;
            bool named = record.FileAt(entry.c_str()) != nullptr;
            for (int i = 0; i < record.folders.GetSize() && !named; ++i)
                named = Lower(record.folders[i].GetString()) == Lower(entry);
            if (!named)
                faults.push_back("placed but not in the record: " + entry);
        }
    }

    // After the removal: the world as before the first install, but for the
    // uninstaller that waits for the restart and what the box names.
    void CheckRemoved(const std::string& box, const Snapshot& world, std::vector<std::string>& faults) {
        if (box != kRemoved && box.rfind(kNotRemoved, 0) != 0 && box != kNoRecord) {
            faults.push_back("the removal ended with: " + box);
            return;
        }
        const Snapshot after = TakeSnapshot();
        for (const std::string& entry : ChangedEntries(world, after)) {
            // Wine keeps its own settings of the session in the user's hive.
            if (Lower(entry) == Lower(RemovalFolder()) || Lower(entry) == Lower(RemovalFolder() + "\\Uninstall.exe") ||
                IsLayout(entry) || StartsWith(entry, "HKCU\\Software\\Wine\\"))
                continue;
            const std::string item = ItemOf(entry);
            if (Lower(box).find(Lower(item)) != std::string::npos)
                continue;
            faults.push_back("left by the removal and not named: " + entry);
        }
        for (const auto& [path, bytes] : cadOwn) {
            if (ReadFile(path) != bytes)
                faults.push_back("the CAD's own bytes not given back: " + path);
        }
    }

    struct Walked {
        int points = 0;
        int checks = 0;
        std::vector<std::string> findings;
    };

    // The kill points: every k with CRASH_WALK=all, else every stride-th
    // and every call that renames or flushes a file, and the one after it.
    static std::vector<LONG> KillPoints(const CFaultSeamState& counted) {
        char all[8] = {};
        char strideText[16] = {};
        GetEnvironmentVariableA("CRASH_WALK", all, sizeof(all));
        GetEnvironmentVariableA("CRASH_WALK_STRIDE", strideText, sizeof(strideText));
        const LONG stride = std::max(1, std::atoi(strideText[0] ? strideText : "12"));
        const LONG calls = counted.calls;
        std::set<LONG> points;
        for (LONG k = 1; k <= calls; ++k) {
            const unsigned char slot = k <= static_cast<LONG>(sizeof(counted.trace)) ? counted.trace[k - 1] : 0;
            const std::string name = slot < 64 ? counted.perCall[slot].name : "";
            const bool known = name == "NtSetInformationFile" || name == "FlushFileBuffers";
            if (std::string(all) == "all" || k % stride == 1 || known) {
                points.insert(k);
                if (known && k < calls)
                    points.insert(k + 1);
            }
        }
        return {points.begin(), points.end()};
    }

    void Report(const char* label, const Walked& walked, DWORD ms, LONG calls) {
        std::printf("Crash walk (%s): %ld calls, %d kill points walked, %d outcomes checked, %zu findings, %lu s\n",
                    label, static_cast<long>(calls), walked.points, walked.checks, walked.findings.size(),
                    static_cast<unsigned long>(ms / 1000));
        for (const std::string& finding : walked.findings)
            ADD_FAILURE() << label << ": " << finding;
    }

    // The install walks: before is laid by lay (the world before the first
    // install, then what comes before the walked run).
    void WalkInstall(const char* label, bool firstInstall, const std::function<void()>& lay) {
        const DWORD begin = GetTickCount();
        // A whole run: its calls and its log, and what it leaves.
        ResetWorld();
        const Snapshot world = TakeSnapshot();
        lay();
        const Snapshot before = TakeSnapshot();
        CFaultSeamState counted = {};
        const std::vector<std::string> wholeBoxes = InstallToEnd(layout.Exe(), 0, nullptr, &counted);
        ASSERT_TRUE(wholeBoxes.empty()) << "the whole run showed: " << wholeBoxes.front();
        ASSERT_GT(counted.calls, 0);
        const Snapshot whole = TakeSnapshot();
        if (firstInstall)
            ExpectFlushedBeforeReplaced(counted.fileLog);
        ASSERT_EQ(kRemoved, Uninstall());

        Walked walked;
        char only[16] = {};
        GetEnvironmentVariableA("CRASH_WALK_CALL", only, sizeof(only));
        for (const LONG k : KillPoints(counted)) {
            if (only[0] && std::atol(only) != k)
                continue;
            ResetWorld();
            lay();
            const Snapshot start = TakeSnapshot();
            bool killed = false;
            const std::vector<std::string> killedBoxes = InstallToEnd(layout.Exe(), k, &killed);
            std::vector<std::string> faults;
            ++walked.points;
            ++walked.checks;
            if (!killedBoxes.empty())
                faults.push_back("before the kill: " + killedBoxes.front());
            CheckNothingHalfWritten(start, TakeSnapshot(), whole, faults);
            ++walked.checks;
            const std::vector<std::string> boxes = InstallToEnd(plain.Exe());
            if (!boxes.empty())
                faults.push_back("the run after the kill showed: " + boxes.front());
            ++walked.checks;
            CheckCadBytesKept(faults);
            ++walked.checks;
            CheckRecordNamesAll(world, TakeSnapshot(), faults);
            ++walked.checks;
            CheckRemoved(Uninstall(), world, faults);
            for (const std::string& fault : faults)
                walked.findings.push_back("killed at call " + std::to_string(k) + (killed ? "" : " (not reached)") +
                                          ": " + fault);
        }
        Report(label, walked, GetTickCount() - begin, counted.calls);
    }

    // Where a CAD file is replaced, its saved copy and the record naming it
    // were flushed before the rename over it.
    void ExpectFlushedBeforeReplaced(const std::string& log) {
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(Lower(log.substr(start, end - start)));
        auto at = [&](const std::string& line, size_t from = 0) {
            for (size_t i = from; i < lines.size(); ++i) {
                if (lines[i] == Lower(line))
                    return i;
            }
            return lines.size();
        };
        for (const auto& [path, bytes] : cadOwn) {
            const std::string saved = SavedNameFor(path.c_str()).GetString();
            const size_t replaced = at("rename " + path);
            const size_t savedPlaced = at("rename " + RemovalFolder() + "\\" + saved);
            ASSERT_LT(replaced, lines.size()) << "no rename over " << path << " in\n" << log;
            EXPECT_LT(savedPlaced, replaced) << path;
            EXPECT_LT(at("flush " + RemovalFolder() + "\\~tvcopy\\" + saved), savedPlaced) << path;
            // The record's last rename before the replace, and its flush before that.
            size_t record = lines.size();
            for (size_t i = 0; i < replaced; ++i) {
                if (lines[i] == Lower("rename " + RemovalFolder() + "\\Uninstall.lst"))
                    record = i;
            }
            EXPECT_LT(savedPlaced, record) << "the record was not written after the saved copy of " << path;
            EXPECT_LT(record, replaced) << path;
            EXPECT_EQ(Lower("flush " + RemovalFolder() + "\\~tvcopy\\Uninstall.lst"),
                      record > 0 ? lines[record - 1] : "")
                << path;
        }
    }
};

TEST_F(CrashWalkTest, AFirstInstallOverTheCadsOwnFilesKilledAtEveryCall) {
    cadOwn = {{cadA + "\\itextsharp.dll", "the CAD's own itextsharp"},
              {cadA + "\\Fonts\\Tovrel_EN.shx", "the CAD's own font"},
              {cadA + "\\GCAD2024P.dll", "the CAD's own older host DLL"}};
    WalkInstall("first install over the CAD's own files", true, [] {});
}

TEST_F(CrashWalkTest, AnInstallOfAChangedPackageOverAnEarlierOneKilledAtEveryCall) {
    cadOwn = {{cadA + "\\itextsharp.dll", "the CAD's own itextsharp"},
              {cadA + "\\GCAD2024P.dll", "the CAD's own older host DLL"}};
    WalkInstall("install of a changed package over an earlier one", false, [&] {
        ASSERT_TRUE(InstallToEnd(plain.Exe()).empty());
        WritePackages("changed content of ");
    });
}

TEST_F(CrashWalkTest, TheRemovalKilledAtEveryCall) {
    const DWORD begin = GetTickCount();
    cadOwn = {{cadA + "\\itextsharp.dll", "the CAD's own itextsharp"},
              {cadA + "\\GCAD2024P.dll", "the CAD's own older host DLL"}};
    ResetWorld();
    const Snapshot world = TakeSnapshot();
    // The uninstaller is the program that installed: the test build here.
    ASSERT_TRUE(InstallToEnd(layout.Exe()).empty());
    const Snapshot installed = TakeSnapshot();
    LONG calls = 0;
    ASSERT_EQ(kRemoved, Uninstall(0, &calls));
    ASSERT_GT(calls, 0);
    char all[8] = {};
    char strideText[16] = {};
    GetEnvironmentVariableA("CRASH_WALK", all, sizeof(all));
    GetEnvironmentVariableA("CRASH_WALK_STRIDE", strideText, sizeof(strideText));
    const LONG stride = std::string(all) == "all" ? 1 : std::max(1, std::atoi(strideText[0] ? strideText : "12") / 3);
    Walked walked;
    for (LONG k = 1; k <= calls; k += stride) {
        ResetWorld();
        if (!InstallToEnd(layout.Exe()).empty())
            continue;
        const std::string killed = Uninstall(k);
        std::vector<std::string> faults;
        ++walked.points;
        ++walked.checks;
        if (killed != "(killed)")
            faults.push_back("the killed removal ended with: " + killed);
        CheckNothingHalfWritten(installed, TakeSnapshot(), world, faults);
        ++walked.checks;
        CheckRemoved(Uninstall(), world, faults);
        for (const std::string& fault : faults)
            walked.findings.push_back("killed at call " + std::to_string(k) + ": " + fault);
    }
    Report("removal", walked, GetTickCount() - begin, calls);
}

}  // namespace

// The seam is a door into an elevated program: the shipped build must not
// have it.
TEST(FaultSeamTest, ShippedProgramHasNoSeam) {
    const std::string shipped = ReadFile(ExeFolder() + "\\SetUp.exe");
    const std::string test = ReadFile(ExeFolder() + "\\SetUpFaults.exe");
    ASSERT_FALSE(shipped.empty());
    EXPECT_NE(std::string::npos, test.find("TovrelFaultSeam"));
    EXPECT_EQ(std::string::npos, shipped.find("TovrelFaultSeam"));
}
