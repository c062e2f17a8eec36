// The package copier against real files, a real progress bar and a second
// process that holds a target open. The copier finds its package beside the
// running executable, so most tests run again in a relocated copy of the
// test executable (tests/support/DeployChild.h).

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "deploy/PackageCopier.h"
#include "framework/Handle.h"
#include "framework/Mbcs.h"
#include "tests/support/DeployChild.h"
#include "tests/support/DeployFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

using deploytest::CActiveWindow;
using deploytest::CMessageBoxRecorder;
using deploytest::CPrompt;
using deploytest::CTestProgressBar;
using deploytest::ExpectPassesRelocated;
using deploytest::FolderNames;
using deploytest::IsRelocatedChild;
using testsupport::ReadFile;
using testsupport::RemoveTree;
using testsupport::WriteFile;

const char kCaption[] = "T-软件安装";
const char kMarker[] = "TR_VazivIvir2023.grx";

std::string CopyFailedText(const std::string& target) {
    return "拷贝文件 " + target + " 失败，可能原因如下：\n\n1、CAD未关闭\n\n2、系统权限未开放，请以管理者权限登陆系统";
}

// The package copy as a first install for this process's user runs it.
bool CopyPackage(CCopyJob& job) {
    CInstallRun run;
    return CopyPackageFiles(job, run);
}

std::string ParentFolder(const std::string& path) {
    const int slash = mbcs::ReverseFindChar(path.c_str(), static_cast<int>(path.size()), '\\');
    return path.substr(0, slash > 0 ? static_cast<size_t>(slash) : 0);
}

// The relocated executable lies in <root>\setup; the package goes into
// <root>\setup\Data unless a test puts it beside the executable, the install
// folder is <root>\install\T-VazivIvir and APPDATA points at <root>\roaming.
class CPackageBench {
  public:
    CPackageBench()
        : setup(testsupport::ExeFolder()),
          root(ParentFolder(setup)),
          data(setup + "\\Data"),
          install(root + "\\install\\T-VazivIvir"),
          roaming(root + "\\roaming"),
          settings(roaming + "\\Tovrel") {
        Reset();
    }
    ~CPackageBench() {
        Reset();
        RemoveTree(data);
    }
    CPackageBench(const CPackageBench&) = delete;
    CPackageBench& operator=(const CPackageBench&) = delete;

    // An empty package folder, no install folder below its (existing) parent,
    // and an empty roaming folder named by APPDATA.
    void Reset() {
        RemoveTree(data);
        RemoveTree(ParentFolder(install));
        RemoveTree(roaming);
        CreateDirectoryA(data.c_str(), nullptr);
        CreateDirectoryA(ParentFolder(install).c_str(), nullptr);
        CreateDirectoryA(roaming.c_str(), nullptr);
        SetEnvironmentVariableA("APPDATA", roaming.c_str());
    }

    // Each file's content is its own name, so a copy can be traced back.
    void AddFiles(const std::vector<std::string>& names, const std::string& folder = "") {
        for (const std::string& name : names)
            ASSERT_TRUE(WriteFile((folder.empty() ? data : folder) + "\\" + name, name)) << name;
    }

    const std::string setup;
    const std::string root;
    const std::string data;
    const std::string install;
    const std::string roaming;
    const std::string settings;
};

TEST(CCopyJobTest, CutsOneTrailingBackslashCharacter) {
    const struct {
        const char* folder;
        const char* expected;
    } cases[] = {
        {"C:\\Tovrel\\T-VazivIvir", "C:\\Tovrel\\T-VazivIvir"},
        {"C:\\Tovrel\\", "C:\\Tovrel"},
        {"C:\\Tovrel\\\\", "C:\\Tovrel\\"},
        {"C:\\", "C:"},
        {"\\", ""},
        {"", ""},
        // The last byte is the trail byte of 乗, not a backslash.
        {"C:\\批打印乗", "C:\\批打印乗"},
        {"C:\\批打印乗\\", "C:\\批打印乗"},
    };
    CTestProgressBar bar;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        CCopyJob job(c.folder, bar.Control());
        EXPECT_EQ(std::string(c.expected), job.targetFolder.GetString());
        EXPECT_EQ(bar.Control(), job.progressCtrl);
    }
}

