// The plug-in removed as a user removes it: SetUp.exe installs it, driven
// from here, then the uninstaller the install left is started as Programs
// and Features starts it, and its message boxes are answered. Afterwards
// the CAD's registry tree, the install, settings and CAD folders and the
// removal data are compared with what they were before the install.
//
// Under Wine every process is an administrator, and HKEY_LOCAL_MACHINE and
// Program Files are writable by any program: that only administrators can
// write the uninstaller and its record, which is what the removal trusts
// them for, cannot be shown here. Nor can the removal at the next restart
// (Wine never restarts): that the uninstaller is handed to it is read from
// the registry instead.

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "removal/InstallRecord.h"
#include "framework/Handle.h"
#include "res/resource.h"
#include "tests/support/CadStandin.h"
#include "tests/support/InstallWorld.h"
#include "tests/support/SeamView.h"
#include "tests/support/UiDriver.h"
#include "tests/support/UserHive.h"

using namespace testsupport;

namespace {

constexpr char kChosenFolder[] = "C:\\Tovrel";
constexpr char kEntryKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir";
constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kCloseCad[] = "请关闭CAD后再进行卸载 !";
constexpr char kNotRemoved[] = "以下项目未能删除 !\n";
const std::string kInstallDir = std::string(kChosenFolder) + "\\T-VazivIvir";

std::string RemovalFolder() {
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path);
    return std::string(path) + "\\Tovrel";
}

const std::string kUninstaller = RemovalFolder() + "\\Uninstall.exe";
const std::string kRecord = RemovalFolder() + "\\Uninstall.lst";

using testsupport::SettingsFolder;

// What is there: key paths (with "|value"), and files with their content.
using State = std::map<std::string, std::string>;

void AddKey(HKEY key, const std::string& label, State& state) {
    state[label] = "key";
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[2048];
        DWORD nameSize = sizeof(name);
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        state[label + "|" + name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataSize);
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof(name);
        CRegKey child;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, child.Receive()) == ERROR_SUCCESS)
            AddKey(child.Get(), label + "\\" + name, state);
    }
}

// Links are noted, never followed.
void AddFolder(const std::string& folder, State& state) {
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    state[folder] = attributes & FILE_ATTRIBUTE_REPARSE_POINT ? "link" : "folder";
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return;
    for (const std::string& name : FolderNames(folder)) {
        const std::string path = folder + "\\" + name;
        if (FolderExists(path))
            AddFolder(path, state);
        else
            state[path] = ReadFile(path);
    }
}

// The entries that differ between two states.
std::set<std::string> Differences(const State& before, const State& after) {
    std::set<std::string> changed;
    for (const auto& [path, content] : before) {
        const auto found = after.find(path);
        if (found == after.end() || found->second != content)
            changed.insert(path);
    }
    for (const auto& entry : after) {
        if (!before.count(entry.first))
            changed.insert(entry.first);
    }
    return changed;
}

std::string EntryText(const char* name) {
    CRegKey key;
    char text[MAX_PATH * 2] = {};
    DWORD size = sizeof(text) - 1;
    DWORD type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
        return "(absent)";
    if (type == REG_DWORD)
        return "dword " + std::to_string(*reinterpret_cast<DWORD*>(text));
    return text;
}

