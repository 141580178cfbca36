// Lists the running processes' image names, one per line, for the end-to-end runs
// (Wine's tasklist prints nothing).
#include <cstdio>

#include "platform/win32/win32_processes.h"

int main() {
    platform::win32::Win32Processes processes;
    platform::SnapshotHandle raw = 0;
    if (!processes.CreateToolhelp32Snapshot(platform::kTh32csSnapProcess, 0, raw)) return 1;
    platform::UniqueSnapshot snapshot(&processes, raw);
    platform::ProcessEntry entry;
    for (bool more = processes.Process32First(snapshot.get(), entry); more;
         more = processes.Process32Next(snapshot.get(), entry))
        std::printf("%s\n", entry.exeFile.c_str());
    return 0;
}
