// SetUp.exe killed at random moments of a large install, as a power cut or
// a user with the task manager would: what it leaves must never be half
// written. Every package file under its real name, in the install folder
// and in the CAD folders, is absent, the old content or the whole new
// content; every Applications sub-key of every profile is absent, the old
// key or the complete new one. A later install must then finish as if
// nothing had happened, and leave nothing temporary in any target folder.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "framework/Handle.h"
#include "res/resource.h"
#include "tests/support/InstallWorld.h"

using namespace testsupport;

namespace {

constexpr int kFiles = 2000;
constexpr int kProfiles = 50;
// The profiles name these CAD folders in turn.
constexpr int kCads = 4;
// The host DLL is large enough that its copy can be seen under way.
constexpr size_t kHostDllSize = 6 * 1024 * 1024;
constexpr int kKills = 20;
// Fewer kills when this machine is slow: the test must stay within CI's time.
constexpr auto kKillBudget = std::chrono::seconds(60);

std::string FileName(int i) {
    char name[32];
    std::snprintf(name, sizeof(name), "f%04d.dat", i);
    return name;
}

// New content is long enough that a copy is cut by a kill now and then; old
// content differs from every prefix of it.
std::string NewContent(int i) {
    return FileName(i) + std::string(8 * 1024, 'N');
}

std::string OldContent(int i) {
    return "old " + FileName(i);
}

std::string Profile(int i) {
    return "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\P" + std::to_string(i) + "\\";
}

// A file a run may write: absent, old (when it has an old version) or
// whole new are the only states a kill may leave it in.
struct Watched {
    std::string path;
    std::string old;  // empty: no old version
    std::string fresh;
};

// The files below a folder, each with its size and write time: path ->
// (size, low part of the write time). It changes as soon as a copy into the
// folder begins, through a temporary copy or the target. Read without
// opening a file, so no copy is disturbed by the look.
using Listing = std::map<std::string, std::pair<DWORD, DWORD>>;

void ListFiles(const std::string& folder, Listing& listing) {
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& data) {
        const std::string path = folder + "\\" + data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            listing[path] = {data.nFileSizeLow, data.ftLastWriteTime.dwLowDateTime};
        else
            ListFiles(path, listing);
    });
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && _stricmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

// The names in folder other than the expected ones: what a run left behind.
std::set<std::string> Extra(const std::string& folder, const std::set<std::string>& expected) {
    std::set<std::string> extra;
    for (const std::string& name : FolderNames(folder)) {
        if (!expected.count(name))
            extra.insert(name);
    }
    return extra;
}

// One sub-key and its values.
using KeyValues = RegistrySnapshot;

KeyValues ReadKey(const std::string& path) {
    return SnapshotKey(path, false);
}

class KillTest : public ::testing::Test {
  protected:
    CadRegistry registry;
    SetupLayout layout;
    ScratchFolder cadRoot{"kill-cad"};
    ScratchFolder folder{"kill-install"};
    ScratchFolder spare{"kill-spare"};
    std::string install = folder / "T-VazivIvir";
    std::vector<std::string> cads;
    std::map<std::string, KeyValues> oldKeys, newKeys;
    // The package's files in the install folder, and the host-side files
    // in the CAD folders.
    std::vector<Watched> packageFiles, hostFiles;
    // The CAD folders as listed after their old files were written.
    Listing oldHostListing;

    std::string Cad(int profile) const { return cads[profile % kCads]; }