// The restart-time work Windows would do, as Wine keeps it: NT paths,
// each followed by its new name, empty for a delete.
std::string PendingAtRestart() {
    CRegKey key;
    std::vector<char> data(65536);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.Get(), "PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return std::string();
    std::string text(data.data(), size);
    for (char& c : text)
        c = c == '\0' ? '|' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The list's raw bytes (UTF-16), for a test that must see every byte kept.
std::string PendingBytes(const wchar_t* value = L"PendingFileRenameOperations") {
    CRegKey key;
    std::string data(65536, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
        return std::string();
    data.resize(size);
    return data;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The items a box names after its heading.
std::set<std::string> NamedItems(const std::string& text) {
    std::set<std::string> items;
    if (text.rfind(kNotRemoved, 0) != 0)
        return items;
    size_t start = sizeof(kNotRemoved);
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        items.insert(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return items;
}

// A file held open with share mode 0 by another process (hold_file.exe), as
// a running CAD holds its DLLs, until Release.
class HeldFile {
  public:
    bool Hold(const std::string& path) {
        // Names of their own for every hold: events of an earlier one, set
        // already, would let the new holder go at once.
        static int holds = 0;
        const std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++holds);
        const std::string readyName = "uninstall-test-ready-" + id;
        const std::string releaseName = "uninstall-test-release-" + id;
        m_ready.Reset(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
        m_release.Reset(CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str()));
        return m_holder.Start(ExeFolder() + "\\hold_file.exe",
                              QuoteArgument(path) + " " + readyName + " " + releaseName) &&
               WaitForSingleObject(m_ready.Get(), 20000) == WAIT_OBJECT_0;
    }
    void Release() {
        SetEvent(m_release.Get());
        m_holder.Wait(10000);
    }

  private:
    CAutoHandle m_ready;
    CAutoHandle m_release;
    ChildProcess m_holder;
};

// The seam of the test build, SetUpFaults.exe: its calls are counted from
// Arm on, and it stops before the pauseAt-th (0: never), to be killed there.
class Seam {
  public:
    explicit Seam(DWORD processId) : m_view(processId) {
        char paused[64];
        char resume[64];
        FaultSeamEventName(processId, "paused", paused);
        FaultSeamEventName(processId, "resume", resume);
        m_paused.Reset(CreateEventA(nullptr, TRUE, FALSE, paused));
        m_resume.Reset(CreateEventA(nullptr, TRUE, FALSE, resume));
    }

    bool Arm(LONG pauseAt) {
        if (!m_view.IsOpen())
            return false;
        m_view->failAt = 0;
        m_view->pauseAt = pauseAt;
        m_view->calls = 0;
        m_view->armed = 1;
        return true;
    }
    bool WaitPaused() const { return WaitForSingleObject(m_paused.Get(), 30000) == WAIT_OBJECT_0; }
    LONG Calls() const { return m_view.IsOpen() ? m_view->calls : 0; }

  private:
    CSeamView m_view;
    CAutoHandle m_paused;
    CAutoHandle m_resume;
};

// A run of the test build as the uninstaller, armed once its question is up
// (the record is read by then); with pauseAt, it is killed there.
struct Arming {
    LONG pauseAt = 0;
    std::unique_ptr<Seam> seam;
};

class UninstallTest : public ::testing::Test {
  protected:
    CadRegistry registry;
    SetupLayout layout;
    ScratchFolder cads{"uninstall-cad"};
    std::string cadA = cads / "CAD A";  // has Fonts
    std::string cadB = cads / "CAD B";  // no Fonts

    void SetUp() override {
        layout.WritePackage();
        Reset();
    }
    void TearDown() override { ClearInstall(); }

    static void ClearInstall() {
        RemoveTree(kChosenFolder);
        RemoveTree(SettingsFolder());
        RemoveTree(RemovalFolder());
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, KEY_WOW64_64KEY, 0);
        CRegKey sessionManager;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, sessionManager.Receive()) !=
            ERROR_SUCCESS)
            return;
        for (const char* name : {"PendingFileRenameOperations", "PendingFileRenameOperations2"})
            RegDeleteValueA(sessionManager.Get(), name);
    }

    // No install anywhere; two CADs, each with one 2025 profile.
    void Reset() {
        ClearInstall();
        DeleteRegistryTree("SOFTWARE\\Gstarsoft");
        for (const std::string& name : FolderNames(cads.Path()))
            RemoveTree(cads / name);
        MakeCadFolder(cadA);
        MakeCadFolder(cadB, false);
        registry.AddProfile("GstarCAD", "R25", "Profiles\\Main", cadA);
        registry.AddProfile("GstarArch", "B25R25", "Profiles\\Other", cadB);
    }

    State Snapshot() const {
        State state;
        CRegKey vendor;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Gstarsoft", 0, KEY_READ, vendor.Receive()) == ERROR_SUCCESS)
            AddKey(vendor.Get(), "HKCU\\SOFTWARE\\Gstarsoft", state);
        CRegKey entry;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ | KEY_WOW64_64KEY, entry.Receive()) ==
            ERROR_SUCCESS)
            AddKey(entry.Get(), "HKLM entry", state);
        for (const std::string& folder : {std::string(kChosenFolder), SettingsFolder(), cads.Path(), RemovalFolder()})
            AddFolder(folder, state);
        return state;
    }

    // Installs into folder with the setup program exe; returns the text of
    // the failures box, if one came before the completion view.
    // whileDialog, if given, runs while the dialog is up.
    std::string Install(const std::string& folder,
                        const std::string& exe = "",
                        const std::function<void()>& whileDialog = {}) {
        SetupDriver setup;
        EXPECT_TRUE(setup.Start(exe.empty() ? layout.Exe() : exe)) << "no setup dialog";
        if (whileDialog)
            whileDialog();
        setup.SetText(IDC_INSTALL_PATH, folder);
        setup.Press(IDC_INSTALL);
        EXPECT_TRUE(SetupDriver::WaitUntil(
            [&] { return setup.HasBox(kInstallBoxCaption) || setup.WaitForCompletionView(0); }, 30000));
        const MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption, 0);
        if (box.window)
            SetupDriver::Answer(box.window, IDOK);
        EXPECT_TRUE(setup.WaitForCompletionView()) << "the install did not complete";
        setup.Press(IDOK);
        EXPECT_TRUE(setup.WaitForExit(10000));
        return box.text;
    }

    // Runs the uninstaller, answers its question with answer and its last
    // box with OK; returns that box's text, or "(killed)" where arming
    // stopped it.
    static std::string Uninstall(int answer = IDYES, Arming* arming = nullptr) {
        SetupDriver run;
        EXPECT_TRUE(run.Launch(kUninstaller));
        MessageBoxInfo box = run.WaitForBox(kInstallBoxCaption, 20000);
        if (box.window && box.text == kConfirm) {
            EXPECT_EQ(nullptr, box.owner);
            if (arming) {
                arming->seam = std::make_unique<Seam>(run.ProcessId());
                EXPECT_TRUE(arming->seam->Arm(arming->pauseAt));
            }
            SetupDriver::Answer(box.window, answer);
            if (arming && arming->pauseAt > 0) {
                EXPECT_TRUE(arming->seam->WaitPaused()) << "the removal did not come to the call";
                return "(killed)";
            }
            SetupDriver::WaitUntil([&] { return !IsWindow(box.window); });
            box = run.WaitForBox(kInstallBoxCaption, answer == IDYES ? 30000 : 2000);
        }
        if (box.window)
            SetupDriver::Answer(box.window, IDOK);
        EXPECT_TRUE(run.WaitForExit(20000)) << "the uninstaller did not end";
        return box.window ? box.text : "(no box)";
    }

    std::string Profile(const char* profile, const char* below = "") const {
        return "HKCU\\" + std::string(profile).substr(0, std::string(profile).size() - 1) + below;
    }
};

