# Windows build: sweeptool.exe on the real win32 backend, and the Windows-side test executable.
enable_language(RC)
set(SWEEP_STATIC_LINK -static -static-libgcc -static-libstdc++)

target_compile_definitions(sweep_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
# Reproducible executables: the same sources give the same bytes wherever they are built.
# The checkout's path stays out of the objects, and the linker writes no build time into the
# PE header (SOURCE_DATE_EPOCH when it is set, else 0); the compilation time of the log's
# version record follows SOURCE_DATE_EPOCH too.
target_compile_options(sweep_core PUBLIC $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>)
target_link_options(sweep_core PUBLIC -Wl,--no-insert-timestamp)
# The tool ships as one small file: its code is optimised for size, and the linker drops every
# function and datum that nothing calls.
target_compile_options(sweep_core PUBLIC $<$<COMPILE_LANGUAGE:C,CXX>:-Os -ffunction-sections -fdata-sections>)
target_link_options(sweep_core PUBLIC -Wl,--gc-sections)

file(GLOB_RECURSE SWEEP_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/win32/*.cpp)
add_library(sweep_win32 STATIC ${SWEEP_WIN32_SOURCES})
target_link_libraries(sweep_win32 PUBLIC sweep_core)
target_compile_options(sweep_win32 PRIVATE ${SWEEP_WARNINGS})
# The core calls the backend's free functions (the ANSI code page), the backend calls the
# core's: a cycle of static libraries, which CMake resolves by repeating them on the link line.
target_link_libraries(sweep_core PUBLIC sweep_win32)
# Only libraries Windows always takes from System32 (KnownDLLs, ntdll) and the common
# controls the manifest binds: msi and version are loaded at run time (system_library.h).
set(SWEEP_WIN32_LIBS advapi32 shlwapi shell32 user32 kernel32 ole32 oleaut32 uuid ws2_32 psapi gdi32 comctl32 ntdll)
target_link_libraries(sweep_win32 PUBLIC ${SWEEP_WIN32_LIBS})

file(GLOB SWEEP_UI_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/*.cpp)
string(REPLACE "." "," SWEEP_VERSION_COMMAS "${PROJECT_VERSION}")
configure_file(${CMAKE_SOURCE_DIR}/src/ui/version.h.in ${CMAKE_BINARY_DIR}/generated/version.h @ONLY)
# The resource script names its pictures and the manifest; windres reports none of them as
# dependencies.
file(GLOB SWEEP_UI_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/res/*)
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/ui/sweeptool.rc PROPERTIES
    OBJECT_DEPENDS "${SWEEP_UI_RESOURCES};${CMAKE_SOURCE_DIR}/src/ui/sweeptool.exe.manifest")
add_executable(sweeptool WIN32
    ${CMAKE_SOURCE_DIR}/src/app/main_win32.cpp
    ${SWEEP_UI_SOURCES}
    ${CMAKE_SOURCE_DIR}/src/ui/sweeptool.rc)
target_include_directories(sweeptool PRIVATE ${CMAKE_BINARY_DIR}/generated ${CMAKE_SOURCE_DIR}/src/ui)
target_link_libraries(sweeptool PRIVATE sweep_win32 ${SWEEP_STATIC_LINK})
target_compile_options(sweeptool PRIVATE ${SWEEP_WARNINGS})
# Terminal-server aware: without the flag, Windows on a Remote Desktop host may answer
# GetWindowsDirectory with a private folder in the user's profile.
target_link_options(sweeptool PRIVATE -Wl,--tsaware)
set_target_properties(sweeptool PROPERTIES OUTPUT_NAME sweeptool RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# GoogleTest cross-built from the sources Debian ships.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB SWEEP_WINDOWS_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.cpp)
add_executable(sweep_wintests ${SWEEP_WINDOWS_TESTS} ${SWEEP_CONTRACT_TESTS})
target_include_directories(sweep_wintests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(sweep_wintests PRIVATE sweep_win32 gtest gmock ${SWEEP_STATIC_LINK})
set_target_properties(sweep_wintests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Helper programs the Windows-side tests start (a real service, a long-running process).
file(GLOB SWEEP_TEST_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/programs/*.c)
foreach(src ${SWEEP_TEST_PROGRAMS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE advapi32 ${SWEEP_STATIC_LINK})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs)
endforeach()

# The raw-call floor the Wine removal benchmark measures the tool against.
add_executable(rawfloor ${CMAKE_SOURCE_DIR}/bench/wine/rawfloor.c)
target_link_libraries(rawfloor PRIVATE advapi32 ${SWEEP_STATIC_LINK})
set_target_properties(rawfloor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs)

# C++ helper programs for the Windows-side tests, built on the product's own libraries
# (a logging stress writer, for instance): one executable per file.
file(GLOB SWEEP_TEST_TOOLS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/tools/*.cpp)
foreach(src ${SWEEP_TEST_TOOLS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE sweep_win32 ${SWEEP_STATIC_LINK})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs)
endforeach()

# The 64-bit provider remover ships beside sweeptool.exe. It is a project of its own because
# it needs the x86_64 toolchain; it shares only the catalogue code with the tool.
include(ExternalProject)
ExternalProject_Add(instkvps_x64
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/instkvps_x64
    BINARY_DIR ${CMAKE_BINARY_DIR}/instkvps_x64-build
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
        -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${CMAKE_BINARY_DIR}
        -DSWEEP_VERSION=${PROJECT_VERSION}
    INSTALL_COMMAND ""
    # The inner build decides what changed; its sources are not visible to this project.
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/instkvps_x64.exe)
# The Windows-side tests run the network-stack reset, which starts the remover on WOW64.
add_dependencies(sweep_wintests instkvps_x64)
