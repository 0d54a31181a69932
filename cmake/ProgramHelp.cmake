# ProgramHelp.cmake - every program's --help text, option table and manual
# page, made at build time from its help source (app/tarpelix.help,
# tools/NAME.help) by tools/help/helpgen.cpp, so that they cannot disagree.
#
# tarpelix_program_help(TARGET SOURCE) gives the program TARGET the header
# TARGET_help.h (its ProgramHelp and option values, see
# platform/command_line.h) and the manual page man/man1/TARGET.1.gz in the
# build tree, and makes it one of the programs that "programs" builds and
# that are installed (cmake/Packaging.cmake).

add_executable(helpgen ${PROJECT_SOURCE_DIR}/tools/help/helpgen.cpp)

# What ./run builds: the program and the tools with their manual pages.
add_custom_target(programs)

set(TARPELIX_MAN_DIR ${PROJECT_BINARY_DIR}/man/man1)

function(tarpelix_program_help target source)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "${target} has no help source ${source}: every program has one (README, 'A new tool')")
  endif()
  set(_dir ${PROJECT_BINARY_DIR}/help)
  set(_header ${_dir}/${target}_help.h)
  set(_man ${TARPELIX_MAN_DIR}/${target}.1)
  add_custom_command(OUTPUT ${_header} ${_man} ${_man}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir} ${TARPELIX_MAN_DIR}
    COMMAND helpgen ${source} ${PROJECT_VERSION} ${_header} ${_man}
    # -n: no name or time in the compressed file, as Debian wants it.
    COMMAND gzip -9 -n -k -f ${_man}
    DEPENDS helpgen ${source}
    COMMENT "Help text and manual page of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${_header})
  target_include_directories(${target} PRIVATE ${_dir})
  add_dependencies(programs ${target})
  set_property(GLOBAL APPEND PROPERTY TARPELIX_PROGRAMS ${target})
  set_property(GLOBAL APPEND PROPERTY TARPELIX_MAN_PAGES ${_man}.gz)
endfunction()
