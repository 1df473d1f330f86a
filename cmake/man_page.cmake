# corvane_man_page(PROGRAM DESCRIPTION): the manual page PROGRAM.1, written by
# help2man from the program's own --help and --version each time the program is
# built, and installed in man1. DESCRIPTION is the page's one-line summary
# ("corvane-scan - DESCRIPTION"). The page's text is the program's help, so the
# two never disagree. Without help2man, or in a cross build (whose programs do
# not run here), no page is made and the programs are built all the same.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man was not found: the manual pages are not made")
endif()

function(corvane_man_page program description)
  if(NOT HELP2MAN OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
            ${HELP2MAN} --no-info --name=${description} --output=${page} $<TARGET_FILE:${program}>
    DEPENDS ${program}
    COMMENT "Writing the manual page of ${program}"
    VERBATIM)
  add_custom_target(${program}_man_page ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
