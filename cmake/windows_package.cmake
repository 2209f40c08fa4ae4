# The Windows deliverables: the DLL's version resource, a .def of its exports with an import
# library that Microsoft's linker accepts, and the archive ravlink-VERSION-win64.zip.
enable_language(RC)
configure_file(${PROJECT_SOURCE_DIR}/cmake/ravlink64.rc.in ${PROJECT_BINARY_DIR}/ravlink64.rc @ONLY)
target_sources(ravlink64 PRIVATE ${PROJECT_BINARY_DIR}/ravlink64.rc)

# The linker writes the .def of exactly what the DLL exports; dlltool makes the import library
# for Microsoft's toolchain from it (the MinGW one, libravlink64.dll.a, comes from the link).
set(RAVLINK_DEF ${PROJECT_BINARY_DIR}/bin/ravlink64.def)
set(RAVLINK_MSVC_LIB ${PROJECT_BINARY_DIR}/bin/ravlink64.lib)
target_link_options(ravlink64 PRIVATE -Wl,--output-def,${RAVLINK_DEF})
set_target_properties(ravlink64 PROPERTIES IMPORT_PREFIX lib IMPORT_SUFFIX .dll.a)
find_program(RAVLINK_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
add_custom_command(TARGET ravlink64 POST_BUILD
                   COMMAND ${RAVLINK_DLLTOOL} -m i386:x86-64 -d ${RAVLINK_DEF} -D ravlink64.dll -l ${RAVLINK_MSVC_LIB}
                   BYPRODUCTS ${RAVLINK_DEF} ${RAVLINK_MSVC_LIB}
                   COMMENT "Import library for Microsoft's linker" VERBATIM)

set(RAVLINK_ZIP_NAME ravlink-${PROJECT_VERSION}-win64)
set(RAVLINK_ZIP ${PROJECT_BINARY_DIR}/${RAVLINK_ZIP_NAME}.zip)
set(zip_inputs $<TARGET_FILE:ravlink64> $<TARGET_LINKER_FILE:ravlink64> ${RAVLINK_MSVC_LIB} ${RAVLINK_DEF}
    ${PROJECT_SOURCE_DIR}/include/ravlink.h ${PROJECT_SOURCE_DIR}/README.md)
if(TARGET ravlink)
  list(APPEND zip_inputs $<TARGET_FILE:ravlink>)
endif()
add_custom_command(OUTPUT ${RAVLINK_ZIP}
                   COMMAND ${CMAKE_COMMAND} -DNAME=${RAVLINK_ZIP_NAME} -DOUT=${PROJECT_BINARY_DIR} -DSTRIP=${CMAKE_STRIP}
                           "-DFILES=$<JOIN:${zip_inputs},|>" -P ${PROJECT_SOURCE_DIR}/cmake/make_windows_zip.cmake
                   DEPENDS ${zip_inputs} ${PROJECT_SOURCE_DIR}/cmake/make_windows_zip.cmake
                   COMMENT "Windows archive ${RAVLINK_ZIP_NAME}.zip" VERBATIM)
add_custom_target(windows_zip ALL DEPENDS ${RAVLINK_ZIP})