TEST(RemoveZoneIdentifierTest, DeletesOnlyTheOpenFilesMark) {
    // The mark is opened relative to the file's own handle. Wine has no
    // alternate data streams: there it finds none, and an entry named like
    // a mark (an ordinary file on Wine) is not what goes, nor the file.
    // That a real stream of an NTFS file goes while the file stays cannot be
    // checked here.
    testsupport::ScratchFolder scratch("zone");
    const std::string file = scratch / "plugin.grx";
    ASSERT_TRUE(WriteFile(file, "x"));
    ASSERT_TRUE(WriteFile(file + ":Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n"));
    {
        CAutoHandle open(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(open.IsValid()) << "error " << GetLastError();
        EXPECT_FALSE(RemoveZoneIdentifier(open.Get())) << "a mark where Wine has no streams";
    }
    EXPECT_TRUE(testsupport::FileExists(file));
    EXPECT_TRUE(testsupport::FileExists(file + ":Zone.Identifier"));
}

// Wine's drives report no named streams, so the copier does not delete a
// mark per file there; the only mark such a volume can show is an entry of
// its own name, which goes instead of being copied. On NTFS the per-file
// delete stays (not to be seen here).
TEST(CopyPackageFilesTest, AMarkShownAsAnEntryIsDeletedNotCopied) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});
    CPackageBench bench;
    bench.AddFiles({"a.dat", "a.dat:Zone.Identifier"});
    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ(0u, boxes.Prompts().size());
    EXPECT_EQ(std::set<std::string>{"a.dat"}, FolderNames(bench.install));
    EXPECT_FALSE(testsupport::FileExists(bench.data + "\\a.dat:Zone.Identifier"));
}

TEST(CopyPackageFilesTest, CopiesThePackageAndLeavesOutTheSkippedFiles) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    const std::vector<std::string> installed = {kMarker,  "Tovrel.dll",    "中文说明.txt",
                                                "乗.dat", "setup.exe.bak", "Tovrel.Ini.old"};
    // Skipped files and the settings file, in the design's spelling and in
    // other letter cases.
    const std::vector<std::vector<std::string>> spellings = {
        {"SetUp.EXE", "Tovrel_EN.shx", "Tovrel_HZ.shx", "Tovrel.prt5", "Tovrel.Ini"},
        {"setup.exe", "TOVREL_EN.SHX", "tovrel_hz.SHX", "TOVREL.PRT5", "tovrel.ini"},
        {"SETUP.EXE", "tovrel_en.shx", "TOVREL_HZ.shx", "tovrel.Prt5", "TOVREL.INI"},
    };
    CPackageBench bench;
    CTestProgressBar bar;
    ASSERT_TRUE(bar.IsValid()) << "error " << GetLastError();
    for (const auto& names : spellings) {
        SCOPED_TRACE(names[4]);
        bench.Reset();
        bar.Reset();
        bench.AddFiles(installed);
        bench.AddFiles(names);

        CMessageBoxRecorder boxes;
        CCopyJob job(bench.install.c_str(), bar.Control());
        EXPECT_TRUE(CopyPackage(job));
        EXPECT_EQ(0u, boxes.Prompts().size());
        EXPECT_EQ(std::set<std::string>(installed.begin(), installed.end()), FolderNames(bench.install));
        for (const std::string& name : installed)
            EXPECT_EQ(name, ReadFile(bench.install + "\\" + name)) << name;
        // The settings file keeps the letter case in which it was found.
        EXPECT_EQ(std::set<std::string>{names[4]}, FolderNames(bench.settings));
        EXPECT_EQ(names[4], ReadFile(bench.settings + "\\" + names[4]));
        // ".", "..", and each entry, plus the pass that finds no more.
        EXPECT_EQ(2 + 11 + 1, bar.Steps());
    }
}

