// Prepares files and folders as the machine's own accounts leave them, for the end-to-end
// runs and the demo: set_owner <path>... makes Administrators the owner of each. Exit code:
// 0, or the Windows error of the first call that failed.
#include <windows.h>
// windows.h first: aclapi.h relies on its types.
#include <aclapi.h>

#include <cstdio>

int main(int argc, char** argv) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return static_cast<int>(GetLastError());
    for (int i = 1; i < argc; ++i) {
        DWORD code = SetNamedSecurityInfoA(argv[i], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, administrators,
                                           nullptr, nullptr, nullptr);
        if (code != ERROR_SUCCESS) {
            std::fprintf(stderr, "SetNamedSecurityInfoA '%s' failed: %lu\n", argv[i], code);
            FreeSid(administrators);
            return static_cast<int>(code);
        }
    }
    FreeSid(administrators);
    return 0;
}
