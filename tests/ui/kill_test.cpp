// SetUp.exe killed at random moments of a large install, as a power cut or
// a user with the task manager would: what it leaves must never be half
// written. Every package file under its real name is absent, the old
// content or the whole new content; every Applications sub-key of every
// profile is absent, the old key or the complete new one. A later install
// must then finish as if nothing had happened.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>

#include "framework/Handle.h"
#include "res/resource.h"
#include "tests/support/UiDriver.h"

using namespace testsupport;

namespace {

constexpr int kFiles = 2000;
constexpr int kProfiles = 50;
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

std::string Dword(DWORD value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

std::string Sz(const std::string& text) {
    return text + std::string(1, '\0');
}

// The values of one sub-key: name -> raw data (type folded into the text).
using KeyValues = std::map<std::string, std::string>;

KeyValues ReadKey(const std::string& path) {
    KeyValues values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof(name);
        BYTE data[1024];
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        values[name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataSize);
    }
    RegCloseKey(key);
    values["(exists)"] = "";
    return values;
}

KeyValues Values(std::initializer_list<std::pair<const char*, std::pair<DWORD, std::string>>> list) {
    KeyValues values{{"(exists)", ""}};
    for (const auto& entry : list)
        values[entry.first] = std::to_string(entry.second.first) + ":" + entry.second.second;
    return values;
}

void WriteKey(const std::string& path, const KeyValues& values) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key));
    for (const auto& [name, typed] : values) {
        if (name == "(exists)")
            continue;
        const size_t colon = typed.find(':');
        const DWORD type = std::stoul(typed.substr(0, colon));
        const std::string data = typed.substr(colon + 1);
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
    }
    RegCloseKey(key);
}

class KillTest : public ::testing::Test {
  protected:
    CadRegistry registry;
    SetupLayout layout;
    ScratchFolder cad{"kill-cad"};
    ScratchFolder folder{"kill-install"};
    ScratchFolder spare{"kill-spare"};
    std::string install = folder / "T-VazivIvir";
    std::map<std::string, KeyValues> oldKeys, newKeys;

    void SetUp() override {
        CreateDirectoryA(layout.DataFolder().c_str(), nullptr);
        for (int i = 0; i < kFiles; ++i)
            ASSERT_TRUE(WriteFile(layout.DataFolder() + "\\" + FileName(i), NewContent(i)));
        // The first of the host-side files: its copy into the CAD folder
        // tells that registration is over.
        ASSERT_TRUE(WriteFile(layout.DataFolder() + "\\itextsharp.dll", "pdf"));
        ASSERT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
        for (int i = 0; i < kFiles; ++i)
            ASSERT_TRUE(WriteFile(install + "\\" + FileName(i), OldContent(i)));

        // Every profile names the same CAD folder. The earlier registration
        // that each holds during the kills differs from the new one in every
        // value.
        for (int i = 0; i < kProfiles; ++i) {
            registry.AddProfile("GstarCAD", "R25", "Profiles\\P" + std::to_string(i), cad.Path());
            const std::string module = Profile(i) + "Applications\\TR_VazivIvir2025";
            const std::string host = Profile(i) + "Applications\\Tovrel2025DLLP";
            oldKeys[module] =
                Values({{"LOADER", {REG_SZ, Sz("C:\\old\\TR_VazivIvir2023.GRX")}}, {"MANAGED", {REG_DWORD, Dword(7)}}});
            oldKeys[host] = Values({{"LOADER", {REG_SZ, Sz("C:\\old\\GCAD2024P.dll")}},
                                    {"LOADCTRLS", {REG_DWORD, Dword(9)}},
                                    {"MANAGED", {REG_DWORD, Dword(9)}}});
            newKeys[module] = Values(
                {{"LOADER", {REG_SZ, Sz(install + "\\TR_VazivIvir2023.GRX")}}, {"MANAGED", {REG_DWORD, Dword(0)}}});
            newKeys[host] = Values({{"LOADER", {REG_SZ, Sz(cad.Path() + "\\GCAD2024P.dll")}},
                                    {"LOADCTRLS", {REG_DWORD, Dword(2)}},
                                    {"MANAGED", {REG_DWORD, Dword(1)}}});
        }
    }

    void WriteOldKeys() {
        for (const auto& [path, values] : oldKeys)
            WriteKey(path, values);
    }

    // Starts SetUp.exe and presses Install with the folder typed in.
    void StartInstall(SetupDriver& setup, const std::string& into) {
        ASSERT_TRUE(setup.Start(layout.Exe())) << "no setup dialog appeared";
        setup.SetText(IDC_INSTALL_PATH, into);
        setup.Press(IDC_INSTALL);
    }