    void SetUp() override {
        std::map<std::string, std::string> package;
        for (int i = 0; i < kFiles; ++i)
            package[FileName(i)] = NewContent(i);
        for (const char* name : kFontFiles)
            package[name] = std::string("new ") + name;
        package["itextsharp.dll"] = "new itextsharp.dll";
        package["GCAD2024P.dll"] = "new GCAD2024P.dll" + std::string(kHostDllSize, 'D');
        CreateDirectoryA(layout.DataFolder().c_str(), nullptr);
        for (const auto& [name, content] : package)
            ASSERT_TRUE(WriteFile(layout.DataFolder() + "\\" + name, content));

        ASSERT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
        for (int i = 0; i < kFiles; ++i) {
            packageFiles.push_back({install + "\\" + FileName(i), OldContent(i), NewContent(i)});
            ASSERT_TRUE(WriteFile(packageFiles.back().path, OldContent(i)));
        }
        for (const char* name : kCadFolderFiles)
            packageFiles.push_back({install + "\\" + name, "", package[name]});

        // Every CAD folder has a Fonts folder and an earlier copy of each
        // host-side file.
        for (int c = 0; c < kCads; ++c) {
            const std::string cad = cadRoot / ("CAD" + std::to_string(c));
            cads.push_back(cad);
            ASSERT_TRUE(MakeCadFolder(cad));
            for (const char* name : kFontFiles)
                hostFiles.push_back({cad + "\\Fonts\\" + name, std::string("old ") + name, package[name]});
            for (const char* name : kCadFolderFiles)
                hostFiles.push_back({cad + "\\" + name, std::string("old ") + name, package[name]});
        }
        WriteOldHostFiles();

        // The profiles name the CAD folders in turn. The earlier
        // registration that each holds during the kills differs from the new
        // one in every value.
        for (int i = 0; i < kProfiles; ++i) {
            registry.AddProfile("GstarCAD", "R25", "Profiles\\P" + std::to_string(i), Cad(i));
            const std::string module = ModuleKey(Profile(i));
            const std::string host = HostKey(Profile(i));
            oldKeys[module] = {{module, "key"},
                               {module + "|LOADER", TextEntry("C:\\old\\TR_VazivIvir2023.GRX")},
                               {module + "|MANAGED", DwordEntry(7)}};
            oldKeys[host] = {{host, "key"},
                             {host + "|LOADER", TextEntry("C:\\old\\GCAD2024P.dll")},
                             {host + "|LOADCTRLS", DwordEntry(9)},
                             {host + "|MANAGED", DwordEntry(9)}};
            for (const auto& [entry, state] : Registration(Profile(i), install, Cad(i) + "\\GCAD2024P.dll"))
                newKeys[entry.substr(0, entry.find('|'))][entry] = state;
        }
    }

    void WriteOldKeys() {
        for (const auto& [path, values] : oldKeys)
            ASSERT_TRUE(WriteSnapshot(values)) << path;
    }

