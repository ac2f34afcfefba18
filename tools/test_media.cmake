set(OMBRELT_TEST_MEDIA_DIR "${CMAKE_BINARY_DIR}/test-media" CACHE INTERNAL "")
add_custom_command(
  OUTPUT "${OMBRELT_TEST_MEDIA_DIR}/.stamp"
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/make_test_media.sh" "${OMBRELT_TEST_MEDIA_DIR}"
  COMMAND "${CMAKE_COMMAND}" -E touch "${OMBRELT_TEST_MEDIA_DIR}/.stamp"
  DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/make_test_media.sh"
  COMMENT "Generating test media")
add_custom_target(ombrelt_test_media DEPENDS "${OMBRELT_TEST_MEDIA_DIR}/.stamp")
