# FFmpeg and KissFFT from the system through pkg-config; yyjson and ONNX
# Runtime from the project's dependency prefix (see scripts/setup.sh).
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswresample libavutil)
pkg_check_modules(KISSFFT REQUIRED IMPORTED_TARGET kissfft-float)

set(OMBRELT_YYJSON_LIB "${OMBRELT_DEPS_DIR}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/libyyjson.so.0")
set(OMBRELT_ORT_LIB "${OMBRELT_DEPS_DIR}/lib/libonnxruntime.so.1")
foreach(f "${OMBRELT_YYJSON_LIB}" "${OMBRELT_ORT_LIB}"
          "${OMBRELT_DEPS_DIR}/usr/include/yyjson.h"
          "${OMBRELT_DEPS_DIR}/usr/include/onnxruntime/onnxruntime_c_api.h")
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "${f} is missing: run scripts/setup.sh first")
  endif()
endforeach()

add_library(ombrelt_yyjson SHARED IMPORTED)
set_target_properties(ombrelt_yyjson PROPERTIES
  IMPORTED_LOCATION "${OMBRELT_YYJSON_LIB}"
  IMPORTED_SONAME libyyjson.so.0
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${OMBRELT_DEPS_DIR}/usr/include"
  INTERFACE_INCLUDE_DIRECTORIES "${OMBRELT_DEPS_DIR}/usr/include")

add_library(ombrelt_onnxruntime SHARED IMPORTED)
set_target_properties(ombrelt_onnxruntime PROPERTIES
  IMPORTED_LOCATION "${OMBRELT_ORT_LIB}"
  IMPORTED_SONAME libonnxruntime.so.1
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${OMBRELT_DEPS_DIR}/usr/include/onnxruntime"
  INTERFACE_INCLUDE_DIRECTORIES "${OMBRELT_DEPS_DIR}/usr/include/onnxruntime")

# Directories the built binaries search at run time, so nothing needs
# LD_LIBRARY_PATH.
set(OMBRELT_DEPS_RPATH
  "${OMBRELT_DEPS_DIR}/lib;${OMBRELT_DEPS_DIR}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}")