// What differs from the state before the install after a removal, besides
// the uninstaller, which waits for the next restart: what the removal kept
// by decision, and what someone else added since the install.
//
// Wine replaces a read-only file by a rename without asking (even for an
// unprivileged user), so that a read-only target with a second name is
// replaced at install without its bit being cleared cannot be seen here;
// the removal, whose delete Wine refuses for a read-only file, shows it.
TEST_F(UninstallTest, RemovesWhatTheInstallPlacedAndKeepsWhatItDecides) {
    const std::string otherLoader = cads / "victim\\TR_VazivIvir2023.GRX";
    const std::string savedHostDll =
        RemovalFolder() + "\\" + SavedNameFor((cadA + "\\GCAD2024P.dll").c_str()).GetString();
    const std::string sibling = cads / "CAD A2";  // its path starts like CAD A's
    const std::string emptyFolder = cads / "empty";
    const std::string secondName = cads / "second name.dll";
    const std::string swappedAway = layout.Exe() + ".ran";
    HeldFile held;
    std::unique_ptr<PlantedLink> link;
    // The user's edits of a placed file and of the settings: both are named,
    // and both stay, with their folders.
    const auto editBoth = [&](const char* file, const char* settings) {
        return [=] {
            WriteFile(kInstallDir + "\\Tovrel.lsp", file);
            WriteFile(SettingsFolder() + "\\Tovrel.Ini", settings);
        };
    };
    const std::set<std::string> edited = {kInstallDir + "\\Tovrel.lsp", SettingsFolder() + "\\Tovrel.Ini"};
    const std::set<std::string> editedKept = {kChosenFolder, kInstallDir, kInstallDir + "\\Tovrel.lsp",
                                              SettingsFolder(), SettingsFolder() + "\\Tovrel.Ini"};
    // A package as users have it: unpacked a day or more after it was built.
    // A package file changed within the last two seconds is copied again
    // whatever its stamp says, and no call sets a change time back: the
    // package is left to age before the install, so that a second install
    // passes over what it can.
    const auto unpackedEarlier = [&] {
        layout.SetPackageTime(-1);
        Sleep(2100);
    };
    const auto fileIdOf = [](const std::string& path) {
        CAutoHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION info = {};
        return GetFileInformationByHandle(file.Get(), &info)
                   ? (ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow
                   : 0;
    };
    // Rewrites the file with its bytes changed, its size and date kept.
    const auto rewriteKeepingDate = [](const std::string& path, const std::function<void(std::string&)>& change) {
        FILETIME written = {};
        {
            CAutoHandle file(
                CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(GetFileTime(file.Get(), nullptr, nullptr, &written)) << path;
        }
        std::string bytes = ReadFile(path);
        change(bytes);
        ASSERT_TRUE(WriteFile(path, bytes)) << path;
        CAutoHandle file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &written)) << path;
    };
    const struct {
        const char* name;
        std::function<void()> beforeInstall;
        std::function<void()> afterInstall;
        std::set<std::string> named;  // what the box names; none: removed
        std::set<std::string> kept;   // what differs, besides the uninstaller
        bool secondRun;               // after the first, held files are let go
        std::function<void()> whileDialog = {};
        std::function<void()> afterRemoval = {};
    } cases[] = {
        {"plain",
         {},
         [&] {
             EXPECT_EQ("T-批打印软件", EntryText("DisplayName"));
             EXPECT_EQ("2025.02.25", EntryText("DisplayVersion"));
             EXPECT_EQ("Tovrel", EntryText("Publisher"));
             EXPECT_EQ(kUninstaller + ",0", EntryText("DisplayIcon"));
             EXPECT_EQ(kInstallDir, EntryText("InstallLocation"));
             EXPECT_EQ("\"" + kUninstaller + "\"", EntryText("UninstallString"));
             const std::string date = EntryText("InstallDate");
             EXPECT_TRUE(date.size() == 8 && date.find_first_not_of("0123456789") == std::string::npos) << date;
             EXPECT_NE("dword 0", EntryText("EstimatedSize"));
             EXPECT_EQ(0u, EntryText("EstimatedSize").find("dword "));
             EXPECT_EQ("dword 1", EntryText("NoModify"));
             EXPECT_EQ("dword 1", EntryText("NoRepair"));
         },
         {},
         {},
         false},
        {"the user's changes", {}, editBoth("edited by the user", "the user's settings"), edited, editedKept, false},
        // What tells the edit: the last-write time for a package unpacked
        // long ago, the bytes for one whose times are too recent for that.
        {"the user's edits that keep the length, long after the package was made", [&] { layout.SetPackageTime(-365); },
         editBoth("CONTENT OF Tovrel.lsp", "CONTENT OF Tovrel.Ini"), edited, editedKept, false},
        {"the user's edits that keep the length, the package dated ahead of the clock",
         [&] { layout.SetPackageTime(1); }, editBoth("CONTENT OF Tovrel.lsp", "CONTENT OF Tovrel.Ini"), edited,
         editedKept, false},
        // The CAD's own bytes come back, also after a second install, which
        // must not save the plug-in's copy as the CAD's.
        {"a host DLL the CAD had before",
         [&] { WriteFile(cadA + "\\GCAD2024P.dll", "the CAD's own"); },
         {},
         {},
         {},
         false},
        {"a host DLL the CAD had before, installed twice",
         [&] { WriteFile(cadA + "\\GCAD2024P.dll", "the CAD's own"); },
         [&] { EXPECT_EQ("", Install(kChosenFolder)); },
         {},
         {},
         false},
        // The CAD's own bytes stay saved, and named, with the file kept.
        {"a host DLL the CAD had before, changed since the install",
         [&] { WriteFile(cadA + "\\GCAD2024P.dll", "the CAD's own"); },
         [&] { WriteFile(cadA + "\\GCAD2024P.dll", "the CAD's update"); },
         {cadA + "\\GCAD2024P.dll", savedHostDll},
         {cadA + "\\GCAD2024P.dll", savedHostDll},
         false,
         {},
         [&] {
             EXPECT_TRUE(FileExists(cadA + "\\GCAD2024P.dll")) << "the CAD's own file was deleted";
             EXPECT_EQ("the CAD's own", ReadFile(savedHostDll));
         }},
        // An update of the CAD between two installs is the CAD's again: saved
        // by the second install and given back.
        {"a host DLL the CAD updated between two installs",
         [&] { WriteFile(cadA + "\\GCAD2024P.dll", "the CAD's own"); },
         [&] {
             WriteFile(cadA + "\\GCAD2024P.dll", "the CAD's update");
             EXPECT_EQ("", Install(kChosenFolder));
         },
         {},
         {cadA + "\\GCAD2024P.dll"},
         false,
         {},
         [&] { EXPECT_EQ("the CAD's update", ReadFile(cadA + "\\GCAD2024P.dll")); }},
        {"a host DLL held open",
         {},
         [&] { ASSERT_TRUE(held.Hold(cadA + "\\itextsharp.dll")); },
         {cadA + "\\itextsharp.dll"},
         {},
         true},
        // Its saved bytes are given back by the second run.
        {"a host DLL the CAD had before, held open",
         [&] { WriteFile(cadA + "\\itextsharp.dll", "the CAD's own"); },
         [&] { ASSERT_TRUE(held.Hold(cadA + "\\itextsharp.dll")); },
         {cadA + "\\itextsharp.dll"},
         {},
         true},
        {"another plug-in's entry",
         [&] {
             SetRegistryString(std::string(kProfileA) + "Applications\\OtherPlugin", "LOADER", "C:\\Other\\other.dll");
         },
         {},
         {},
         {},
         false},
        {"a profile added since the install",
         {},
         [&] {
             // The CAD makes a profile as a copy of another, entries and all.
             const std::string copy = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\Copy\\";
             registry.AddProfile("GstarCAD", "R25", "Profiles\\Copy", cadA);
             for (const char* entry : {"Applications\\TR_VazivIvir2025", "Applications\\Tovrel2025DLLP"}) {
                 DWORD type = 0;
                 std::string loader;
                 ASSERT_TRUE(ReadRegistryValue(std::string(kProfileA) + entry, "LOADER", &type, &loader));
                 SetRegistryString(copy + entry, "LOADER", loader.c_str());
             }
         },
         {},
         {Profile(kProfileA, "").substr(0, Profile(kProfileA, "").rfind('\\')) + "\\Copy",
          Profile(kProfileA, "").substr(0, Profile(kProfileA, "").rfind('\\')) + "\\Copy|Location"},
         false},
        {"an entry whose LOADER names a file elsewhere",
         {},
         [&] {
             CreateDirectoryA((cads / "victim").c_str(), nullptr);
             WriteFile(otherLoader, "content of TR_VazivIvir2023.GRX");
             SetRegistryString(std::string(kProfileB) + "Applications\\TR_VazivIvir2023", "LOADER", otherLoader);
         },
         {},
         {cads / "victim", otherLoader, Profile(kProfileB, "\\Applications"),
          Profile(kProfileB, "\\Applications\\TR_VazivIvir2023"),
          Profile(kProfileB, "\\Applications\\TR_VazivIvir2023|LOADER")},
         false},
        {"installed twice, into two folders", {}, [&] { EXPECT_EQ("", Install(cads / "Second")); }, {}, {}, false},
        // The second install passes over every file and keeps its stamps.
        {"installed twice from a package unpacked a day earlier",
         unpackedEarlier,
         [&] {
             const ULONGLONG placed = fileIdOf(kInstallDir + "\\Tovrel.lsp");
             EXPECT_EQ("", Install(kChosenFolder));
             EXPECT_EQ(placed, fileIdOf(kInstallDir + "\\Tovrel.lsp")) << "not passed over";
         },
         {},
         {},
         false},
        {"a newer package of the same sizes and dates",
         unpackedEarlier,
         [&] {
             for (const std::string& name : FolderNames(layout.DataFolder()))
                 rewriteKeepingDate(layout.DataFolder() + "\\" + name, [](std::string& bytes) {
                     for (char& c : bytes)
                         c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
                 });
             EXPECT_EQ("", Install(kChosenFolder));
             EXPECT_EQ("CONTENT OF TOVREL.LSP", ReadFile(kInstallDir + "\\Tovrel.lsp"));
             EXPECT_EQ("CONTENT OF GCAD2024P.DLL", ReadFile(cadA + "\\GCAD2024P.dll"));
         },
         {},
         {},
         false},
        // Another build of the same size, dated as this one: not the uninstaller.
        {"an uninstaller of the same size and date from another build",
         {},
         [&] {
             rewriteKeepingDate(kUninstaller, [](std::string& bytes) { bytes[bytes.size() / 2] ^= 0x20; });
             EXPECT_EQ("", Install(kChosenFolder));
             EXPECT_TRUE(ReadFile(kUninstaller) == ReadFile(layout.Exe())) << "the other build stays";
         },
         {},
         {},
         false},
        // Too recent to be told by its stamps: copied again. Written anew,
        // the package is as the rows below had it.
        {"installed twice from a package just made",
         [&] { layout.WritePackage(); },
         [&] { EXPECT_EQ("", Install(kChosenFolder)); },
         {},
         {},
         false},
        {"an edit that keeps the length",
         {},
         [&] {
             std::string content = ReadFile(kInstallDir + "\\Tovrel.lsp");
             ASSERT_FALSE(content.empty());
             content[0] = content[0] == 'x' ? 'y' : 'x';
             WriteFile(kInstallDir + "\\Tovrel.lsp", content);
         },
         {kInstallDir + "\\Tovrel.lsp"},
         {kChosenFolder, kInstallDir, kInstallDir + "\\Tovrel.lsp"},
         false},
        {"a file link into a folder whose path starts alike",
         {},
         [&] {
             CreateDirectoryA(sibling.c_str(), nullptr);
             WriteFile(sibling + "\\itextsharp.dll", ReadFile(cadA + "\\itextsharp.dll"));
             ASSERT_TRUE(DeleteFileA((cadA + "\\itextsharp.dll").c_str()));
             link = std::make_unique<PlantedLink>(cadA + "\\itextsharp.dll", sibling + "\\itextsharp.dll");
             ASSERT_TRUE(link->IsMade());
         },
         {cadA + "\\itextsharp.dll"},
         {cadA + "\\itextsharp.dll", sibling, sibling + "\\itextsharp.dll"},
         false},
        {"an emptied folder swapped for a link to another empty folder",
         {},
         [&] {
             RemoveTree(SettingsFolder());
             CreateDirectoryA(emptyFolder.c_str(), nullptr);
             link = std::make_unique<PlantedLink>(SettingsFolder(), emptyFolder);
             ASSERT_TRUE(link->IsMade());
         },
         {SettingsFolder() + "\\Tovrel.Ini"},
         {SettingsFolder(), emptyFolder},
         false},
        {"a placed file given a second name, read-only",
         {},
         [&] {
             ASSERT_TRUE(SetFileAttributesA((cadA + "\\itextsharp.dll").c_str(), FILE_ATTRIBUTE_READONLY));
             ASSERT_TRUE(CreateHardLinkA(secondName.c_str(), (cadA + "\\itextsharp.dll").c_str(), nullptr))
                 << GetLastError();
         },
         {cadA + "\\itextsharp.dll"},
         {cadA + "\\itextsharp.dll", secondName},
         false,
         {},
         [&] {
             const DWORD attributes = GetFileAttributesA(secondName.c_str());
             EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
                 << "the other name lost its read-only bit: 0x" << std::hex << attributes;
             SetFileAttributesA(secondName.c_str(), FILE_ATTRIBUTE_NORMAL);
         }},
        {"the setup program swapped while its dialog is up",
         {},
         [&] {
             // The uninstaller is the program that ran, not what its path holds.
             EXPECT_TRUE(ReadFile(swappedAway) == ReadFile(kUninstaller)) << "the uninstaller is another program";
             EXPECT_TRUE(MoveFileExA(swappedAway.c_str(), layout.Exe().c_str(), MOVEFILE_REPLACE_EXISTING));
         },
         {},
         {},
         false,
         [&] {
             ASSERT_TRUE(RunUnixTool("/bin/mv", {UnixPathOf(layout.Exe()), UnixPathOf(swappedAway)},
                                     [&] { return FileExists(swappedAway); }));
             ASSERT_TRUE(CopyFileA((ExeFolder() + "\\idle_process.exe").c_str(), layout.Exe().c_str(), FALSE));
         }},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        link.reset();
        Reset();
        if (c.beforeInstall)
            c.beforeInstall();
        const State before = Snapshot();
        ASSERT_EQ("", Install(kChosenFolder, "", c.whileDialog)) << "the install told of a failure";
        ASSERT_TRUE(FileExists(kRecord));
        if (c.afterInstall)
            c.afterInstall();

        std::string text = Uninstall();
        if (c.named.empty()) {
            EXPECT_EQ(kRemoved, text);
        } else {
            EXPECT_EQ(0u, text.rfind(kNotRemoved, 0)) << text;
            EXPECT_EQ(c.named, NamedItems(text));
        }
        if (c.secondRun) {
            // What is still to be done keeps the entry, and the record,
            // rewritten with that alone.
            EXPECT_EQ("T-批打印软件", EntryText("DisplayName"));
            const std::string record = ReadFile(kRecord);
            size_t files = 0;
            for (size_t at = record.find("\nF\t"); at != std::string::npos; at = record.find("\nF\t", at + 1))
                ++files;
            EXPECT_EQ(1u, files) << record;
            EXPECT_NE(std::string::npos, record.find("\t" + cadA + "\\itextsharp.dll\r\n")) << record;
            held.Release();
            text = Uninstall();
            EXPECT_EQ(kRemoved, text);
        }

        std::set<std::string> expected = c.kept;
        expected.insert({RemovalFolder(), kUninstaller});
        EXPECT_EQ(expected, Differences(before, Snapshot()));
        if (c.afterRemoval)
            c.afterRemoval();
        EXPECT_NE(std::string::npos, PendingAtRestart().find(Lower(kUninstaller) + "||"))
            << "the uninstaller is not removed at the next restart: " << PendingAtRestart();
    }
}

