# Manual pages: docs/man/NAME.1.md, written once in Markdown, turned into roff by Debian's go-md2man when the
# program is built, compressed as Debian installs them, and installed with the program's component.
include(GNUInstallDirs)
find_program(NUMBRELLE_GO_MD2MAN go-md2man)

# numbrelle_man_page(NAME COMPONENT): the page of program NAME, built with the default target.
function(numbrelle_man_page name component)
  if(NOT NUMBRELLE_GO_MD2MAN)
    message(STATUS "go-md2man not found: ${name}(1) is not made (scripts/install-deps installs it)")
    return()
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.1.md)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${name}.1.md ${source} @ONLY)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${NUMBRELLE_GO_MD2MAN} -in ${source} -out ${page}
    COMMAND gzip -9nf ${page}
    DEPENDS ${source}
    COMMENT "Making the manual page ${name}(1)")
  add_custom_target(${name}_man_page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
