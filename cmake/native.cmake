# Native build: the engine against the simulated machine, the test suite and the benchmarks.
enable_testing()
include(GoogleTest)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

if(SWEEP_SANITIZE)
    set(SWEEP_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_compile_options(${SWEEP_SAN_FLAGS})
    add_link_options(${SWEEP_SAN_FLAGS})
    # The sanitizer build runs the same suite again; the instrumented objects must not mix with the plain ones.
    target_compile_options(sweep_core PRIVATE ${SWEEP_SAN_FLAGS})
endif()

file(GLOB_RECURSE SWEEP_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/sim/*.cpp)
add_library(sweep_sim STATIC ${SWEEP_SIM_SOURCES})
target_link_libraries(sweep_sim PUBLIC sweep_core Threads::Threads)
target_compile_options(sweep_sim PRIVATE ${SWEEP_WARNINGS})
# The core calls the backend's free functions (the ANSI code page), the backend calls the
# core's: a cycle of static libraries, which CMake resolves by repeating them on the link line.
target_link_libraries(sweep_core PUBLIC sweep_sim)

file(GLOB_RECURSE SWEEP_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
list(FILTER SWEEP_NATIVE_TESTS EXCLUDE REGEX ".*/tests/(windows|e2e)/.*")
add_executable(sweep_tests ${SWEEP_NATIVE_TESTS})
target_include_directories(sweep_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(sweep_tests PRIVATE sweep_sim GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
target_compile_options(sweep_tests PRIVATE ${SWEEP_WARNINGS})
gtest_discover_tests(sweep_tests DISCOVERY_TIMEOUT 60)

find_package(benchmark QUIET)
file(GLOB SWEEP_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
if(benchmark_FOUND AND SWEEP_BENCH_SOURCES)
    add_executable(sweep_bench ${SWEEP_BENCH_SOURCES})
    target_link_libraries(sweep_bench PRIVATE sweep_sim benchmark::benchmark Threads::Threads)
endif()
