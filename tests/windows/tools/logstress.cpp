// Writes numbered records to one shared log, as one of several processes doing the same at
// once. Usage: logstress.exe TAG COUNT [PRODUCT COMPONENT]
// Each record reads "LogStress::Run: proc TAG seq N" with N from 1 to COUNT; the exit code
// is 0 when every record was handed to the logger. When the event "Local\KvQmrLogStressGo"
// exists, the writer waits for it first, so that all writers start together.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "logging/log.h"
#include "platform/win32/win32_machine.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: logstress TAG COUNT [PRODUCT COMPONENT]\n");
        return 2;
    }
    const char* tag = argv[1];
    int count = std::atoi(argv[2]);
    const char* product = argc > 3 ? argv[3] : "stress";
    const char* component = argc > 4 ? argv[4] : "logstress";

    if (HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, L"Local\\KvQmrLogStressGo")) {
        WaitForSingleObject(go, 60000);
        CloseHandle(go);
    }

    static platform::win32::Win32Machine machine;
    KvQmrLogging::SetPlatform(&machine.platform());
    KvQmrLogging::LogInitA(product, component, 4, 0);
    for (int seq = 1; seq <= count; ++seq)
        KvQmrLogging::LogWriteA(4, "%s: proc %s seq %d", "LogStress::Run", tag, seq);
    // Ends the log ("LOG AUTO-CLOSED") while the machine is still there.
    KvQmrLogging::SetPlatform(nullptr);
    return 0;
}
