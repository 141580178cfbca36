// Whether the tool runs with administrative rights.
#pragma once

#include "platform/platform.h"

namespace msitool {

// Written to the console's standard error when the check fails and a message is wanted.
constexpr char16_t kInsufficientPrivilegesText[] =
    u"Initialization Error: Insufficient privileges.\n"
    u"This tool needs to be run with administrative rights.\n"
    u"Please log in as an administrator or use the 'Run as...'\n"
    u"functionality to run the tool with administrative rights.\n";

class UserInfo {
  public:
    explicit UserInfo(platform::Platform& os) : os_(os) {}
    UserInfo(const UserInfo&) = delete;
    UserInfo& operator=(const UserInfo&) = delete;
    virtual ~UserInfo() = default;

    // True for an administrator; otherwise, when `showMessage`, says so on the console.
    bool CheckAdministrator(bool showMessage);
    // The token of the thread (or else of the process) holds the Administrators group
    // enabled, or, from Windows Vista on, for deny only: an administrator whose token
    // user account control filtered.
    bool IsAdministrator();

  private:
    platform::Platform& os_;
};

}  // namespace msitool
