// The backend a contract test runs on: the simulated machine natively, the real Win32
// machine under Wine. One test body checks both.
#pragma once

#include <string>

#include "platform/platform.h"

namespace contract {

class Backend {
  public:
    virtual ~Backend() = default;
    virtual platform::Platform& os() = 0;
    virtual bool IsSim() const = 0;
    // A name unique to this test run, for scratch keys, files and objects.
    virtual std::string UniqueName(const std::string& stem) = 0;
    // Makes sure a stopped or running Win32 service of that name is installed (the real
    // machine is expected to have it already; the sim gets a stopped one).
    virtual void EnsureService(const std::string& name) = 0;
};

// A fresh backend for one test: on the sim a new machine, on win32 the real one.
Backend& GetBackend();

// The real backend under Wine, for the marks where Wine knowingly differs from Windows.
inline bool UnderWine() {
    return !GetBackend().IsSim() && GetBackend().os().sys.HasEntryPoint("ntdll", "wine_get_version");
}

// Removes a file or a tree through the interface under test; used before and after a test.
void RemoveTree(platform::IFileSystem& fs, const std::string& path);

}  // namespace contract

// Marks a check that the sim and Wine knowingly answer differently.
// (The switch keeps an "else" after the macro from binding to its hidden "if".)
#define CONTRACT_SKIP_ON_SIM(reason)             \
    switch (0)                                   \
    case 0:                                      \
    default:                                     \
        if (!::contract::GetBackend().IsSim()) { \
        } else                                   \
            GTEST_SKIP() << (reason)
#define CONTRACT_SKIP_ON_WIN32(reason)          \
    switch (0)                                  \
    case 0:                                     \
    default:                                    \
        if (::contract::GetBackend().IsSim()) { \
        } else                                  \
            GTEST_SKIP() << (reason)
