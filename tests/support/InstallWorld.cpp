#include "tests/support/InstallWorld.h"

#include <shlobj.h>

namespace testsupport {

std::string SettingsFolder() {
    char appData[MAX_PATH] = {};
    GetEnvironmentVariableA("APPDATA", appData, sizeof(appData));
    return std::string(appData) + "\\Tovrel";
}

void RemoveInstall() {
    RemoveTree(kDefaultFolder);
    // Where the install moved a default folder that was not the administrators' own.
    RemoveTree(std::string(kDefaultFolder) + ".old");
    RemoveTree(std::string(kDefaultFolder) + ".old2");
    RemoveTree(SettingsFolder());
    // The uninstaller and its record, and its entry: a program left runnable
    // in the prefix is one that a later look for the setup's files may find.
    char programFiles[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles);
    RemoveTree(std::string(programFiles) + "\\Tovrel");
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir",
                    KEY_WOW64_64KEY, 0);
}

std::string ModuleKey(const std::string& profile, int release) {
    return profile + "Applications\\TR_VazivIvir" + std::to_string(release);
}

std::string HostKey(const std::string& profile, int release) {
    return profile + "Applications\\Tovrel" + std::to_string(release) + "DLLP";
}

RegistrySnapshot Registration(const std::string& profile,
                              const std::string& installDir,
                              const std::string& hostDll,
                              int release) {
    const std::string module = ModuleKey(profile, release);
    const std::string host = HostKey(profile, release);
    return {{module, "key"},
            {module + "|LOADER", TextEntry(installDir + "\\TR_VazivIvir2023.GRX")},
            {module + "|MANAGED", DwordEntry(0)},
            {host, "key"},
            {host + "|LOADCTRLS", DwordEntry(2)},
            {host + "|LOADER", TextEntry(hostDll)},
            {host + "|MANAGED", DwordEntry(1)}};
}

void ExpectRegistered(const std::string& profile,
                      const std::string& installDir,
                      const std::string& hostDll,
                      int release) {
    SCOPED_TRACE(profile + " " + std::to_string(release));
    RegistrySnapshot found = SnapshotKey(ModuleKey(profile, release), false);
    const RegistrySnapshot host = SnapshotKey(HostKey(profile, release), false);
    found.insert(host.begin(), host.end());
    for (const auto& [entry, state] : Registration(profile, installDir, hostDll, release)) {
        const auto actual = found.find(entry);
        EXPECT_EQ(state, actual == found.end() ? "(absent)" : actual->second) << entry;
    }
    EXPECT_EQ(0u, found.count(ModuleKey(profile, release) + "|LOADCTRLS"));
}

InstallWorld::InstallWorld(const char* program) : layout(program) {
    MakeCadFolders();
    registry.AddProfile("GstarCAD", "R25", "Profiles\\Main", cadA + "\\");
    registry.AddProfile("GstarArch", "B25R25", "Profiles\\Other", cadB);
    registry.AddProfile("GstarCAD", "R23", "Profiles\\Main", cad2023);
    layout.WritePackage();
}

void InstallWorld::MakeCadFolders() {
    for (const std::string& cad : {cadA, cadB, cad2023})
        RemoveTree(cad);
    for (const std::string& cad : {cadA, cadB, cad2023})
        MakeCadFolder(cad, cad != cadB);
}

}  // namespace testsupport
