// make_key_link HKLM|HKCU <subkey> <native target ("\Registry\Machine\X")> [64]: plants a
// registry link, which the reg command cannot make. Exit code: 0 or the Windows error.
#include <windows.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4) return ERROR_INVALID_PARAMETER;
    HKEY root = std::strcmp(argv[1], "HKCU") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    REGSAM view = argc > 4 && std::strcmp(argv[4], "64") == 0 ? KEY_WOW64_64KEY : 0;
    HKEY key = nullptr;
    LONG code = RegCreateKeyExA(root, argv[2], 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | view,
                                nullptr, &key, nullptr);
    if (code != ERROR_SUCCESS) return static_cast<int>(code);
    // The target without a terminator: one would become part of the name.
    std::wstring target;
    for (const char* p = argv[3]; *p != '\0'; ++p)
        target += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    code =
        RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                       static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return static_cast<int>(code);
}
