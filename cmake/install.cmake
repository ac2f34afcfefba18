# What `cmake --install` puts under the prefix:
#   <libdir>/libtavrin-ombrelt.so*          the library with its SONAME links
#   <libdir>/libtavrin-ombrelt-session.so*  the session library, likewise
#   <libdir>/libonnxruntime.so.1, libyyjson.so.0
#                                           the runtime libraries it needs, found
#                                           through the library's $ORIGIN rpath
#   <includedir>/ombrelt.h, ombrelt_session.h
#                                           the public headers
#   <bindir>/ombrelt                        the command
#   <datadir>/tavrin-ombrelt/models/*.onnx  the default stem models
#   <libdir>/pkgconfig/tavrin-ombrelt.pc, tavrin-ombrelt-session.pc
#                                           for pkg-config
#   <libdir>/cmake/tavrin-ombrelt/          for find_package(tavrin-ombrelt)
#   <docdir>/LICENSE, THIRD-PARTY.md, README.md
#                                           the licence, the licences of what
#                                           is bundled or linked, the manual
# Every path in the package files is relative to where they are installed,
# so the tree may be installed with --prefix or moved as a whole.
include(CMakePackageConfigHelpers)

set(OMBRELT_INSTALL_MODELSDIR "${CMAKE_INSTALL_DATADIR}/tavrin-ombrelt/models")
set(OMBRELT_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/tavrin-ombrelt")

install(TARGETS tavrin-ombrelt tavrin-ombrelt-session EXPORT tavrin-ombrelt-targets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/include/ombrelt.h" "${PROJECT_SOURCE_DIR}/include/ombrelt_session.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")

# The runtime libraries, under their SONAMEs (yyjson's is a link to the
# versioned file, which is what gets copied).
get_filename_component(_yyjson_file "${OMBRELT_YYJSON_LIB}" REALPATH)
install(FILES "${OMBRELT_ORT_LIB}" DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(FILES "${_yyjson_file}" DESTINATION "${CMAKE_INSTALL_LIBDIR}" RENAME libyyjson.so.0)

if(TARGET ombrelt)
  install(TARGETS ombrelt RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()
if(TARGET ombrelt_default_models)
  install(DIRECTORY "${OMBRELT_DEFAULT_MODELS_DIR}/" DESTINATION "${OMBRELT_INSTALL_MODELSDIR}"
    FILES_MATCHING PATTERN "*.onnx")
endif()

install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/THIRD-PARTY.md"
  "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# pkg-config: the prefix is found from the .pc file's own place.
file(RELATIVE_PATH OMBRELT_PC_PREFIX_FROM_PCDIR
  "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" OMBRELT_PC_PREFIX_FROM_PCDIR "${OMBRELT_PC_PREFIX_FROM_PCDIR}")
foreach(OMBRELT_PC_NAME tavrin-ombrelt tavrin-ombrelt-session)
  if(OMBRELT_PC_NAME STREQUAL "tavrin-ombrelt")
    set(OMBRELT_PC_DESCRIPTION "${PROJECT_DESCRIPTION}")
  else()
    set(OMBRELT_PC_DESCRIPTION "${PROJECT_DESCRIPTION}: sessions, progress, formats, memory")
  endif()
  configure_file("${CMAKE_CURRENT_LIST_DIR}/tavrin-ombrelt.pc.in"
    "${CMAKE_BINARY_DIR}/${OMBRELT_PC_NAME}.pc" @ONLY)
  install(FILES "${CMAKE_BINARY_DIR}/${OMBRELT_PC_NAME}.pc"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endforeach()

# CMake package: find_package(tavrin-ombrelt) gives tavrin-ombrelt::tavrin-ombrelt
# and tavrin-ombrelt::session.
install(EXPORT tavrin-ombrelt-targets NAMESPACE tavrin-ombrelt::
  DESTINATION "${OMBRELT_INSTALL_CMAKEDIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/tavrin-ombrelt-config.cmake.in"
  "${CMAKE_BINARY_DIR}/tavrin-ombrelt-config.cmake"
  INSTALL_DESTINATION "${OMBRELT_INSTALL_CMAKEDIR}"
  PATH_VARS OMBRELT_INSTALL_MODELSDIR)
write_basic_package_version_file("${CMAKE_BINARY_DIR}/tavrin-ombrelt-config-version.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/tavrin-ombrelt-config.cmake"
  "${CMAKE_BINARY_DIR}/tavrin-ombrelt-config-version.cmake"
  DESTINATION "${OMBRELT_INSTALL_CMAKEDIR}")
