/* The floor the real removal is measured against: the same operating-system calls the tool
 * makes for a product, with no lists, checks, backup or log around them. It walks a folder
 * tree, queues every file and folder for deletion at restart (contents before their folder),
 * walks registry key trees, deletes every value, then every key (subkeys first), and prints
 * the milliseconds of each phase as "phase <name> <ms> <count>".
 *
 * Usage: rawfloor.exe <folder> [64|32:<key under HKEY_LOCAL_MACHINE>]...
 * Exit code 0 when every call succeeded, 1 when one failed, 2 on bad arguments. */
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef struct {
    char** items;
    size_t count, capacity;
} List;

static void list_add(List* list, const char* text) {
    if (list->count == list->capacity) {
        list->capacity = list->capacity ? list->capacity * 2 : 1024;
        list->items = realloc(list->items, list->capacity * sizeof(char*));
        if (!list->items) exit(3);
    }
    list->items[list->count] = _strdup(text);
    if (!list->items[list->count]) exit(3);
    list->count++;
}

static LARGE_INTEGER frequency;
static double now_ms(void) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static int failures;

/* Depth first; a folder is added after everything in it, the order of the queue. */
static void walk_folder(const char* folder, List* paths) {
    char pattern[MAX_PATH], path[MAX_PATH];
    WIN32_FIND_DATAA found;
    HANDLE find;
    if (snprintf(pattern, sizeof(pattern), "%s\\*", folder) >= (int)sizeof(pattern)) {
        failures++;
        return;
    }
    find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) {
        failures++;
        return;
    }
    do {
        if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
        if (snprintf(path, sizeof(path), "%s\\%s", folder, found.cFileName) >= (int)sizeof(path)) {
            failures++;
            continue;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            walk_folder(path, paths);
        else
            list_add(paths, path);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    list_add(paths, folder);
}

typedef struct {
    char* key;
    REGSAM view;
} KeyItem;

typedef struct {
    KeyItem* items;
    size_t count, capacity;
} KeyList;

static void keys_add(KeyList* list, const char* key, REGSAM view) {
    if (list->count == list->capacity) {
        list->capacity = list->capacity ? list->capacity * 2 : 1024;
        list->items = realloc(list->items, list->capacity * sizeof(KeyItem));
        if (!list->items) exit(3);
    }
    list->items[list->count].key = _strdup(key);
    if (!list->items[list->count].key) exit(3);
    list->items[list->count].view = view;
    list->count++;
}

/* A key is added before its subkeys; deleting from the end takes subkeys first. Values are
 * listed as "key\nname". */
static void walk_key(const char* key, REGSAM view, KeyList* keys, KeyList* values) {
    HKEY h;
    DWORD i;
    char name[256 + 1], path[1024];
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &h) != ERROR_SUCCESS) return;
    keys_add(keys, key, view);
    for (i = 0;; i++) {
        DWORD len = sizeof(name);
        LONG rc = RegEnumValueA(h, i, name, &len, NULL, NULL, NULL, NULL);
        if (rc != ERROR_SUCCESS) break;
        if (snprintf(path, sizeof(path), "%s\n%s", key, name) < (int)sizeof(path)) keys_add(values, path, view);
    }
    for (i = 0;; i++) {
        DWORD len = sizeof(name);
        LONG rc = RegEnumKeyExA(h, i, name, &len, NULL, NULL, NULL, NULL);
        if (rc != ERROR_SUCCESS) break;
        if (snprintf(path, sizeof(path), "%s\\%s", key, name) < (int)sizeof(path)) walk_key(path, view, keys, values);
    }
    RegCloseKey(h);
}

int main(int argc, char** argv) {
    List paths = {0};
    KeyList keys = {0}, values = {0};
    double start, walk_files, walk_keys, queue, delete_values, delete_keys;
    size_t i;
    int a;
    if (argc < 2) {
        fprintf(stderr, "usage: rawfloor.exe <folder> [64|32:<key under HKEY_LOCAL_MACHINE>]...\n");
        return 2;
    }
    QueryPerformanceFrequency(&frequency);

    start = now_ms();
    if (GetFileAttributesA(argv[1]) != INVALID_FILE_ATTRIBUTES) walk_folder(argv[1], &paths);
    walk_files = now_ms() - start;

    start = now_ms();
    for (a = 2; a < argc; a++) {
        REGSAM view;
        if (!strncmp(argv[a], "64:", 3))
            view = KEY_WOW64_64KEY;
        else if (!strncmp(argv[a], "32:", 3))
            view = KEY_WOW64_32KEY;
        else
            return 2;
        walk_key(argv[a] + 3, view, &keys, &values);
    }
    walk_keys = now_ms() - start;

    start = now_ms();
    for (i = 0; i < paths.count; i++)
        if (!MoveFileExA(paths.items[i], NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) failures++;
    queue = now_ms() - start;

    start = now_ms();
    for (i = 0; i < values.count; i++) {
        char* name = strchr(values.items[i].key, '\n');
        HKEY h;
        *name++ = '\0';
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, values.items[i].key, 0, KEY_SET_VALUE | values.items[i].view, &h) !=
            ERROR_SUCCESS) {
            failures++;
            continue;
        }
        if (RegDeleteValueA(h, name) != ERROR_SUCCESS) failures++;
        RegCloseKey(h);
    }
    delete_values = now_ms() - start;

    start = now_ms();
    for (i = keys.count; i-- > 0;)
        if (RegDeleteKeyExA(HKEY_LOCAL_MACHINE, keys.items[i].key, keys.items[i].view, 0) != ERROR_SUCCESS) failures++;
    delete_keys = now_ms() - start;

    printf("phase walk_files %.1f %u\n", walk_files, (unsigned)paths.count);
    printf("phase walk_keys %.1f %u\n", walk_keys, (unsigned)keys.count);
    printf("phase queue %.1f %u\n", queue, (unsigned)paths.count);
    printf("phase values %.1f %u\n", delete_values, (unsigned)values.count);
    printf("phase keys %.1f %u\n", delete_keys, (unsigned)keys.count);
    printf("failures %d\n", failures);
    return failures ? 1 : 0;
}
