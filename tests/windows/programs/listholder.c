/* What a standard user can do to folders that every user may list: open each folder named on
 * the command line for listing and share it with nobody, and keep it open until a stop file
 * appears (or a few minutes have passed).
 *
 * Usage: listholder.exe STOP-FILE FOLDER...
 *
 * It prints one line per folder, then "ready" once every handle is held:
 *   missing FOLDER                   the folder is not there; nothing held
 *   held FOLDER                      held; then two more opens of it, while held:
 *   shared-open FOLDER ERROR         one whose access takes part in sharing (FILE_TRAVERSE,
 *                                    sharing reading and writing): 32 shows the hold keeps it out
 *   light-open FOLDER ERROR          one whose access takes none (FILE_READ_ATTRIBUTES and
 *                                    READ_CONTROL, sharing everything): 0 shows it gets through
 *   not-held FOLDER ERROR            the folder could not be opened so (the program ends with 1)
 * and "released" when it has closed its handles. */
#include <stdio.h>
#include <windows.h>

#define MAX_FOLDERS 16
#define MAX_WAIT_MS (5 * 60 * 1000)
#define POLL_MS 100

static DWORD TryOpen(const char* folder, DWORD access, DWORD share) {
    HANDLE h = CreateFileA(folder, access, share, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return 0;
}

int main(int argc, char** argv) {
    HANDLE held[MAX_FOLDERS];
    int count = 0;
    int failed = 0;
    DWORD waited = 0;
    int i;
    if (argc < 3 || argc - 2 > MAX_FOLDERS) {
        fprintf(stderr, "usage: listholder.exe STOP-FILE FOLDER... (at most %d folders)\n", MAX_FOLDERS);
        return 2;
    }
    for (i = 2; i < argc; ++i) {
        const char* folder = argv[i];
        HANDLE h;
        if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) {
            printf("missing %s\n", folder);
            continue;
        }
        h = CreateFileA(folder, FILE_LIST_DIRECTORY, 0, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                        NULL);
        if (h == INVALID_HANDLE_VALUE) {
            printf("not-held %s %lu\n", folder, (unsigned long)GetLastError());
            failed = 1;
            continue;
        }
        held[count++] = h;
        printf("held %s\n", folder);
        printf("shared-open %s %lu\n", folder,
               (unsigned long)TryOpen(folder, FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE));
        printf("light-open %s %lu\n", folder,
               (unsigned long)TryOpen(folder, FILE_READ_ATTRIBUTES | READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    }
    printf("ready\n");
    fflush(stdout);
    /* Bounded, so that a script that dies before it stops the holder leaves nothing behind
     * for long. */
    while (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES && waited < MAX_WAIT_MS) {
        Sleep(POLL_MS);
        waited += POLL_MS;
    }
    for (i = 0; i < count; ++i) CloseHandle(held[i]);
    printf("released\n");
    fflush(stdout);
    return failed;
}
