#include "msitool/user_info.h"

#include <vector>

#include "platform/ansi.h"

namespace msitool {
namespace {

bool IsAdministratorsSid(const std::string& sid) {
    return platform::AnsiCompareNoCase(sid.c_str(), platform::kAdministratorsSid) == 0;
}

}  // namespace

bool UserInfo::CheckAdministrator(bool showMessage) {
    if (IsAdministrator()) return true;
    if (showMessage) {
        // A process without a console has nowhere to show it; nothing else to do then.
        uint32_t written = 0;
        (void)os_.sys.WriteConsoleToStdError(kInsufficientPrivilegesText, written);
    }
    return false;
}

bool UserInfo::IsAdministrator() {
    platform::TokenHandle handle = 0;
    if (!os_.sys.OpenThreadToken(platform::kTokenQuery, true, handle) &&
        !os_.sys.OpenProcessToken(platform::kTokenQuery, handle))
        return false;
    platform::UniqueToken token(&os_.sys, handle);

    std::vector<platform::TokenGroup> groups;
    if (!os_.sys.GetTokenGroups(token.get(), groups)) return false;

    // An unreadable version counts as one before Vista: deny-only groups do not count then.
    platform::OsVersionInfo version;
    bool vistaOrLater = os_.sys.GetVersionEx(version) && version.majorVersion > 5;
    for (const platform::TokenGroup& group : groups) {
        if (!IsAdministratorsSid(group.sid)) continue;
        if (group.attributes & platform::kSeGroupEnabled) return true;
        if (vistaOrLater && (group.attributes & platform::kSeGroupUseForDenyOnly)) return true;
    }
    return false;
}

}  // namespace msitool