// Nothing is written or deleted through a link: not the uninstaller and its
// record, when their folder is a link into another folder; not the files of
// an install folder swapped for a link to a copy of it, nor a file behind a
// file link that has the very bytes the record lists. Under Wine a Unix
// symbolic link is what a program sees as a junction or a file link.
TEST_F(UninstallTest, NothingIsWrittenOrDeletedThroughALink) {
    ScratchFolder victims("uninstall-victim");
    const std::string copy = victims / "copy";
    const std::string victimDll = victims / "itextsharp.dll";
    auto victimState = [&] {
        State state;
        AddFolder(victims.Path(), state);
        return state;
    };

    {
        SCOPED_TRACE("the removal folder is a link");
        PlantedLink link(RemovalFolder(), victims.Path());
        ASSERT_TRUE(link.IsMade());
        const State before = victimState();
        const std::string told = Install(kChosenFolder);
        EXPECT_NE(std::string::npos, told.find(RemovalFolder())) << told;
        EXPECT_EQ(before, victimState()) << "written through the link";
        EXPECT_EQ("(absent)", EntryText("UninstallString"));
    }

    Reset();
    ASSERT_EQ("", Install(kChosenFolder));
    {
        SCOPED_TRACE("the install folder is swapped for a link to a copy of it");
        ASSERT_TRUE(RunUnixTool("/bin/mv", {UnixPathOf(kInstallDir), UnixPathOf(victims.Path()) + "/copy"},
                                [&] { return FolderExists(copy); }));
        PlantedLink link(kInstallDir, copy);
        ASSERT_TRUE(link.IsMade());
        ASSERT_TRUE(DeleteFileA((cadA + "\\itextsharp.dll").c_str()));
        WriteFile(victimDll, "content of itextsharp.dll");
        PlantedLink fileLink(cadA + "\\itextsharp.dll", victimDll);
        ASSERT_TRUE(fileLink.IsMade());
        const State before = victimState();

        const std::string text = Uninstall();
        std::set<std::string> named = {cadA + "\\itextsharp.dll"};
        for (const std::string& name : FolderNames(copy))
            named.insert(kInstallDir + "\\" + name);
        EXPECT_EQ(named, NamedItems(text)) << text;
        EXPECT_EQ(before, victimState()) << "deleted through a link";
        // The rest is removed.
        EXPECT_FALSE(FileExists(cadB + "\\itextsharp.dll"));
        EXPECT_FALSE(FileExists(SettingsFolder() + "\\Tovrel.Ini"));
    }
}