    // Counts how many files hold the new content; fails on any other.
    int CheckFiles(bool allNew) {
        int whole = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::string path = install + "\\" + FileName(i);
            const std::string content = ReadFile(path);
            if (content == NewContent(i)) {
                ++whole;
                continue;
            }
            const bool acceptable = !allNew && (content == OldContent(i) || (content.empty() && !FileExists(path)));
            EXPECT_TRUE(acceptable) << path << " holds " << content.size() << " bytes of neither version";
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

// Every fourth kill waits until registration has begun (the first profile's
// module key has changed) and comes before it is over (the host-side copies
// have begun): a kill at a uniform moment of a long copy would hardly ever
// hit it.
TEST_F(KillTest, AKillAtAnyMomentLeavesNothingHalfWritten) {
    const std::string firstKey = Profile(0) + "Applications\\TR_VazivIvir2025";
    const std::string hostFile = cad / "itextsharp.dll";
    auto registering = [&] {
        const KeyValues found = ReadKey(firstKey);
        return !found.empty() && found != oldKeys[firstKey];
    };
    auto waitFor = [](const std::function<bool()>& done) {
        for (DWORD start = GetTickCount(); !done(); Sleep(1)) {
            if (GetTickCount() - start > 120000)
                return false;
        }
        return true;
    };

    // How long the package copy and the registration take here, into
    // another folder.
    int copyMs = 0;
    int registrationMs = 0;
    {
        SetupDriver setup;
        StartInstall(setup, spare.Path());
        const DWORD begin = GetTickCount();
        ASSERT_TRUE(waitFor(registering)) << "the install did not register";
        const DWORD registered = GetTickCount();
        copyMs = static_cast<int>(registered - begin);
        ASSERT_TRUE(waitFor([&] { return FileExists(hostFile); })) << "no host-side copy";
        registrationMs = static_cast<int>(GetTickCount() - registered);
        ASSERT_TRUE(waitFor([&] { return setup.IsVisible(IDOK); })) << "the install did not complete";
    }
    ASSERT_EQ(static_cast<size_t>(kFiles + 1), FolderNames(spare / "T-VazivIvir").size());
    WriteOldKeys();
    std::printf("package copy %d ms, registration %d ms\n", copyMs, registrationMs);

    const unsigned seed = static_cast<unsigned>(GetTickCount());
    std::mt19937 random(seed);
    int midInstall = 0;
    int kills = 0;
    const auto end = std::chrono::steady_clock::now() + kKillBudget;
    for (int kill = 0; kill < kKills && std::chrono::steady_clock::now() < end; ++kill, ++kills) {
        const bool late = kill % 4 == 3;
        const int delay = std::uniform_int_distribution<int>(0, late ? registrationMs : copyMs)(random);
        SCOPED_TRACE("kill " + std::to_string(kill) + " after " + std::to_string(delay) + " ms" +
                     (late ? " of registering" : "") + " (seed " + std::to_string(seed) + ")");
        if (late) {
            WriteOldKeys();
            DeleteFileA(hostFile.c_str());
        }
        {
            SetupDriver setup;
            StartInstall(setup, folder.Path());
            if (late) {
                ASSERT_TRUE(waitFor(registering)) << "the install did not register";
            }
            Sleep(static_cast<DWORD>(delay));
            if (!setup.IsVisible(IDOK))
                ++midInstall;
            CAutoHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, setup.ProcessId()));
            ASSERT_TRUE(process.IsValid());
            TerminateProcess(process.Get(), 1);
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 20000));
        }
        const int files = CheckFiles(false);
        const int keys = CheckKeys(false);
        std::printf("kill %2d after %4d ms%s: %4d of %d files new, %3d of %d keys new\n", kill, delay,
                    late ? " of registering" : "", files, kFiles, keys, 2 * kProfiles);
        std::fflush(stdout);
        if (HasFailure())
            return;
    }
    std::printf("%d kills (of %d planned), %d of them before the completion view\n", kills, kKills, midInstall);
    EXPECT_GT(midInstall, 0);

    // What the kills left behind does not stand in the way.
    SetupDriver setup;
    StartInstall(setup, folder.Path());
    ASSERT_TRUE(setup.WaitForCompletionView(120000)) << "the install after the kills did not complete";
    EXPECT_EQ(kFiles, CheckFiles(true));
    EXPECT_EQ(2 * kProfiles, CheckKeys(true));
    EXPECT_EQ(static_cast<size_t>(kFiles + 1), FolderNames(install).size()) << "temporary files were left behind";
}

}  // namespace
