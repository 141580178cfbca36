/* A long-running program for the Windows-side tests: it appends its process id as one line
 * to "<its own path>.started" (so a test or a script can tell that it was started, and how
 * often, even under a copied name), then sleeps until it is killed. It reads no arguments:
 * the product starts programs with no command line. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void) {
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        char line[32];
        DWORD written = 0;
        HANDLE file;
        memcpy(path + n, ".started", sizeof(".started"));
        file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            int len = snprintf(line, sizeof(line), "%lu\r\n", (unsigned long)GetCurrentProcessId());
            if (len > 0) WriteFile(file, line, (DWORD)len, &written, NULL);
            CloseHandle(file);
        }
    }
    for (;;) Sleep(INFINITE);
}
