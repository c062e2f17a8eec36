#include "tests/support/ChildMode.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <utility>
#include <vector>

namespace testsupport {

namespace {

const char kFlag[] = "--child-mode=";

class CChildModeWork : public ::testing::Environment {
  public:
    CChildModeWork(std::string mode, std::function<bool(const std::string&)> work)
        : m_mode(std::move(mode)), m_work(std::move(work)) {}
    void SetUp() override {
        std::string argument;
        if (IsChildMode(m_mode, &argument))
            ExitProcess(m_work(argument) ? kChildModeDone : kChildModeFailed);
    }

  private:
    std::string m_mode;
    std::function<bool(const std::string&)> m_work;
};

}  // namespace

// The C runtime's own split of the command line undoes QuoteArgument exactly.
bool IsChildMode(const std::string& mode, std::string* argument) {
    const std::string prefix = kFlag + mode + ":";
    for (int i = 1; i < __argc; ++i) {
        if (std::string(__argv[i]).compare(0, prefix.size(), prefix) == 0) {
            if (argument)
                *argument = __argv[i] + prefix.size();
            return true;
        }
    }
    return false;
}

bool AddChildMode(const std::string& mode, std::function<bool(const std::string& argument)> work) {
    ::testing::AddGlobalTestEnvironment(new CChildModeWork(mode, std::move(work)));
    return true;
}

std::string OwnPath() {
    std::vector<char> path(32768);
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::string(path.data(), length);
}

bool StartChildMode(ChildProcess& child,
                    const std::string& exe,
                    const std::string& mode,
                    const std::string& argument,
                    const std::string& workDir,
                    const std::string& moreArgs,
                    bool capture) {
    std::string args = QuoteArgument(kFlag + mode + ":" + argument);
    if (!moreArgs.empty())
        args += " " + moreArgs;
    return child.Start(exe, args, workDir, capture);
}

}  // namespace testsupport