TEST(CopyPackageFilesTest, PackageBesideTheSetupLeavesTheSetupOut) {
    // The setup executable's own name in another letter case.
    if (!IsRelocatedChild()) {
        deploytest::ChildLayout layout{"setup"};
        layout.exeName = "setup.EXE";
        return ExpectPassesRelocated(layout);
    }

    CPackageBench bench;
    RemoveTree(bench.data);
    bench.AddFiles({kMarker, "Tovrel.dll"}, bench.setup);
    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ((std::set<std::string>{kMarker, "Tovrel.dll"}), FolderNames(bench.install));
    EXPECT_EQ(0u, boxes.Prompts().size());
}

TEST(CopyPackageFilesTest, PackageBesideTheSetupCopiesAnExecutableOfAnotherName) {
    if (!IsRelocatedChild()) {
        deploytest::ChildLayout layout{"setup"};
        layout.exeName = "Installer.exe";
        return ExpectPassesRelocated(layout);
    }

    CPackageBench bench;
    RemoveTree(bench.data);
    bench.AddFiles({kMarker}, bench.setup);
    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ((std::set<std::string>{kMarker, "Installer.exe"}), FolderNames(bench.install));
    EXPECT_EQ(0u, boxes.Prompts().size());
}

TEST(CopyPackageFilesTest, SkipsSubFoldersWithoutAPrompt) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    // Folders as Wine reports them: plain (0x10) and a dot-name, which reads
    // as hidden (0x12). The read-only and archive bits are asked for too;
    // whether they stick depends on the file system under the prefix.
    const std::vector<std::string> folders = {"plain", ".hidden", "readonly", "archived"};
    for (const std::string& name : folders) {
        ASSERT_TRUE(CreateDirectoryA((bench.data + "\\" + name).c_str(), nullptr)) << name;
        bench.AddFiles({"inside.txt"}, bench.data + "\\" + name);
    }
    SetFileAttributesA((bench.data + "\\readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((bench.data + "\\archived").c_str(), FILE_ATTRIBUTE_ARCHIVE);
    bench.AddFiles({kMarker});

    int withFurtherBits = 0;
    for (const std::string& name : folders) {
        const DWORD attributes = deploytest::Attributes(bench.data + "\\" + name);
        ASSERT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY) << name;
        std::printf("folder %s: attributes 0x%lx\n", name.c_str(), attributes);
        if (attributes != FILE_ATTRIBUTE_DIRECTORY)
            ++withFurtherBits;
    }
    ASSERT_GE(withFurtherBits, 1) << "no folder with bits beyond 0x10 could be made";

    CTestProgressBar bar;
    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), bar.Control());
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ(0u, boxes.Prompts().size()) << (boxes.Prompts().empty() ? "" : boxes.Prompts()[0].text);
    EXPECT_EQ(std::set<std::string>{kMarker}, FolderNames(bench.install));
    EXPECT_EQ(2 + 5 + 1, bar.Steps());
    SetFileAttributesA((bench.data + "\\readonly").c_str(), FILE_ATTRIBUTE_DIRECTORY);
}

