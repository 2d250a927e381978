# The command-line tool's manual page, generated from its --help and
# --version by help2man at build time, and its bash completion script.
include(GNUInstallDirs)

find_program(QUENFOLD_HELP2MAN help2man)
if(QUENFOLD_HELP2MAN AND NOT QUENFOLD_FUZZ)
  set(QUENFOLD_MAN_PAGE ${CMAKE_BINARY_DIR}/quenfold-verify.1)
  add_custom_command(
    OUTPUT ${QUENFOLD_MAN_PAGE}
    COMMAND ${QUENFOLD_HELP2MAN} --no-info --section=1
      "--name=verify key-transparency log and directory artefacts"
      --output=${QUENFOLD_MAN_PAGE} $<TARGET_FILE:quenfold-verify>
    DEPENDS quenfold-verify
    COMMENT "Generating the quenfold-verify manual page"
    VERBATIM)
  add_custom_target(quenfold-verify-man ALL DEPENDS ${QUENFOLD_MAN_PAGE})
  install(FILES ${QUENFOLD_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(NOT QUENFOLD_FUZZ)
  message(WARNING "help2man not found: the quenfold-verify manual page is not built")
endif()

install(FILES ${CMAKE_SOURCE_DIR}/tools/quenfold-verify/completion.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quenfold-verify)