// A kill at any moment of the removal (a power cut, the task manager)
// leaves what a second run of the uninstaller finishes: the kills land on
// counted calls spread over the whole removal (registry, files, folders, the
// end). The uninstaller is the test build, left by an install from it.
TEST_F(UninstallTest, AKilledRemovalIsFinishedByASecondRun) {
    SetupLayout faults("SetUpFaults.exe");
    faults.WritePackage();
    const State before = Snapshot();
    const std::set<std::string> left = {RemovalFolder(), kUninstaller};

    ASSERT_EQ("", Install(kChosenFolder, faults.Exe()));
    Arming count;
    EXPECT_EQ(kRemoved, Uninstall(IDYES, &count));
    ASSERT_TRUE(count.seam);
    const LONG calls = count.seam->Calls();
    ASSERT_GT(calls, 20);
    ASSERT_EQ(left, Differences(before, Snapshot()));

    constexpr int kKills = 6;
    for (int kill = 1; kill <= kKills; ++kill) {
        Arming arming;
        arming.pauseAt = calls * kill / (kKills + 1);
        SCOPED_TRACE("killed before call " + std::to_string(arming.pauseAt) + " of " + std::to_string(calls));
        Reset();
        ASSERT_EQ("", Install(kChosenFolder, faults.Exe()));
        EXPECT_EQ("(killed)", Uninstall(IDYES, &arming));
        // Killed after the record went, there is nothing left to run for.
        const std::string text = Uninstall();
        EXPECT_TRUE(text == kRemoved || text == kNoRecord) << text;
        EXPECT_EQ(left, Differences(before, Snapshot()));
    }
}