TEST(CopyPackageFilesTest, ReadOnlyFilesLoseTheirBit) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    bench.AddFiles({"source-ro.dat", "target-ro.dat", "Tovrel.Ini"});
    ASSERT_TRUE(SetFileAttributesA((bench.data + "\\source-ro.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA((bench.data + "\\Tovrel.Ini").c_str(), FILE_ATTRIBUTE_READONLY));
    // Left read-only by an earlier install, in both destinations.
    ASSERT_TRUE(CreateDirectoryA(bench.install.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(bench.settings.c_str(), nullptr));
    for (const std::string& old : {bench.install + "\\target-ro.dat", bench.settings + "\\Tovrel.Ini"}) {
        ASSERT_TRUE(WriteFile(old, "earlier install"));
        ASSERT_TRUE(SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ(0u, boxes.Prompts().size());
    // As root, Wine lets CopyFileA overwrite a read-only target anyway (the
    // bit is a Unix mode that root ignores), so that the bit must be cleared
    // before the copy for it to succeed cannot be shown here; what can be
    // shown is that no bit is left anywhere and the content is new.
    for (const std::string& path :
         {bench.data + "\\source-ro.dat", bench.data + "\\Tovrel.Ini", bench.install + "\\source-ro.dat",
          bench.install + "\\target-ro.dat", bench.settings + "\\Tovrel.Ini"}) {
        SCOPED_TRACE(path);
        const DWORD attributes = deploytest::Attributes(path);
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "error " << GetLastError();
        EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY) << std::hex << attributes;
    }
    EXPECT_EQ("target-ro.dat", ReadFile(bench.install + "\\target-ro.dat"));
    EXPECT_EQ("Tovrel.Ini", ReadFile(bench.settings + "\\Tovrel.Ini"));
}

// The copier writes copies itself (to rename them by handle): they must come
// out as CopyFileA made them: whole, with the source's last-write time and
// its hidden bit, over an earlier install's file of any size.
TEST(CopyPackageFilesTest, CopiesAreWholeWithTheSourcesTimeAndBits) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    const std::string large(600 * 1024 + 7, 'q');  // more than one buffer
    ASSERT_TRUE(WriteFile(bench.data + "\\large.dat", large));
    ASSERT_TRUE(WriteFile(bench.data + "\\empty.dat", ""));
    bench.AddFiles({"hidden.dat"});
    // Written long ago, so that a copy stamped with the time of copying shows.
    const FILETIME past = {0x3a0f4000, 0x01d5c0a0};  // early 2020
    for (const char* name : {"large.dat", "empty.dat", "hidden.dat"}) {
        CAutoHandle file(CreateFileA((bench.data + "\\" + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &past)) << name;
    }
    ASSERT_TRUE(SetFileAttributesA((bench.data + "\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(CreateDirectoryA(bench.install.c_str(), nullptr));
    ASSERT_TRUE(WriteFile(bench.install + "\\large.dat", std::string(2 * large.size(), 'o')));

    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ(0u, boxes.Prompts().size());
    EXPECT_EQ(large, ReadFile(bench.install + "\\large.dat"));
    EXPECT_EQ("", ReadFile(bench.install + "\\empty.dat"));
    EXPECT_EQ("hidden.dat", ReadFile(bench.install + "\\hidden.dat"));
    EXPECT_TRUE(deploytest::Attributes(bench.install + "\\hidden.dat") & FILE_ATTRIBUTE_HIDDEN);
    for (const char* name : {"large.dat", "empty.dat", "hidden.dat"}) {
        WIN32_FILE_ATTRIBUTE_DATA copy = {};
        ASSERT_TRUE(GetFileAttributesExA((bench.install + "\\" + name).c_str(), GetFileExInfoStandard, &copy));
        EXPECT_EQ(0, CompareFileTime(&past, &copy.ftLastWriteTime)) << name;
    }
}

ULONGLONG FileIdOf(const std::string& path) {
    CAutoHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file.Get(), &info))
        return 0;
    return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// An install over an earlier one passes over a file only while it is the
// copy that install placed, of the very package file, unchanged since;
// anything else the user or a newer package changed is placed again, a
// newer package of the same sizes and dates included. What is passed over
// keeps its stamp in the record, or the removal could not tell it.
TEST(CopyPackageFilesTest, AnInstallOverAnEarlierOnePassesOverOnlyWhatIsAsItPlacedIt) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    const struct {
        const char* name;
        std::function<void(const std::string& source, const std::string& copy)> change;
        bool passedOver;
    } cases[] = {
        {"unchanged.dat", {}, true},
        {"edited.dat", [](const std::string&, const std::string& copy) { WriteFile(copy, "EDITED.DAT"); }, false},
        {"replaced.dat",
         [](const std::string&, const std::string& copy) {
             const std::string moved = copy + ".old";
             ASSERT_TRUE(MoveFileA(copy.c_str(), moved.c_str()));
             ASSERT_TRUE(CopyFileA(moved.c_str(), copy.c_str(), FALSE));
         },
         false},
        {"hidden.dat",
         [](const std::string&, const std::string& copy) {
             ASSERT_TRUE(SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_HIDDEN));
         },
         false},
        {"newer.dat", [](const std::string& source, const std::string&) { WriteFile(source, "NEWER.DAT"); }, false},
        // Unpacked over the old package, dated as the archive has it.
        {"same size and date.dat",
         [](const std::string& source, const std::string&) {
             FILETIME written = {};
             {
                 CAutoHandle file(CreateFileA(source.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
                 ASSERT_TRUE(GetFileTime(file.Get(), nullptr, nullptr, &written));
             }
             ASSERT_TRUE(WriteFile(source, "SAME SIZE AND DATE.DAT"));
             CAutoHandle file(
                 CreateFileA(source.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
             ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &written));
         },
         false},
    };
    const FILETIME past = {0x3a0f4000, 0x01d5c0a0};  // early 2020
    for (const auto& c : cases) {
        bench.AddFiles({c.name});
        CAutoHandle file(CreateFileA((bench.data + "\\" + c.name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &past)) << c.name;
    }
    // A package file changed within the last two seconds is copied again
    // whatever its stamp says, and no call sets its change time back: the
    // package is left to age, as a real one has by the time it is run.
    Sleep(2100);
    CMessageBoxRecorder boxes;
    CInstallRun firstRun;
    CCopyJob first(bench.install.c_str(), nullptr);
    ASSERT_TRUE(CopyPackageFiles(first, firstRun));
    std::vector<ULONGLONG> ids;
    for (const auto& c : cases) {
        if (c.change)
            c.change(bench.data + "\\" + c.name, bench.install + "\\" + c.name);
        ids.push_back(FileIdOf(bench.install + "\\" + c.name));
    }

    // The earlier install's record, as the next install reads it.
    CInstallRun secondRun;
    secondRun.earlier.state = CheckedResult::kDone;
    secondRun.earlier.record = firstRun.outcome.placed;
    CCopyJob second(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackageFiles(second, secondRun));
    EXPECT_EQ(0u, boxes.Prompts().size());
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string copy = bench.install + "\\" + cases[i].name;
        EXPECT_EQ(ReadFile(bench.data + "\\" + cases[i].name), ReadFile(copy));
        EXPECT_EQ(cases[i].passedOver, FileIdOf(copy) == ids[i]);
        EXPECT_FALSE(deploytest::Attributes(copy) & FILE_ATTRIBUTE_HIDDEN);
    }
    EXPECT_EQ(std::size(cases), secondRun.outcome.placed.Files().size());
    for (const CRecordedFile& file : secondRun.outcome.placed.Files())
        EXPECT_TRUE(file.id != 0 || !file.digest.empty()) << file.path.GetString() << " has no stamp";
}

// A second process that holds a file open with share mode 0.
class CFileHolder {
  public:
    explicit CFileHolder(const std::string& path) : m_path(path) {
        static int serial = 0;
        const std::string base =
            "deploy-hold-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
        m_ready.Reset(CreateEventA(nullptr, TRUE, FALSE, (base + "-ready").c_str()));
        m_release.Reset(CreateEventA(nullptr, TRUE, FALSE, (base + "-release").c_str()));
        const std::string exe = deploytest::OriginFolder() + "\\hold_file.exe";
        m_started = m_process.Start(exe, "\"" + path + "\" " + base + "-ready " + base + "-release");
        m_held = m_started && WaitForSingleObject(m_ready.Get(), 20000) == WAIT_OBJECT_0;
    }
    ~CFileHolder() { Release(); }
    CFileHolder(const CFileHolder&) = delete;
    CFileHolder& operator=(const CFileHolder&) = delete;

    bool IsHolding() const { return m_held && m_process.IsRunning(); }
    // Lets go of the file and waits until the holder has ended; true if it
    // ended normally and the file is free (a holder killed under Wine reports
    // exit code 0 as well).
    bool Release() {
        if (!m_started)
            return false;
        SetEvent(m_release.Get());
        DWORD exitCode = 99;
        const bool ended = m_process.Wait(20000, &exitCode);
        m_started = false;
        if (!ended || exitCode != 0)
            return false;
        CAutoHandle file(CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.IsValid();
    }

  private:
    std::string m_path;
    CAutoHandle m_ready;
    CAutoHandle m_release;
    testsupport::ChildProcess m_process;
    bool m_started = false;
    bool m_held = false;
};

TEST(CopyPackageFilesTest, LockedTargetAsksAbortRetryIgnore) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    CTestProgressBar bar;
    CActiveWindow window;
    ASSERT_NE(nullptr, window.Get()) << "error " << GetLastError();
    ASSERT_EQ(window.Get(), GetActiveWindow());
    const std::string held = bench.install + "\\m.dat";

    const struct {
        const char* name;
        std::vector<int> answers;  // IDRETRY while held, then the last answer after release
        bool result;
        int prompts;
        std::set<std::string> copiedWhole;
    } cases[] = {
        {"retry until released", {IDRETRY, IDRETRY, IDRETRY}, true, 3, {"a.dat", "m.dat", "z.dat"}},
        {"ignore", {IDIGNORE}, true, 1, {"a.dat", "z.dat"}},
        {"abort", {IDABORT}, false, 1, {"a.dat"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bench.Reset();
        bar.Reset();
        bench.AddFiles({"a.dat", "m.dat", "z.dat"});
        ASSERT_TRUE(CreateDirectoryA(bench.install.c_str(), nullptr));
        CFileHolder holder(held);
        ASSERT_TRUE(holder.IsHolding()) << "hold_file did not take " << held;

        CMessageBoxRecorder boxes([&](const CPrompt&, int index) {
            // The last retry comes after the holder has let go.
            if (index + 1 == static_cast<int>(c.answers.size()) && c.answers[index] == IDRETRY) {
                EXPECT_TRUE(holder.Release());
            }
            return index < static_cast<int>(c.answers.size()) ? c.answers[index] : IDABORT;
        });
        CCopyJob job(bench.install.c_str(), bar.Control());
        EXPECT_EQ(c.result, CopyPackage(job));
        holder.Release();

        ASSERT_EQ(static_cast<size_t>(c.prompts), boxes.Prompts().size());
        for (const CPrompt& prompt : boxes.Prompts()) {
            EXPECT_EQ(CopyFailedText(held), prompt.text);
            EXPECT_EQ(kCaption, prompt.caption);
            EXPECT_EQ(static_cast<UINT>(MB_ABORTRETRYIGNORE), prompt.type);
            EXPECT_EQ(window.Get(), prompt.owner);
        }
        for (const std::string name : {"a.dat", "m.dat", "z.dat"}) {
            const bool whole = c.copiedWhole.count(name) > 0;
            EXPECT_EQ(whole ? name : std::string(), ReadFile(bench.install + "\\" + name)) << name;
        }
        EXPECT_EQ(0u, FolderNames(bench.install).count("~tvcopy")) << "a temporary copy was left behind";
        // Abort stops in the pass of m.dat: ".", "..", a.dat, m.dat.
        EXPECT_EQ(c.result ? 2 + 3 + 1 : 4, bar.Steps());
    }
}

TEST(CopyPackageFilesTest, LeftoversOfAKilledRunDoNotStandInTheWay) {
    // A copy is made in the folder "~tvcopy" of its target folder and
    // renamed over its target; a run killed in between leaves it there, cut,
    // perhaps read-only (a read-only source whose bit could not be cleared).
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    bench.AddFiles({"a.dat", "b.dat"});
    const std::string temp = bench.install + "\\~tvcopy";
    ASSERT_TRUE(CreateDirectoryA(bench.install.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
    ASSERT_TRUE(WriteFile(temp + "\\a.dat", "cut"));
    ASSERT_TRUE(SetFileAttributesA((temp + "\\a.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteFile(bench.install + "\\b.dat", "old"));

    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ(0u, boxes.Prompts().size());
    EXPECT_EQ((std::set<std::string>{"a.dat", "b.dat"}), FolderNames(bench.install));
    EXPECT_EQ("a.dat", ReadFile(bench.install + "\\a.dat"));
    EXPECT_EQ("b.dat", ReadFile(bench.install + "\\b.dat"));

    // A file where the temporary folder goes: another name is used, and the
    // file stays as it was.
    ASSERT_TRUE(WriteFile(temp, "in the way"));
    CCopyJob again(bench.install.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(again));
    EXPECT_EQ(0u, boxes.Prompts().size());
    EXPECT_EQ((std::set<std::string>{"a.dat", "b.dat", "~tvcopy"}), FolderNames(bench.install));
    EXPECT_EQ("in the way", ReadFile(temp));
}

TEST(CopyPackageFilesTest, CopiesEveryEntryOfALargePackage) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    std::vector<std::string> names;
    for (int i = 0; i < 150; ++i)
        names.push_back("file" + std::to_string(1000 + i) + ".dat");
    bench.AddFiles(names);
    CTestProgressBar bar;
    CMessageBoxRecorder boxes;
    CCopyJob job(bench.install.c_str(), bar.Control());
    EXPECT_TRUE(CopyPackage(job));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), FolderNames(bench.install));
    EXPECT_EQ(2 + 150 + 1, bar.Steps());
}

// Steps are counted during the walk and applied in runs; the bar must end
// where one PBM_STEPIT per entry takes a bar of the same range and step,
// wrapping at the top included (the dialog's range is 0..50).
TEST(CopyPackageFilesTest, TheBarEndsWhereAStepPerEntryTakesIt) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    const struct {
        int files;
        int step;
        int start;
    } cases[] = {{3, 1, 0}, {47, 1, 0}, {48, 1, 0}, {120, 1, 0}, {120, 7, 0}, {20, 1, 45}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.files) + " files, step " + std::to_string(c.step));
        CPackageBench bench;
        std::vector<std::string> names;
        for (int i = 0; i < c.files; ++i)
            names.push_back("f" + std::to_string(i) + ".dat");
        bench.AddFiles(names);
        CTestProgressBar bar, reference;
        for (CTestProgressBar* b : {&bar, &reference}) {
            SendMessageA(b->Control()->m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(0, 50));
            SendMessageA(b->Control()->m_hWnd, PBM_SETSTEP, c.step, 0);
            SendMessageA(b->Control()->m_hWnd, PBM_SETPOS, c.start, 0);
        }
        for (int i = 0; i < 2 + c.files + 1; ++i)
            SendMessageA(reference.Control()->m_hWnd, PBM_STEPIT, 0, 0);

        CMessageBoxRecorder boxes;
        CCopyJob job(bench.install.c_str(), bar.Control());
        EXPECT_TRUE(CopyPackage(job));
        EXPECT_EQ(reference.Steps(), bar.Steps());
    }
}

TEST(CopyPackageFilesTest, SettingsGoToTheShellsRoamingFolderWithoutAppData) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    char shellFolder[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder));
    const std::string settings = std::string(shellFolder) + "\\Tovrel";
    const bool settingsExisted = testsupport::FolderExists(settings);
    char rootPath[MAX_PATH] = {};
    ASSERT_GT(GetFullPathNameA("\\Tovrel", sizeof(rootPath), rootPath, nullptr), 0u);
    const std::string atDriveRoot = rootPath;
    ASSERT_FALSE(testsupport::FolderExists(atDriveRoot)) << atDriveRoot << " exists already";

    CPackageBench bench;
    const std::string tooLong = "C:\\" + std::string(300, 'r');
    for (const char* appData : {static_cast<const char*>(nullptr), "", tooLong.c_str()}) {
        SCOPED_TRACE(appData ? std::to_string(strlen(appData)) + " bytes of APPDATA" : "APPDATA unset");
        bench.Reset();
        bench.AddFiles({"Tovrel.Ini", kMarker});
        SetEnvironmentVariableA("APPDATA", appData);
        DeleteFileA((settings + "\\Tovrel.Ini").c_str());

        CMessageBoxRecorder boxes;
        CCopyJob job(bench.install.c_str(), nullptr);
        EXPECT_TRUE(CopyPackage(job));
        EXPECT_EQ(0u, boxes.Prompts().size());
        EXPECT_EQ("Tovrel.Ini", ReadFile(settings + "\\Tovrel.Ini")) << settings;
        EXPECT_FALSE(testsupport::FolderExists(atDriveRoot)) << "the settings went to " << atDriveRoot;
        EXPECT_EQ(std::set<std::string>{kMarker}, FolderNames(bench.install));
    }

    DeleteFileA((settings + "\\Tovrel.Ini").c_str());
    if (!settingsExisted)
        RemoveDirectoryA(settings.c_str());
    RemoveTree(atDriveRoot);
}

TEST(CopyPackageFilesTest, TargetsTooLongAreFailedCopiesNeverCut) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CPackageBench bench;
    // A target folder that fits, but with room for short names only.
    std::string target = bench.install;
    target += "\\" + std::string(250 - target.size() - 1, 't');
    ASSERT_EQ(250u, target.size());
    ASSERT_TRUE(CreateDirectoryA(bench.install.c_str(), nullptr));
    const std::string longName = "a-name-that-does-not-fit.dat";
    bench.AddFiles({"short", longName});

    CMessageBoxRecorder boxes([](const CPrompt&, int index) { return index == 0 ? IDRETRY : IDIGNORE; });
    CCopyJob job(target.c_str(), nullptr);
    EXPECT_TRUE(CopyPackage(job));
    // The prompt names the whole intended target; Retry cannot help and asks again.
    ASSERT_EQ(2u, boxes.Prompts().size());
    EXPECT_EQ(CopyFailedText(target + "\\" + longName), boxes.Prompts()[0].text);
    EXPECT_EQ(CopyFailedText(target + "\\" + longName), boxes.Prompts()[1].text);
    EXPECT_EQ(std::set<std::string>{"short"}, FolderNames(target));
    EXPECT_EQ(std::set<std::string>{target.substr(bench.install.size() + 1)}, FolderNames(bench.install));
}

TEST(CopyPackageFilesTest, PackageThatCannotBeListedIsAFailedCopy) {
    // The executable's path fits, and so does its Data folder, but the
    // search pattern over Data does not: no file could be copied, which must
    // not pass for a finished install.
    if (!IsRelocatedChild()) {
        deploytest::ChildLayout layout("setup", "a.exe");
        layout.setupFolderLength = 252;
        return ExpectPassesRelocated(layout);
    }

    const std::string setup = testsupport::ExeFolder();
    ASSERT_EQ(252u, setup.size());
    const std::string data = setup + "\\Data";
    testsupport::ScratchFolder elsewhere("deploy-install");
    const std::string install = elsewhere / "T-VazivIvir";
    SetEnvironmentVariableA("APPDATA", elsewhere.Path().c_str());
    ASSERT_TRUE(CreateDirectoryA(data.c_str(), nullptr)) << "error " << GetLastError();
    ASSERT_TRUE(WriteFile(data + "\\a", "x")) << "error " << GetLastError();

    const struct {
        const char* name;
        std::vector<int> answers;
        bool result;
    } cases[] = {
        {"retry, then ignore", {IDRETRY, IDIGNORE}, true},
        {"abort", {IDABORT}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTestProgressBar bar;
        CMessageBoxRecorder boxes([&](const CPrompt&, int index) { return c.answers.at(index); });
        CCopyJob job(install.c_str(), bar.Control());
        EXPECT_EQ(c.result, CopyPackage(job));
        ASSERT_EQ(c.answers.size(), boxes.Prompts().size());
        EXPECT_EQ(CopyFailedText(install), boxes.Prompts()[0].text);
        EXPECT_EQ(static_cast<UINT>(MB_ABORTRETRYIGNORE), boxes.Prompts()[0].type);
        EXPECT_EQ(1, bar.Steps());
        EXPECT_TRUE(FolderNames(install).empty());
    }
    RemoveTree(data);
}

}  // namespace
