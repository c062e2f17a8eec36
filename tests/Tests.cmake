# Test executables, one per area, run by ctest through Wine.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

file(GLOB SETUP_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(testsupport STATIC ${SETUP_TEST_SUPPORT})
setup_target_options(testsupport)
target_link_libraries(testsupport PUBLIC setupcore gtest comctl32)

# Fixture programs: each tests/fixtures/NAME.cpp becomes NAME.exe beside the tests.
file(GLOB SETUP_FIXTURES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fixtures/*.cpp)
set(SETUP_FIXTURE_TARGETS)
foreach(src ${SETUP_FIXTURES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(fixture_${name} ${src})
    setup_target_options(fixture_${name})
    set_target_properties(fixture_${name} PROPERTIES OUTPUT_NAME ${name})
    target_link_libraries(fixture_${name} PRIVATE testsupport)
    list(APPEND SETUP_FIXTURE_TARGETS fixture_${name})
endforeach()

# SetUpFaults.exe: the same program plus the fault seam, through which a test
# fails any one registry, file or process call, and names the user at the
# desk (its LookUpDesktopUser takes the place of the core's). Built for the
# tests only; it is never packed, so the shipped program has no such door.
add_executable(SetUpFaults WIN32 ${SETUP_APP_SOURCES} ${CMAKE_SOURCE_DIR}/tests/seam/FaultSeam.cpp
               ${CMAKE_SOURCE_DIR}/tests/seam/DesktopUserSeam.cpp ${CMAKE_SOURCE_DIR}/res/setup.rc)
setup_target_options(SetUpFaults)
set_target_properties(SetUpFaults PROPERTIES CXX_STANDARD 20)
target_link_libraries(SetUpFaults PRIVATE setupcore)
# The same entry point as SetUp.exe, so the same start-up is walked.
target_link_options(SetUpFaults PRIVATE -Wl,--entry=SetupEntry)

# A DLL that marks its own loading (tests/program/MarkerDll.cpp), planted
# under system DLL names beside SetUp.exe by the DLL-loading test.
add_library(marker_dll SHARED ${CMAKE_SOURCE_DIR}/tests/program/MarkerDll.cpp)
setup_target_options(marker_dll)
target_link_options(marker_dll PRIVATE -s)
set_target_properties(marker_dll PROPERTIES PREFIX "" OUTPUT_NAME marker)
list(APPEND SETUP_FIXTURE_TARGETS marker_dll)

# One executable per area: tests/AREA/*_test.cpp -> AREA_tests.exe. The
# areas below program/ test a code folder in this process; program/ starts
# the built SetUp.exe (or SetUpFaults.exe) and drives it from outside.
foreach(area framework checked removal deploy host ui program)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/*_test.cpp)
    if(NOT sources)
        continue()
    endif()
    add_executable(${area}_tests ${sources})
    setup_target_options(${area}_tests)
    target_link_libraries(${area}_tests PRIVATE testsupport gtest_main)
    if(SETUP_FIXTURE_TARGETS)
        add_dependencies(${area}_tests ${SETUP_FIXTURE_TARGETS} SetUp SetUpFaults)
    endif()
    gtest_add_tests(TARGET ${area}_tests SOURCES ${sources} TEST_LIST ${area}_list)
    set_tests_properties(${${area}_list} PROPERTIES TIMEOUT 120)
endforeach()
foreach(test ${program_list})
    # The fault and crash walks run the whole install once per platform call.
    if(test MATCHES "^(FaultWalkTest|CrashWalkTest)\\.")
        set_tests_properties(${test} PROPERTIES TIMEOUT 1200)
    # Each removal test installs and removes several times; the kill test
    # installs 2,000 files about twenty times over.
    elseif(test MATCHES "^(UninstallTest|KillTest)\\.")
        set_tests_properties(${test} PROPERTIES TIMEOUT 300)
    endif()
endforeach()

# The CAD stand-in and its fixture modules (test-only, never shipped).
include(${CMAKE_SOURCE_DIR}/tests/cad/Cad.cmake OPTIONAL)

# The release signing step with a throwaway certificate (Linux side).
add_test(NAME Release.SignedCopyVerifies
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/sign/check_sign.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE:SetUp>)
set_tests_properties(Release.SignedCopyVerifies PROPERTIES TIMEOUT 60)

# A package the installing user may only read, laid by root (ctest runs the
# script itself) around the test that installs from it.
add_test(NAME ReadOnlyPackage.Stage
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/program/readonly_package.sh stage ${SETUP_WINEPREFIX}
                 $<TARGET_FILE:SetUp>)
add_test(NAME ReadOnlyPackage.Remove
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/program/readonly_package.sh remove ${SETUP_WINEPREFIX}
                 $<TARGET_FILE:SetUp>)
set_tests_properties(ReadOnlyPackage.Stage PROPERTIES FIXTURES_SETUP ReadOnlyPackage)
set_tests_properties(ReadOnlyPackage.Remove PROPERTIES FIXTURES_CLEANUP ReadOnlyPackage)
if(TEST UninstallTest.InstallsAndRemovesAPackageItMayOnlyRead)
    set_tests_properties(UninstallTest.InstallsAndRemovesAPackageItMayOnlyRead
                         PROPERTIES FIXTURES_REQUIRED ReadOnlyPackage)
endif()
