// <windows.h> for the win32 backend. The SDK maps names such as GetVersionEx to their A or
// W form with macros, which would also rename the seam's methods of the same names in one
// translation unit and not in another. The backend calls the A and W forms explicitly, so
// the mapping macros are removed here.
#pragma once

#include <windows.h>
// After windows.h, so that its mapping macros are removed below too.
#include <psapi.h>

#undef CopyFile
#undef CreateDirectory
#undef CreateProcess
#undef CreateService
#undef CreateFile
#undef CreateMutex
#undef DeleteFile
#undef EnumProcessModules
#undef EnumProcesses
#undef EnumServicesStatus
#undef FindFirstFile
#undef FindNextFile
#undef GetEnvironmentVariable
#undef GetDriveType
#undef GetFileAttributes
#undef GetLogicalDriveStrings
#undef GetModuleFileName
#undef GetModuleFileNameEx
#undef GetSystemDirectory
#undef GetTempPath
#undef GetUserName
#undef GetVersionEx
#undef GetWindowsDirectory
#undef InitiateSystemShutdownEx
#undef LookupPrivilegeValue
#undef MessageBox
#undef MoveFileEx
#undef OpenMutex
#undef OpenSCManager
#undef OpenService
#undef OutputDebugString
#undef PathFindOnPath
#undef RemoveDirectory
#undef SetFileAttributes
#undef StartService
