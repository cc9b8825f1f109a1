# qex_embed_symbols(target [SIZE bytes] [SOURCE_ROOT dir] [ALL_FUNCTIONS]
#                   [STRIPPED_COPY path] [STRIP])
#
# Gives a Windows executable its own symbol table (function, source file and
# line of its code) for crash reports, so that a stripped .exe with nothing
# beside it still names its frames. The target is linked with a fixed-size
# RCDATA placeholder; after linking, tools/symtab/symtab.py reads the debug
# information of the linked file and writes the table over the placeholder,
# so no code address moves. The build fails when the table does not fit:
# raise SIZE (default 256 KiB) then.
#   SOURCE_ROOT    functions whose lines lie in files below it are listed
#                  (default: the source tree); files are named relative to it
#   ALL_FUNCTIONS  list every function, the runtime's as well
#   STRIPPED_COPY  also write a copy without debug information and symbols
#                  beside the target's own file
#   STRIP          strip the target's own file after embedding, so that what
#                  the build runs is what ships (its DWARF costs megabytes on
#                  disk and in the working set), and drop the placeholder's
#                  unused tail from the file; the unstripped link stays
#                  beside it as NAME.unstripped.exe for addr2line and gdb
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(QEX_SYMTAB_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../tools/symtab/symtab.py)

function(qex_embed_symbols target)
  cmake_parse_arguments(S "ALL_FUNCTIONS;STRIP" "SIZE;SOURCE_ROOT;STRIPPED_COPY" "" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  if(NOT S_SIZE)
    set(S_SIZE 262144)
  endif()
  if(NOT S_SOURCE_ROOT)
    set(S_SOURCE_ROOT ${CMAKE_SOURCE_DIR})
  endif()
  if(NOT CMAKE_NM OR NOT CMAKE_STRIP)
    message(FATAL_ERROR "qex_embed_symbols: the toolchain's nm and strip were not found")
  endif()

  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-symbols)
  set(placeholder ${dir}/placeholder.bin)
  set(rc ${dir}/symbols.rc)
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${rc}.in "QEXSYMBOLS RCDATA \"${placeholder}\"\n")
  configure_file(${rc}.in ${rc} COPYONLY)
  add_custom_command(
    OUTPUT ${placeholder}
    COMMAND ${Python3_EXECUTABLE} ${QEX_SYMTAB_SCRIPT} placeholder --size ${S_SIZE} --output ${placeholder}
    DEPENDS ${QEX_SYMTAB_SCRIPT}
    COMMENT "Symbol table placeholder for ${target}"
    VERBATIM)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${placeholder})
  target_sources(${target} PRIVATE ${rc} ${placeholder})

  set(options)
  if(S_ALL_FUNCTIONS)
    list(APPEND options --all-functions)
  endif()
  set(commands
    COMMAND ${Python3_EXECUTABLE} ${QEX_SYMTAB_SCRIPT} embed --exe $<TARGET_FILE:${target}>
            --nm ${CMAKE_NM} --source-root ${S_SOURCE_ROOT} ${options})
  if(S_STRIPPED_COPY)
    list(APPEND commands COMMAND ${CMAKE_STRIP} --strip-all -o ${S_STRIPPED_COPY} $<TARGET_FILE:${target}>)
  endif()
  if(S_STRIP)
    # The table is read from the unstripped link above; stripping keeps the
    # resource and every code address.
    set(unstripped $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.unstripped.exe)
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${unstripped}
      COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
      COMMAND ${Python3_EXECUTABLE} ${QEX_SYMTAB_SCRIPT} shrink --exe $<TARGET_FILE:${target}>)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD ${commands}
    COMMENT "Embedding the symbol table of ${target}"
    VERBATIM)
endfunction()
