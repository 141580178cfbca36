/* A follow-up program for the end-to-end runs: started without a command line, it leaves
   "<its own path>.started" beside itself and ends, so a test can see that it ran. */
#include <windows.h>

int main(void) {
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    lstrcatA(path, ".started");
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(h, "started\r\n", 9, &written, NULL);
    CloseHandle(h);
    return 0;
}
