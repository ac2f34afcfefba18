# The default stem models: four small signal-processing graphs written by a
# Python generator at build time. They are installed beside the library and
# found by the ombrelt command.
set(OMBRELT_DEFAULT_MODELS_DIR "${CMAKE_BINARY_DIR}/models" CACHE INTERNAL "")
set(OMBRELT_DEFAULT_MODEL_FILES
  "${OMBRELT_DEFAULT_MODELS_DIR}/umxl_vocals.onnx"
  "${OMBRELT_DEFAULT_MODELS_DIR}/umxl_other.onnx"
  "${OMBRELT_DEFAULT_MODELS_DIR}/umxl_bass.onnx"
  "${OMBRELT_DEFAULT_MODELS_DIR}/umxl_drums.onnx")
set(_generator "${CMAKE_CURRENT_SOURCE_DIR}/default_models/make_default_models.py")
add_custom_command(
  OUTPUT ${OMBRELT_DEFAULT_MODEL_FILES}
  COMMAND "${OMBRELT_PYTHON}" "${_generator}" "${OMBRELT_DEFAULT_MODELS_DIR}"
  DEPENDS "${_generator}"
  COMMENT "Generating the default stem models")
add_custom_target(ombrelt_default_models ALL DEPENDS ${OMBRELT_DEFAULT_MODEL_FILES})