// A package handed out read-only: C:\ReadOnlyPackage, laid by
// readonly_package.sh as another Unix user's folder (modes 0555, 0444) that
// this user may only read, its files dated a day back, readme.txt with a
// download mark. Neither the bits nor the mark can go; every file installs
// all the same, none read-only, with no box, and the removal removes them
// all. Wine has no streams: the mark is the file "readme.txt:Zone.Identifier",
// as Wine shows one; a stream of readme.txt on Windows is not seen here.
TEST_F(UninstallTest, InstallsAndRemovesAPackageItMayOnlyRead) {
    const std::string package = "C:\\ReadOnlyPackage";
    ASSERT_TRUE(FileExists(package + "\\SetUp.exe")) << "laid by tests/program/readonly_package.sh";
    const State before = Snapshot();

    ASSERT_EQ("", Install(kChosenFolder, package + "\\SetUp.exe"));
    std::vector<std::string> placed = {SettingsFolder() + "\\Tovrel.Ini"};
    for (const char* name : {"TR_VazivIvir2023.GRX", "itextsharp.dll", "GCAD2024P.dll", "Tovrel.lsp", "readme.txt"})
        placed.push_back(kInstallDir + "\\" + name);
    for (const char* name : {"itextsharp.dll", "GCAD2024P.dll"})
        placed.push_back(cadB + "\\" + name);
    placed.push_back(cadA + "\\Fonts\\Tovrel_EN.shx");
    for (const std::string& path : placed) {
        SCOPED_TRACE(path);
        const std::string name = path.substr(path.rfind('\\') + 1);
        EXPECT_EQ("content of " + name, ReadFile(path));
        const DWORD attributes = GetFileAttributesA(path.c_str());
        EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_READONLY) << std::hex << attributes;
    }
    EXPECT_EQ(
        (std::set<std::string>{"GCAD2024P.dll", "itextsharp.dll", "readme.txt", "Tovrel.lsp", "TR_VazivIvir2023.GRX"}),
        FolderNames(kInstallDir));

    EXPECT_EQ(kRemoved, Uninstall());
    EXPECT_EQ((std::set<std::string>{RemovalFolder(), kUninstaller}), Differences(before, Snapshot()));
}

// The removal hands the uninstaller and its folder to the next restart; an
// install before the restart takes exactly that back: another program's
// pending rename stays, byte for byte, and the new uninstaller is no longer
// due to go. Wine never restarts: the list is read instead.
// The levels the folder chooser made for the install folder are this
// install's, and go with it once empty; a level that was there stays.
TEST_F(UninstallTest, LevelsTheChooserMadeGoWithTheInstall) {
    const std::string typed = cads / "New\\Lvl2";
    SetupDriver setup;
    ASSERT_TRUE(setup.Start(layout.Exe()));
    setup.Press(IDC_BROWSE);
    const HWND browser = setup.WaitForBox("请选择安装目录：").window;
    ASSERT_NE(nullptr, browser);
    ASSERT_TRUE(SetupDriver::WaitUntil([&] { return GetDlgItem(browser, 14148) != nullptr; }));
    SendMessageTimeoutA(GetDlgItem(browser, 14148), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    SetupDriver::Answer(browser, IDOK);
    const MessageBoxInfo question = setup.WaitForBox("SetUp");
    ASSERT_NE(nullptr, question.window);
    SetupDriver::Answer(question.window, IDYES);
    ASSERT_TRUE(SetupDriver::WaitUntil([&] { return !IsWindow(browser); }));
    setup.Press(IDC_INSTALL);
    ASSERT_TRUE(setup.WaitForCompletionView());
    setup.Press(IDOK);
    EXPECT_TRUE(setup.WaitForExit(10000));
    ASSERT_TRUE(FileExists(typed + "\\T-VazivIvir\\TR_VazivIvir2023.GRX"));

    EXPECT_EQ(kRemoved, Uninstall());
    EXPECT_FALSE(FolderExists(cads / "New"));
    EXPECT_TRUE(FolderExists(cads.Path()));
}

TEST_F(UninstallTest, AnInstallBeforeTheRestartTakesTheUninstallersDeleteBack) {
    ASSERT_EQ("", Install(kChosenFolder));
    ASSERT_EQ(kRemoved, Uninstall());
    const std::string ours = PendingBytes();
    ASSERT_NE(std::string::npos, PendingAtRestart().find(Lower(kUninstaller) + "||")) << PendingAtRestart();
    const std::wstring otherPair = std::wstring(L"\\??\\C:\\other.tmp") + L'\0' + L"\\??\\C:\\other.dll" + L'\0';
    const std::string other(reinterpret_cast<const char*>(otherPair.data()), otherPair.size() * sizeof(wchar_t));
    const std::string listed = other + ours;
    // Windows 10 and 11 append to the second list where it is, with a mark
    // before the prefix (Wine writes neither).
    const std::wstring marked = L"*1\\??\\" + std::wstring(kUninstaller.begin(), kUninstaller.end()) + L'\0' + L'\0';
    const std::string secondListed =
        other + std::string(reinterpret_cast<const char*>(marked.data()), marked.size() * sizeof(wchar_t)) +
        std::string(2, '\0');
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.Receive()));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.Get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                                 reinterpret_cast<const BYTE*>(listed.data()), static_cast<DWORD>(listed.size())));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"PendingFileRenameOperations2", 0, REG_MULTI_SZ,
                                                reinterpret_cast<const BYTE*>(secondListed.data()),
                                                static_cast<DWORD>(secondListed.size())));
    }

    ASSERT_EQ("", Install(kChosenFolder));
    EXPECT_EQ(other + std::string(2, '\0'), PendingBytes()) << PendingAtRestart();
    EXPECT_EQ(other + std::string(2, '\0'), PendingBytes(L"PendingFileRenameOperations2"));
    EXPECT_TRUE(FileExists(kUninstaller));
    EXPECT_EQ("\"" + kUninstaller + "\"", EntryText("UninstallString"));
}

