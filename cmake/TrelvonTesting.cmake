# GoogleTest from the distribution's sources, built with the same compiler and flags as the
# code under test.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
if(WIN32)
    # GoogleTest uses Win32 threading on Windows; it must not look for pthreads.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

if(WIN32)
    # One prefix and one persistent wineserver per build tree, booted once per ctest run.
    add_test(NAME wine.setup COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-setup ${CMAKE_BINARY_DIR})
    set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
    add_test(NAME wine.teardown COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-teardown ${CMAKE_BINARY_DIR})
    set_tests_properties(wine.teardown PROPERTIES FIXTURES_CLEANUP wine)
endif()

# trelvon_add_test(NAME name SOURCES ... LIBRARIES ... [TIMEOUT s] [ENVIRONMENT ...] [RESOURCE_LOCK ...])
# One ctest entry per test program; under Wine it runs through the emulator in the booted prefix.
function(trelvon_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT;RESOURCE_LOCK" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES} GTest::gmock GTest::gtest_main)
    target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
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
endfunction()
