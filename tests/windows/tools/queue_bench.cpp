// Times the queueing of N files for deletion at restart on the real machine: the files
// are created in C:\QueueBench\<N>, listed with the working-list walk, and handed to the
// file removal step. Usage: queue_bench N [N...]; prints one line per N:
//   queue_bench files=N listed=L expand_ms=E queue_ms=Q
// and leaves the deletions queued (a restart of the machine carries them out).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/win32/win32_machine.h"

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    static platform::win32::Win32Machine machine;
    // Failures of single paths are logged (tool\queue_bench.log), not returned.
    KvQmrLogging::SetPlatform(&machine.platform());
    KvQmrLogging::LogInitA("tool", "queue_bench", 4, 0);
    CreateDirectoryA("C:\\QueueBench", nullptr);
    for (int a = 1; a < argc; ++a) {
        const int n = std::atoi(argv[a]);
        const std::string root = "C:\\QueueBench\\" + std::to_string(n);
        CreateDirectoryA(root.c_str(), nullptr);
        for (int i = 0; i < n; ++i) {
            const std::string folder = root + "\\D" + std::to_string(i / 100);
            if (i % 100 == 0) CreateDirectoryA(folder.c_str(), nullptr);
            const std::string file = folder + "\\file" + std::to_string(i % 100) + ".dat";
            HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
            CloseHandle(h);
        }
        engine::CNuke nuke(machine.platform());
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        (void)nuke.AddFileTree(root.c_str());
        QueryPerformanceCounter(&t1);
        (void)nuke.CleanupFiles();
        QueryPerformanceCounter(&t2);
        std::printf("queue_bench files=%d listed=%u expand_ms=%.1f queue_ms=%.1f\n", n, nuke.fileList.Count(),
                    Milliseconds(t0, t1), Milliseconds(t1, t2));
    }
    return 0;
}