// Runs that end before removing anything change nothing: the question
// answered No, the CAD still running when the user gives up waiting, and a
// run that finds no record.
TEST_F(UninstallTest, RunsThatEndEarlyChangeNothing) {
    ASSERT_EQ("", Install(kChosenFolder));
    const struct {
        const char* name;
        std::function<std::string()> run;
        std::string told;
    } cases[] = {
        {"answered No", [] { return Uninstall(IDNO); }, "(no box)"},
        {"the CAD runs",
         [] {
             CadStandin cad;
             EXPECT_TRUE(cad.Start(kProfileA, true));
             EXPECT_TRUE(cad.WaitForReport(10000)) << cad.Output();
             SetupDriver run;
             EXPECT_TRUE(run.Launch(kUninstaller));
             MessageBoxInfo box = run.WaitForBox(kInstallBoxCaption, 20000);
             EXPECT_EQ(kConfirm, box.text);
             std::string told;
             // Retry asks again while the CAD still runs; Cancel ends.
             for (int answer : {IDYES, IDRETRY, IDCANCEL}) {
                 SetupDriver::Answer(box.window, answer);
                 SetupDriver::WaitUntil([&] { return !IsWindow(box.window); });
                 if (answer == IDCANCEL)
                     break;
                 box = run.WaitForBox(kInstallBoxCaption, 20000);
                 told += box.text + "|";
             }
             EXPECT_TRUE(run.WaitForExit(20000));
             return told;
         },
         std::string(kCloseCad) + "|" + kCloseCad + "|"},
        {"no record",
         [] {
             EXPECT_TRUE(DeleteFileA(kRecord.c_str()));
             return Uninstall();
         },
         kNoRecord},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        State before = Snapshot();
        before.erase(kRecord);
        EXPECT_EQ(c.told, c.run());
        State after = Snapshot();
        after.erase(kRecord);
        EXPECT_EQ(before, after);
        EXPECT_EQ("", PendingAtRestart());
    }
}

// The session's user as the test build is to find it, while the handle is
// held; invalid if it cannot be named.
CAutoHandle NameDeskUser(const char* sid, const char* account) {
    CAutoHandle section(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           sizeof(CFaultSeamDesktopUser), kFaultSeamDesktopUserSection));
    auto* user = static_cast<CFaultSeamDesktopUser*>(MapViewOfFile(section.Get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!user)
        return CAutoHandle();
    snprintf(user->sid, sizeof(user->sid), "%s", sid);
    snprintf(user->account, sizeof(user->account), "%s", account);
    UnmapViewOfFile(user);
    return section;
}

