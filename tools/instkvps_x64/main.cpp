// instkvps_x64.exe: removes every layered provider and protocol chain from the 64-bit
// Winsock catalogue, which the 32-bit tool cannot change. The tool starts it hidden with
// the one argument "uninstall" and logs its exit code: 0 when only base protocols are
// left, else the Winsock error that stopped it; 87 for any other arguments.
#include <cstdio>
#include <cstring>

#include "actions/protocol_catalog.h"
#include "platform/win32/system_library.h"
#include "platform/win32/win32_winsock.h"

namespace {

constexpr int kErrorInvalidParameter = 87;

bool IsUninstall(const char* arg) {
    const char kWord[] = "uninstall";
    if (std::strlen(arg) != sizeof kWord - 1) return false;
    for (size_t i = 0; kWord[i] != '\0'; ++i) {
        char c = arg[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kWord[i]) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Winsock loads its providers' libraries by name: from System32 only.
    platform::win32::LimitLibrarySearchToSystem32();
    if (argc != 2 || !IsUninstall(argv[1])) {
        std::fputs(
            "usage: instkvps_x64 uninstall\n"
            "Removes every layered provider and protocol chain from the 64-bit Winsock catalogue.\n",
            stderr);
        return kErrorInvalidParameter;
    }
    platform::win32::Win32Winsock wsc;
    return static_cast<int>(actions::RemoveLayeredProvidersToBase(wsc));
}
