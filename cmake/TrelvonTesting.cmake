# GoogleTest from the distribution's sources, built with the same compiler and flags as the
# code under test.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
if(WIN32)
    # GoogleTest uses Win32 threading on Windows; it must not look for pthreads.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# One precompiled header for every test program: GoogleTest's headers and, in the mingw trees,
# windows.h take most of each test file's compile time. The test programs reuse this target's.
# In the mingw trees the test programs (not the code they test) carry line tables only: a crash
# still shows file and line, and full debug information, which GCC would also write for every
# header of the precompiled one, doubled each file's compile time.
file(WRITE ${CMAKE_BINARY_DIR}/test_pch.cpp "")
add_library(trelvon_test_pch STATIC ${CMAKE_BINARY_DIR}/test_pch.cpp)
target_link_libraries(trelvon_test_pch PRIVATE GTest::gmock GTest::gtest)
target_include_directories(trelvon_test_pch PRIVATE ${CMAKE_SOURCE_DIR}/tests)
set(TRELVON_TEST_OPTIONS $<$<BOOL:${WIN32}>:-g1>)
target_compile_options(trelvon_test_pch PRIVATE ${TRELVON_TEST_OPTIONS})
target_precompile_headers(trelvon_test_pch PRIVATE
    <gmock/gmock.h> <gtest/gtest.h> <algorithm> <functional> <memory> <string> <vector>
    $<$<BOOL:${WIN32}>:<windows.h$<ANGLE-R>>)

if(WIN32)
    # One prefix and one persistent wineserver per build tree, booted once per ctest run.
    add_test(NAME wine.setup COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-setup ${CMAKE_BINARY_DIR})
    set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
    add_test(NAME wine.teardown COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-teardown ${CMAKE_BINARY_DIR})
    set_tests_properties(wine.teardown PROPERTIES FIXTURES_CLEANUP wine)
endif()

# trelvon_add_test(NAME name SOURCES ... LIBRARIES ... [TIMEOUT s] [ENVIRONMENT ...]
#                  [RESOURCE_LOCK ...] [LABELS ...] [ALONE])
# One ctest entry per test program; under Wine it runs through the emulator in the booted prefix.
# ctest runs two programs at once (CMakePresets.json). Programs that read or write the player's
# kvhid.ini take the lock of that name. ALONE: the program asserts on wall-clock time, which a
# second program on the same cores would skew. LABELS soak: long runs a developer may leave out
# with -LE soak; CI runs them.
function(trelvon_add_test)
    cmake_parse_arguments(T "ALONE" "NAME;TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT;RESOURCE_LOCK;LABELS"
                          ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES} GTest::gmock GTest::gtest_main)
    target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_options(${T_NAME} PRIVATE ${TRELVON_TEST_OPTIONS})
    target_precompile_headers(${T_NAME} REUSE_FROM trelvon_test_pch)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(WIN32)
        # A program that crashes under Wine may still end with exit code 0 once the crash
        # handler has run, so the crash report itself fails the test.
        set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine
                             FAIL_REGULAR_EXPRESSION "wine: Unhandled|wine: Unimplemented function")
    endif()
    if(T_ENVIRONMENT)
        set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
    if(T_RESOURCE_LOCK)
        set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_ALONE)
        set_tests_properties(${T_NAME} PROPERTIES RUN_SERIAL TRUE)
    endif()
endfunction()
