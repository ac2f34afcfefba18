# Tiny ONNX stem model sets for the tests, one directory per set under
# test-models/ in the build tree.
set(OMBRELT_TEST_MODELS_DIR "${CMAKE_BINARY_DIR}/test-models")
add_custom_command(
  OUTPUT "${OMBRELT_TEST_MODELS_DIR}/.stamp"
  COMMAND "${OMBRELT_PYTHON}" "${CMAKE_CURRENT_SOURCE_DIR}/make_test_models.py"
          "${OMBRELT_TEST_MODELS_DIR}"
  COMMAND "${CMAKE_COMMAND}" -E touch "${OMBRELT_TEST_MODELS_DIR}/.stamp"
  DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/make_test_models.py"
  COMMENT "Generating test models")
add_custom_target(ombrelt_test_models DEPENDS "${OMBRELT_TEST_MODELS_DIR}/.stamp")
