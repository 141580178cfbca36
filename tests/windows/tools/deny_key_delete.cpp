// Prepares a key that refuses deletion, for the end-to-end removal run and the demo:
//   deny_key_delete HKLM|HKCU <subkey> [64]
// gives the key a protected access list that allows everything except DELETE to
// everyone. With "64" the key is taken in the 64-bit registry view. Exit code: 0, or the
// Windows error of the call that failed.
#include <windows.h>
// windows.h first: sddl.h relies on its types.
#include <sddl.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: deny_key_delete HKLM|HKCU <subkey> [64]\n");
        return ERROR_INVALID_PARAMETER;
    }
    HKEY root = std::strcmp(argv[1], "HKCU") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    REGSAM view = argc > 3 && std::strcmp(argv[3], "64") == 0 ? KEY_WOW64_64KEY : 0;
    HKEY key = nullptr;
    LONG code = RegOpenKeyExA(root, argv[2], 0, READ_CONTROL | WRITE_DAC | view, &key);
    if (code != ERROR_SUCCESS) {
        std::fprintf(stderr, "RegOpenKeyExA failed: %ld\n", code);
        return static_cast<int>(code);
    }
    PSECURITY_DESCRIPTOR sd = nullptr;
    // Everyone may do anything to the key but delete it (SD is the DELETE right).
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(D;;SD;;;WD)(A;CI;KA;;;WD)",
                                                              SDDL_REVISION_1, &sd, nullptr)) {
        DWORD error = GetLastError();
        RegCloseKey(key);
        return static_cast<int>(error);
    }
    code = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    RegCloseKey(key);
    if (code != ERROR_SUCCESS) std::fprintf(stderr, "RegSetKeySecurity failed: %ld\n", code);
    return static_cast<int>(code);
}