// Over-the-shoulder elevation: a standard user at the desk, the program
// elevated with an administrator's name and so running as that
// administrator. The test build takes the session's user from the test
// (the one step Wine cannot show: it has one user in one session); that
// user's hive is loaded for real under HKEY_USERS (as at logon) and
// unloaded (as at logoff), and the ProfileList entry names a profile folder
// in the prefix. Wine cannot show a standard user's rights: the program
// writes that hive and folder as the administrator it is, which restricts
// nothing here.
TEST_F(UninstallTest, InstallsAndRemovesForTheUserAtTheDesk) {
    constexpr char kDeskSid[] = "S-1-5-21-7-7-7-1001";
    constexpr char kOwnSid[] = "S-1-5-21-0-0-0-1000";  // Wine's one user
    const std::string deskVendor = std::string("HKU\\") + kDeskSid + "\\SOFTWARE\\Gstarsoft";
    const std::string deskProfile = deskVendor + "\\GstarCAD\\R25\\Profiles\\Desk";
    const std::string cadDesk = cads / "CAD Desk";
    ScratchFolder home("setup-desk-home");
    const std::string victim = home / "Victim";
    ScratchFolder hiveFolder("setup-desk-hive");
    UserHive hive(kDeskSid, home / "Profile", hiveFolder / "NTUSER.DAT");
    const std::string roaming = hive.Roaming();
    const std::vector<std::string> own = {"HKCU\\SOFTWARE\\Gstarsoft", SettingsFolder(), cadA, cadB};
    const std::vector<std::string> desk = {deskVendor, roaming, cadDesk};
    SetupLayout faults("SetUpFaults.exe");
    faults.WritePackage();
    ASSERT_TRUE(hive.Load()) << "RegLoadKey: " << GetLastError();
    for (const std::string& folder : {home / "Profile", home / "Profile\\AppData", roaming, victim})
        CreateDirectoryA(folder.c_str(), nullptr);

    auto state = [&] {
        State state = Snapshot();
        CRegKey vendor;
        if (RegOpenKeyExA(HKEY_USERS, deskVendor.substr(4).c_str(), 0, KEY_READ, vendor.Receive()) == ERROR_SUCCESS)
            AddKey(vendor.Get(), deskVendor, state);
        AddFolder(home.Path(), state);
        return state;
    };
    auto within = [](const std::string& path, const std::string& place) {
        const std::string lower = Lower(path);
        const std::string prefix = Lower(place);
        return lower == prefix || lower.rfind(prefix + "\\", 0) == 0 || lower.rfind(prefix + "|", 0) == 0;
    };

    const struct {
        const char* name;
        const char* sid;      // the user at the desk during the install
        bool atDeskToRemove;  // else logged off, and an administrator removes it
        bool linkedSettings;  // that user's Tovrel folder a link to another folder
        bool unknownRoaming;  // that user's AppData unreadable
    } cases[] = {
        {"another user, who removes it too", kDeskSid, true, false, false},
        {"another user, logged off when an administrator removes it", kDeskSid, false, false, false},
        {"another user whose Tovrel folder is a link", kDeskSid, true, true, false},
        {"another user whose AppData cannot be read", kDeskSid, true, false, true},
        {"the program's own user", kOwnSid, true, false, false},
    };
    const std::string shellFolders =
        std::string(kDeskSid) + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        RegDeleteTreeA(HKEY_USERS, deskVendor.substr(4).c_str());
        RemoveTree(roaming + "\\Tovrel");
        ASSERT_TRUE(MakeCadFolder(cadDesk));
        ASSERT_TRUE(SetUsersValue(deskProfile.substr(4), "Location", REG_SZ, cadDesk));
        std::unique_ptr<PlantedLink> link;
        if (c.linkedSettings) {
            link = std::make_unique<PlantedLink>(roaming + "\\Tovrel", victim);
            ASSERT_TRUE(link->IsMade());
        }
        ASSERT_TRUE(SetUsersValue(shellFolders, "AppData", c.unknownRoaming ? REG_BINARY : REG_EXPAND_SZ,
                                  "%USERPROFILE%\\AppData\\Roaming"));
        const bool forDesk = std::string(c.sid) == kDeskSid;
        const State before = state();

        CAutoHandle named = NameDeskUser(c.sid, "");
        ASSERT_TRUE(named.IsValid());
        const std::string told = Install(kChosenFolder, faults.Exe());
        if (c.linkedSettings)
            EXPECT_NE(std::string::npos, told.find(roaming + "\\Tovrel")) << told;
        else if (c.unknownRoaming)
            EXPECT_NE(std::string::npos,
                      told.find(std::string("HKEY_USERS\\") + kDeskSid + ": %APPDATA%\\Tovrel\\Tovrel.Ini"))
                << told;
        else
            EXPECT_EQ("", told) << "the install told of a failure";

        // Discovery, registration and the settings file reached the user
        // at the desk, and nothing of the other user's changed.
        const std::set<std::string> changed = Differences(before, state());
        for (const std::string& path : changed) {
            for (const std::string& other : forDesk ? own : desk)
                EXPECT_FALSE(within(path, other)) << path;
        }
        const std::string registered = forDesk ? deskProfile : Profile(kProfileA);
        EXPECT_EQ(1u, changed.count(registered + "\\Applications\\TR_VazivIvir2025|LOADER"));
        EXPECT_EQ(c.linkedSettings || c.unknownRoaming ? 0u : 1u,
                  changed.count((forDesk ? roaming + "\\Tovrel" : SettingsFolder()) + "\\Tovrel.Ini"));
        EXPECT_TRUE(FolderNames(victim).empty());
        EXPECT_EQ(forDesk, ReadFile(kRecord).find(std::string("\nU\t") + kDeskSid + "\r\n") != std::string::npos);

        if (!c.atDeskToRemove) {
            named.Close();
            ASSERT_TRUE(hive.Unload());
            EXPECT_EQ(std::set<std::string>{"HKEY_USERS\\" + std::string(kDeskSid) + "\\SOFTWARE\\Gstarsoft"},
                      NamedItems(Uninstall()));
            ASSERT_TRUE(hive.Load());
        }
        EXPECT_EQ(kRemoved, Uninstall());
        EXPECT_EQ((std::set<std::string>{RemovalFolder(), kUninstaller}), Differences(before, state()));
    }
    RegDeleteTreeA(HKEY_USERS, deskVendor.substr(4).c_str());
}

// A user at the desk whose profiles cannot be reached (the hive not
// loaded, or no SID found for the account) is named when the dialog comes
// up, and nobody is served in that user's place: the program's own user's
// CAD is not offered. Wine cannot show an account without a SID: the test
// build's session answer stands for it.
TEST_F(UninstallTest, AUserAtTheDeskWhoCannotBeReachedIsNamedAndNobodyServedInstead) {
    SetupLayout faults("SetUpFaults.exe");
    faults.WritePackage();
    const struct {
        const char* sid;
        const char* account;
        const char* named;
    } cases[] = {
        {"S-1-5-21-7-7-7-1002", "", "HKEY_USERS\\S-1-5-21-7-7-7-1002\\SOFTWARE\\Gstarsoft"},
        {"", "DESK\\bob", "HKEY_USERS\\DESK\\bob\\SOFTWARE\\Gstarsoft"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        const CAutoHandle named = NameDeskUser(c.sid, c.account);
        ASSERT_TRUE(named.IsValid());
        SetupDriver setup;
        ASSERT_TRUE(setup.Launch(faults.Exe()));
        const MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption, 20000);
        ASSERT_NE(nullptr, box.window);
        EXPECT_NE(std::string::npos, box.text.find(c.named)) << box.text;
        SetupDriver::Answer(box.window, IDOK);
        ASSERT_TRUE(setup.AttachToRunning());
        EXPECT_FALSE(setup.IsEnabled(IDC_INSTALL));
        EXPECT_FALSE(setup.IsEnabled(IDC_BOX2025));
        SetupDriver::Answer(setup.Dialog(), IDCANCEL);
        EXPECT_TRUE(setup.WaitForExit(10000));
    }
}

}  // namespace
