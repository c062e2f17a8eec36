# Packaging: the sample package laid out as a user unpacks it (target
# sample_package), and the zip a user downloads (target dist). Both are part
# of all: the zip is packed again only when the package changed, and the
# tests check the zip of the very build they run in.
#
#   <build>/package/SetUp.exe
#   <build>/package/Data/...       the plug-in's files (fixtures here)
#   <build>/Tovrel-Setup.zip       SetUp.exe and Data/ at the top of the zip

include(${CMAKE_SOURCE_DIR}/tests/cad/Modules.cmake)

set(SAMPLE_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(SAMPLE_PACKAGE_STAMP ${CMAKE_BINARY_DIR}/CMakeFiles/sample_package.stamp)
set(DIST_ZIP ${CMAKE_BINARY_DIR}/Tovrel-Setup.zip)

# The plug-in's plain files (settings, fonts, scripts, readme); dot-files are
# repository bookkeeping.
file(GLOB SAMPLE_PACKAGE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/cad/package/*)
list(FILTER SAMPLE_PACKAGE_FILES EXCLUDE REGEX "/\\.[^/]*$")

set(sample_copies)
set(sample_entries)
foreach(file ${SAMPLE_PACKAGE_FILES})
    get_filename_component(name ${file} NAME)
    list(APPEND sample_copies COMMAND ${CMAKE_COMMAND} -E copy ${file} ${SAMPLE_PACKAGE_DIR}/Data/${name})
    list(APPEND sample_entries Data/${name})
endforeach()
foreach(module ${CAD_FIXTURE_MODULES})
    list(APPEND sample_copies COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${module}> ${SAMPLE_PACKAGE_DIR}/Data/)
    get_target_property(module_name ${module} OUTPUT_NAME)
    get_target_property(module_suffix ${module} SUFFIX)
    list(APPEND sample_entries Data/${module_name}${module_suffix})
endforeach()
list(SORT sample_entries)

# Laid out afresh each time, so a file dropped from the package does not
# linger from an earlier build.
add_custom_command(
    OUTPUT ${SAMPLE_PACKAGE_STAMP}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${SAMPLE_PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SAMPLE_PACKAGE_DIR}/Data
    ${sample_copies}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:SetUp> ${SAMPLE_PACKAGE_DIR}/SetUp.exe
    COMMAND ${CMAKE_COMMAND} -E touch ${SAMPLE_PACKAGE_STAMP}
    DEPENDS ${SAMPLE_PACKAGE_FILES} ${CAD_FIXTURE_MODULES} SetUp
    COMMENT "Laying out the sample package in ${SAMPLE_PACKAGE_DIR}"
    VERBATIM)
add_custom_target(sample_package ALL DEPENDS ${SAMPLE_PACKAGE_STAMP})

# Entries named one by one, in a fixed order, so the zip does not depend on
# the order in which the file system lists a folder.
add_custom_command(
    OUTPUT ${DIST_ZIP}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${DIST_ZIP}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${DIST_ZIP} --format=zip SetUp.exe ${sample_entries}
    WORKING_DIRECTORY ${SAMPLE_PACKAGE_DIR}
    DEPENDS ${SAMPLE_PACKAGE_STAMP} sample_package
    COMMENT "Packing ${DIST_ZIP}"
    VERBATIM)
add_custom_target(dist ALL DEPENDS ${DIST_ZIP})

# A signed release (target sign, not part of all): SetUp.exe signed with the
# certificate and key the environment names (cmake/SignExe.cmake), and the
# zip packed again around it.
#
#   <build>/signed/SetUp.exe
#   <build>/signed/Tovrel-Setup.zip
set(SIGNED_DIR ${CMAKE_BINARY_DIR}/signed)
add_custom_target(sign
    COMMAND ${CMAKE_COMMAND} -DINPUT=${SAMPLE_PACKAGE_DIR}/SetUp.exe -DOUTPUT=${SIGNED_DIR}/SetUp.exe
            -P ${CMAKE_SOURCE_DIR}/cmake/SignExe.cmake
    COMMAND ${CMAKE_COMMAND} -E rm -f ${SIGNED_DIR}/Tovrel-Setup.zip
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${SAMPLE_PACKAGE_DIR}/Data ${SIGNED_DIR}/Data
    COMMAND ${CMAKE_COMMAND} -E tar cf ${SIGNED_DIR}/Tovrel-Setup.zip --format=zip SetUp.exe ${sample_entries}
    WORKING_DIRECTORY ${SIGNED_DIR}
    DEPENDS sample_package
    COMMENT "Signing SetUp.exe into ${SIGNED_DIR}"
    VERBATIM)
