#pragma once

// Helpers shared by the tests: paths of this build's programs, scratch
// folders and registry keys that clean up after themselves, and child
// processes.

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// The folder that holds the running test executable (and SetUp.exe and the
// fixture programs beside it), without a trailing backslash.
std::string ExeFolder();

// A fresh folder under the Windows temp folder, removed with its content
// when the object is destroyed.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& name = "setup-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

  private:
    std::string m_path;
};

// Makes a CAD's install folder as the setup program knows one: the folder,
// with fonts its Fonts folder, and the CAD stand-in as its program
// gcad.exe. The setup places its CAD-side files only into such a folder.
bool MakeCadFolder(const std::string& folder, bool fonts = true);
// Removes a folder and everything below it. Read-only bits are cleared
// first. A folder link is removed itself, never followed.
void RemoveTree(const std::string& path);
// Writes a file with the given content; creates no folders.
bool WriteFile(const std::string& path, const std::string& content);
// The whole content of a file, or an empty text if it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Calls fn for each entry of a folder but "." and "..", in the file system's order.
void ForEachEntry(const std::string& folder, const std::function<void(const WIN32_FIND_DATAA& entry)>& fn);
// The names in a folder, without "." and "..", as the file system spells them.
std::set<std::string> FolderNames(const std::string& folder);
bool FolderExists(const std::string& path);
// Lists every folder from the drive root down to folder, and each folder
// directly inside it. Where the file system moves access times (relatime
// moves a folder's once after each change of it), this moves them now, so
// that they stand still while a folder browser looks at these folders twice.
void SettleAccessTimes(const std::string& folder);

// Deletes HKCU\path with all its sub-keys (no error if missing).
void DeleteRegistryTree(const std::string& path);
// Sets a string value, creating the key and its parents. type is REG_SZ or REG_EXPAND_SZ.
bool SetRegistryString(const std::string& keyPath,
                       const std::string& name,
                       const std::string& data,
                       DWORD type = REG_SZ);
// Reads a value: returns false if missing; fills type and the raw bytes.
bool ReadRegistryValue(const std::string& keyPath, const std::string& name, DWORD* type, std::string* data);

// Under Wine, the Unix path (UTF-8) of a Windows path whose folder exists;
// empty elsewhere.
std::string UnixPathOf(const std::string& path);
// Runs a Unix program (Wine starts those as well), its arguments in UTF-8,
// and waits until done() holds: Wine gives no process handle to wait on.
bool RunUnixTool(const std::string& tool, const std::vector<std::string>& args, const std::function<bool()>& done);

// A symbolic link made for a test: what a Windows program under Wine sees as
// a junction (a folder link, attributes 0x410) or a file link (0x20). It is
// removed when the object dies, the link itself and never its target.
class PlantedLink {
  public:
    PlantedLink(const std::string& link, const std::string& target);
    ~PlantedLink();
    PlantedLink(const PlantedLink&) = delete;
    PlantedLink& operator=(const PlantedLink&) = delete;
    bool IsMade() const { return m_made; }

  private:
    std::string m_link;
    std::string m_unixLink;
    bool m_made = false;
};

// Quotes one command-line argument so that the C runtime hands it over
// unchanged, a final backslash included (a bare \" would be read as a quote).
std::string QuoteArgument(const std::string& argument);

// The one way the tests start a process: a child that is killed (if still
// running) when the object dies, its output read through a pipe on request.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Starts exe with the command line (exe quoted first, then args). With
    // capture, the child's standard output and error go to Lines().
    bool Start(const std::string& exe,
               const std::string& args = "",
               const std::string& workDir = "",
               bool capture = false);
    // Waits up to ms (reading the output meanwhile); returns true if it
    // ended, with its exit code.
    bool Wait(DWORD ms, DWORD* exitCode = nullptr);
    bool IsRunning() const;
    void Kill();
    HANDLE Handle() const { return m_info.hProcess; }
    DWORD Id() const { return m_info.dwProcessId; }

    // Takes whatever the output pipe holds now; false once it is closed.
    bool ReadAvailable();
    // The complete output lines read so far, without line ends.
    const std::vector<std::string>& Lines() const { return m_lines; }
    // All lines, each followed by "\n", for assertion messages.
    std::string Output() const;

  private:
    PROCESS_INFORMATION m_info = {};
    HANDLE m_output = nullptr;
    std::string m_partial;
    std::vector<std::string> m_lines;
};

}  // namespace testsupport
