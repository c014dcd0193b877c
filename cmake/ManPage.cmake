# man/selfex.1 in the build folder, made by scripts/make-manpage.sh from the
# help texts of the tool just built, so that the page follows every change
# of --help. Native builds only: the tool runs here.
set(SELFEX_MANPAGE ${CMAKE_BINARY_DIR}/man/selfex.1)
add_custom_command(
  OUTPUT ${SELFEX_MANPAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/make-manpage.sh $<TARGET_FILE:selfex> ${PROJECT_VERSION}
          ${PROJECT_SOURCE_DIR} ${SELFEX_MANPAGE}
  DEPENDS selfex ${PROJECT_SOURCE_DIR}/scripts/make-manpage.sh
  COMMENT "Writing the manual page from selfex --help"
  VERBATIM)
add_custom_target(selfex_manpage ALL DEPENDS ${SELFEX_MANPAGE})
