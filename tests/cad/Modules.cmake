# The fixture modules of the sample package: real DLLs under the package's
# module names, each telling which module it is (FixtureModule.cpp). Used by
# the sample package (cmake/Dist.cmake) and by the CAD stand-in's tests.
include_guard(GLOBAL)

set(CAD_FIXTURE_MODULE_DIR ${CMAKE_BINARY_DIR}/bin/cad/modules)
set(CAD_FIXTURE_MODULES)

function(add_cad_fixture_module target file_name)
    string(REGEX MATCH "^(.*)(\\.[^.]*)$" _ "${file_name}")
    add_library(${target} SHARED ${CMAKE_SOURCE_DIR}/tests/cad/FixtureModule.cpp)
    setup_target_options(${target})
    target_compile_definitions(${target} PRIVATE "FIXTURE_ID=\"${file_name} fixture module\"")
    # Stripped: the package should stay small, these modules only have to load.
    target_link_options(${target} PRIVATE -s)
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        OUTPUT_NAME "${CMAKE_MATCH_1}"
        SUFFIX "${CMAKE_MATCH_2}"
        RUNTIME_OUTPUT_DIRECTORY ${CAD_FIXTURE_MODULE_DIR}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/cad)
    set(CAD_FIXTURE_MODULES ${CAD_FIXTURE_MODULES} ${target} PARENT_SCOPE)
endfunction()

# The plug-in's native module (the name the registration writes into LOADER),
# the host DLLs of the releases, and the PDF library.
add_cad_fixture_module(cad_module_plugin TR_VazivIvir2023.GRX)
add_cad_fixture_module(cad_module_host2023 GCAD2023P.dll)
add_cad_fixture_module(cad_module_host2024 GCAD2024P.dll)
add_cad_fixture_module(cad_module_pdf itextsharp.dll)
