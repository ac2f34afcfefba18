# Converted checkpoint fixtures for the tests: the committed PyTorch
# checkpoints (tests/data/umx) run through the converter into a model set
# under umx-models/ in the build tree, and blocks with the outputs the NumPy
# reference forward pass gives for them under umx-blocks/.
set(OMBRELT_UMX_MODELS_DIR "${CMAKE_BINARY_DIR}/umx-models" CACHE INTERNAL "")
set(OMBRELT_UMX_BLOCKS_DIR "${CMAKE_BINARY_DIR}/umx-blocks" CACHE INTERNAL "")
set(_umx_fixtures "${PROJECT_SOURCE_DIR}/tests/data/umx")
file(GLOB _umx_tool_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/umx/*.py")

# Both serializations serve, each as two of the four stems.
set(_umx_stem_fixtures
  vocals umx_h8_legacy.pth other umx_h8_zip.pth bass umx_h8_legacy.pth drums umx_h8_zip.pth)
set(_umx_models)
while(_umx_stem_fixtures)
  list(POP_FRONT _umx_stem_fixtures stem fixture)
  set(model "${OMBRELT_UMX_MODELS_DIR}/umxl_${stem}.onnx")
  add_custom_command(
    OUTPUT "${model}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${OMBRELT_UMX_MODELS_DIR}"
    COMMAND "${OMBRELT_PYTHON}" -B "${CMAKE_CURRENT_SOURCE_DIR}/umx/convert_checkpoint.py"
            "${_umx_fixtures}/${fixture}" "${model}"
    DEPENDS "${_umx_fixtures}/${fixture}" ${_umx_tool_sources}
    COMMENT "Converting ${fixture} into umxl_${stem}.onnx")
  list(APPEND _umx_models "${model}")
endwhile()

set(_umx_block_tool "${PROJECT_SOURCE_DIR}/tests/umx/make_expected_blocks.py")
add_custom_command(
  OUTPUT "${OMBRELT_UMX_BLOCKS_DIR}/cases.txt"
  COMMAND "${OMBRELT_PYTHON}" -B "${_umx_block_tool}" "${_umx_fixtures}/umx_h8_zip.pth"
          "${OMBRELT_UMX_BLOCKS_DIR}"
  DEPENDS "${_umx_block_tool}" "${PROJECT_SOURCE_DIR}/tests/umx/reference_forward.py"
          "${_umx_fixtures}/umx_h8_zip.pth" ${_umx_tool_sources}
  COMMENT "Computing reference outputs of the checkpoint fixtures")
add_custom_target(ombrelt_umx_test_data DEPENDS ${_umx_models} "${OMBRELT_UMX_BLOCKS_DIR}/cases.txt")
