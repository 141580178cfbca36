/* A real Win32 service for the Windows-side tests: it reports SERVICE_RUNNING and stops on
 * SERVICE_CONTROL_STOP. Words in its binary path change how it treats the stop control:
 *   kvsvc.exe            stops at once (STOP_PENDING from the handler, then STOPPED)
 *   kvsvc.exe slowstop   answers STOP_PENDING and never stops; only ending its process does
 *   kvsvc.exe nostop     does not accept the stop control at all
 * Started outside the service control manager it ends with the dispatcher's error (1063). */
#include <string.h>
#include <windows.h>

static SERVICE_STATUS_HANDLE statusHandle;
static SERVICE_STATUS status;
static HANDLE stopEvent;
static int slowStop;
static int noStop;

static void Report(DWORD state, DWORD accepted, DWORD checkPoint, DWORD waitHint) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    SetServiceStatus(statusHandle, &status);
}

static DWORD WINAPI Handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    (void)eventType;
    (void)eventData;
    (void)context;
    switch (control) {
        case SERVICE_CONTROL_STOP:
            if (noStop) return ERROR_CALL_NOT_IMPLEMENTED;
            Report(SERVICE_STOP_PENDING, 0, 1, 3000);
            if (!slowStop) SetEvent(stopEvent);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

static void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    statusHandle = RegisterServiceCtrlHandlerExA(argc > 0 ? argv[0] : "kvsvc", Handler, NULL);
    if (statusHandle == NULL) return;
    Report(SERVICE_RUNNING, noStop ? 0 : SERVICE_ACCEPT_STOP, 0, 0);
    WaitForSingleObject(stopEvent, INFINITE);
    Report(SERVICE_STOPPED, 0, 0, 0);
}

int main(int argc, char** argv) {
    int i;
    for (i = 1; i < argc; ++i) {
        if (_stricmp(argv[i], "slowstop") == 0) slowStop = 1;
        if (_stricmp(argv[i], "nostop") == 0) noStop = 1;
    }
    stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (stopEvent == NULL) return (int)GetLastError();
    /* An own-process service: the control manager ignores the name in the table. */
    SERVICE_TABLE_ENTRYA table[] = {{"kvsvc", ServiceMain}, {NULL, NULL}};
    if (!StartServiceCtrlDispatcherA(table)) return (int)GetLastError();
    return 0;
}
