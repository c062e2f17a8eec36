# The CAD stand-in gcad.exe, the fixture modules, and their tests. Test-only:
# none of it goes into the core library or into SetUp.exe.
include(${CMAKE_CURRENT_LIST_DIR}/Modules.cmake)

# In a folder of its own, so that it is not taken for a running CAD by
# accident (the running-host check looks for gcad.exe by name).
add_executable(cad_standin ${CMAKE_CURRENT_LIST_DIR}/gcad.cpp)
setup_target_options(cad_standin)
set_target_properties(cad_standin PROPERTIES OUTPUT_NAME gcad RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/cad)

file(GLOB CAD_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
if(CAD_TEST_SOURCES)
    add_executable(cad_tests ${CAD_TEST_SOURCES})
    setup_target_options(cad_tests)
    target_link_libraries(cad_tests PRIVATE testsupport gtest_main)
    # sample_package comes from cmake/Dist.cmake, included after the tests.
    add_dependencies(cad_tests cad_standin ${CAD_FIXTURE_MODULES} SetUp sample_package)
    gtest_add_tests(TARGET cad_tests SOURCES ${CAD_TEST_SOURCES} TEST_LIST cad_list)
    set_tests_properties(${cad_list} PROPERTIES TIMEOUT 120)
endif()

# The distributable is checked on the Linux side: unpacked and compared with
# the sample package.
add_test(NAME CadDist.ZipHoldsTheSamplePackage
         COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/CheckDist.cmake)
set_tests_properties(CadDist.ZipHoldsTheSamplePackage PROPERTIES TIMEOUT 120)