    void WriteOldHostFiles() {
        for (const Watched& file : hostFiles) {
            SetFileAttributesA(file.path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(WriteFile(file.path, file.old)) << file.path;
        }
        oldHostListing = HostListing();
    }

    Listing HostListing() const {
        Listing listing;
        for (const std::string& cad : cads)
            ListFiles(cad, listing);
        return listing;
    }

    // True once a host-side copy has begun since the old files were written.
    bool HostPassBegun() const { return HostListing() != oldHostListing; }

    // True while a host DLL is seen part-written: a file changed since the
    // old files were written has a size that no version of a host-side file
    // has, above zero (only a file larger than one write is seen so, under
    // any name) or zero under the DLL's own name.
    bool HostCopySeenCut() const {
        std::set<DWORD> sizes;
        for (const Watched& file : hostFiles) {
            sizes.insert(static_cast<DWORD>(file.old.size()));
            sizes.insert(static_cast<DWORD>(file.fresh.size()));
        }
        for (const auto& [path, seen] : HostListing()) {
            const auto old = oldHostListing.find(path);
            if ((old == oldHostListing.end() || old->second != seen) && !sizes.count(seen.first) &&
                (seen.first > 0 || EndsWith(path, "\\GCAD2024P.dll")))
                return true;
        }
        return false;
    }

    // Starts SetUp.exe and presses Install with the folder typed in.
    void StartInstall(SetupDriver& setup, const std::string& into) {
        ASSERT_TRUE(setup.Start(layout.Exe())) << "no setup dialog appeared";
        setup.SetText(IDC_INSTALL_PATH, into);
        setup.Press(IDC_INSTALL);
    }

    // Counts the files that hold the new content; fails on any other.
    int CheckFiles(const std::vector<Watched>& files, bool allNew) {
        int whole = 0;
        for (const Watched& file : files) {
            const std::string content = ReadFile(file.path);
            if (content == file.fresh) {
                ++whole;
                continue;
            }
            const bool acceptable =
                !allNew && ((!file.old.empty() && content == file.old) || (content.empty() && !FileExists(file.path)));
            EXPECT_TRUE(acceptable) << file.path << " holds " << content.size() << " bytes of neither version";
            if (!acceptable)
                break;
        }
        return whole;
    }

    // Counts the new keys; fails on a key that is neither old nor new.
    int CheckKeys(bool allNew) {
        int complete = 0;
        for (const auto& [path, fresh] : newKeys) {
            const KeyValues found = ReadKey(path);
            if (found == fresh) {
                ++complete;
                continue;
            }
            const bool acceptable = !allNew && (found.empty() || found == oldKeys[path]);
            EXPECT_TRUE(acceptable) << path << " holds " << found.size() - 1 << " values of neither version";
            if (!acceptable)
                break;
        }
        return complete;
    }
};

// A kill at a uniform moment of the whole install would hardly ever hit
// the short passes after the package copy. So every fourth kill waits until
// registration has begun (the first profile's module key has changed) and
// comes before it is over (the host-side copies have begun). Every fourth,
// offset by one, comes in the host-side pass: half of these at a moment of
// it, half as soon as a host DLL is seen part-written (its copy takes a few
// milliseconds, a small part of the pass), or at the completion view if it
// never is.
TEST_F(KillTest, AKillAtAnyMomentLeavesNothingHalfWritten) {
    const std::string firstKey = ModuleKey(Profile(0));
    auto registering = [&] {
        const KeyValues found = ReadKey(firstKey);
        return !found.empty() && found != oldKeys[firstKey];
    };
    auto waitFor = [](const std::function<bool()>& done, DWORD pause = 1, DWORD limit = 120000) {
        for (DWORD start = GetTickCount(); !done(); Sleep(pause)) {
            if (GetTickCount() - start > limit)
                return false;
        }
        return true;
    };

    // How long the package copy, the registration and the host-side copies
    // take here, the package going into another folder.
    int copyMs = 0;
    int registrationMs = 0;
    int hostMs = 0;
    {
        SetupDriver setup;
        StartInstall(setup, spare.Path());
        const DWORD begin = GetTickCount();
        ASSERT_TRUE(waitFor(registering)) << "the install did not register";
        const DWORD registered = GetTickCount();
        copyMs = static_cast<int>(registered - begin);
        ASSERT_TRUE(waitFor([&] { return HostPassBegun(); })) << "no host-side copy";
        const DWORD hostBegun = GetTickCount();
        registrationMs = static_cast<int>(hostBegun - registered);
        ASSERT_TRUE(waitFor([&] { return setup.IsVisible(IDOK); })) << "the install did not complete";
        hostMs = static_cast<int>(GetTickCount() - hostBegun);
    }
    ASSERT_EQ(packageFiles.size(), FolderNames(spare / "T-VazivIvir").size());
    WriteOldKeys();
    WriteOldHostFiles();
    std::printf("package copy %d ms, registration %d ms, host-side copies %d ms\n", copyMs, registrationMs, hostMs);

    const unsigned seed = static_cast<unsigned>(GetTickCount());
    std::mt19937 random(seed);
    int midInstall = 0;
    int kills = 0;
    const auto end = std::chrono::steady_clock::now() + kKillBudget;
    for (int kill = 0; kill < kKills && std::chrono::steady_clock::now() < end; ++kill, ++kills) {
        enum Moment { kAny, kRegistering, kHostCopies, kPartWrittenDll };
        const Moment moment = kill % 4 == 3   ? kRegistering
                              : kill % 8 == 1 ? kPartWrittenDll
                              : kill % 8 == 5 ? kHostCopies
                                              : kAny;
        const int range[] = {copyMs, registrationMs, hostMs, 0};
        const int delay = std::uniform_int_distribution<int>(0, range[moment])(random);
        std::string phase[] = {"", " of registering", " of host-side copies", " of a part-written host DLL"};
        SCOPED_TRACE("kill " + std::to_string(kill) + " after " + std::to_string(delay) + " ms" + phase[moment] +
                     " (seed " + std::to_string(seed) + ")");
        if (moment == kRegistering)
            WriteOldKeys();
        if (moment != kAny)
            WriteOldHostFiles();
        {
            SetupDriver setup;
            StartInstall(setup, folder.Path());
            CAutoHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, setup.ProcessId()));
            ASSERT_TRUE(process.IsValid());
            bool partWritten = false;
            if (moment == kRegistering) {
                ASSERT_TRUE(waitFor(registering)) << "the install did not register";
            }
            if (moment == kHostCopies || moment == kPartWrittenDll) {
                ASSERT_TRUE(waitFor([&] { return HostPassBegun(); })) << "no host-side copy";
            }
            // A part-written DLL is then looked for without a pause, with
            // SetUp.exe moved to a CPU that this test does not run on (the
            // tests run pinned to one): the test looks while SetUp.exe writes
            // the DLL, and the kill meets the copy under way, as on any
            // machine with more than one core. With a single CPU it mostly
            // comes after the copy.
            if (moment == kPartWrittenDll) {
                DWORD_PTR mine = 0, system = 0;
                if (GetProcessAffinityMask(GetCurrentProcess(), &mine, &system) && (system & ~mine))
                    SetProcessAffinityMask(setup.ProcessHandle(), system & ~mine);
                // On a machine busy with other work the look may starve the
                // install it watches; the kill then comes wherever it stands.
                const bool ended =
                    waitFor([&] { return (partWritten = HostCopySeenCut()) || setup.IsVisible(IDOK); }, 0, 20000);
                if (!partWritten)
                    phase[moment] = ended ? " of the completion view, no host DLL seen part-written"
                                          : " of a host-side pass that outlasted the look for a part-written DLL";
            }
            // A copy seen under way is killed at once, not after a look at
            // the dialog.
            if (delay > 0)
                Sleep(static_cast<DWORD>(delay));
            const bool completed = !partWritten && setup.IsVisible(IDOK);
            TerminateProcess(process.Get(), 1);
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 20000));
            midInstall += completed ? 0 : 1;
        }
        const int files = CheckFiles(packageFiles, false);
        const int hostCopies = CheckFiles(hostFiles, false);
        const int keys = CheckKeys(false);
        std::printf("kill %2d after %4d ms%s: %4d of %zu files new, %2d of %zu host files new, %3d of %d keys new\n",
                    kill, delay, phase[moment].c_str(), files, packageFiles.size(), hostCopies, hostFiles.size(), keys,
                    2 * kProfiles);
        std::fflush(stdout);
        if (HasFailure())
            return;
    }
    std::printf("%d kills (of %d planned), %d of them before the completion view\n", kills, kKills, midInstall);
    EXPECT_GT(midInstall, 0);

    // What the kills left behind does not stand in the way, and nothing
    // temporary is left in any target folder.
    SetupDriver setup;
    StartInstall(setup, folder.Path());
    ASSERT_TRUE(setup.WaitForCompletionView(120000)) << "the install after the kills did not complete";
    EXPECT_EQ(static_cast<int>(packageFiles.size()), CheckFiles(packageFiles, true));
    EXPECT_EQ(static_cast<int>(hostFiles.size()), CheckFiles(hostFiles, true));
    EXPECT_EQ(2 * kProfiles, CheckKeys(true));
    std::set<std::string> installed(std::begin(kCadFolderFiles), std::end(kCadFolderFiles));
    for (int i = 0; i < kFiles; ++i)
        installed.insert(FileName(i));
    EXPECT_EQ(std::set<std::string>(), Extra(install, installed)) << "left behind in " << install;
    for (const std::string& cad : cads) {
        EXPECT_EQ(std::set<std::string>(), Extra(cad, {"Fonts", "gcad.exe", "itextsharp.dll", "GCAD2024P.dll"}))
            << "left behind in " << cad;
        EXPECT_EQ(std::set<std::string>(), Extra(cad + "\\Fonts", {std::begin(kFontFiles), std::end(kFontFiles)}))
            << "left behind in " << cad << "\\Fonts";
    }
}

}  // namespace
