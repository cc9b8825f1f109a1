# Disassembly and symbols for crash reports.
qex_add_native_test(qex_crash_disasm_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/X86DecoderTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/DisassemblyTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/SymbolTableTest.cpp
  LIBS qex_crash_disasm_core)

qex_add_fuzzer(qex_crash_disasm_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DisasmFuzz.cpp
  LIBS qex_crash_disasm_core)

# The decoder against the cross binutils on real compiler output: a C file
# compiled for both targets with several option sets, disassembled by
# objdump; the test decodes the same bytes and compares lengths and
# mnemonics. Native builds only (the decoder runs under the sanitizers).
if(NOT WIN32)
  set(_listings)
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/disasm-corpus)
  set(_index 0)
  # triple:language:flags, flags separated by commas; the C++ items are the
  # decoder's own source, for a larger and more varied sample.
  set(_pairs i686:c:-O2 i686:c:-O0 i686:c:-Os i686:c:-O2,-msse2,-mfpmath=sse
             x86_64:c:-O2 x86_64:c:-O0 x86_64:c:-O3 i686:cxx:-O2 x86_64:cxx:-O2)
  foreach(_pair IN LISTS _pairs)
    string(REPLACE ":" ";" _parts ${_pair})
    list(GET _parts 0 _arch)
    list(GET _parts 1 _language)
    list(GET _parts 2 _flags)
    string(REPLACE "," ";" _flags ${_flags})
    if(_language STREQUAL "c")
      find_program(_cc_${_arch}_c ${_arch}-w64-mingw32-gcc-win32)
      set(_source ${CMAKE_CURRENT_LIST_DIR}/DecoderCorpus.c)
    else()
      find_program(_cc_${_arch}_cxx ${_arch}-w64-mingw32-g++-win32)
      set(_source ${CMAKE_SOURCE_DIR}/crash/disasm/X86Decoder.cpp)
      list(APPEND _flags -std=c++17 -I${CMAKE_SOURCE_DIR})
    endif()
    set(_cc ${_cc_${_arch}_${_language}})
    find_program(_objdump_${_arch} ${_arch}-w64-mingw32-objdump)
    if(NOT _cc OR NOT _objdump_${_arch})
      continue()
    endif()
    math(EXPR _index "${_index} + 1")
    set(_object ${_dir}/corpus-${_index}-${_arch}.o)
    set(_listing ${_dir}/corpus-${_index}-${_arch}.txt)
    add_custom_command(
      OUTPUT ${_listing}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${_cc} ${_flags} -fno-asynchronous-unwind-tables -c ${_source} -o ${_object}
      COMMAND sh -c "\"$0\" -d -w -M intel \"$1\" > \"$2\"" ${_objdump_${_arch}} ${_object} ${_listing}
      DEPENDS ${_source}
      COMMENT "Decoder corpus ${_arch} ${_language} ${_flags}"
      VERBATIM)
    list(APPEND _listings ${_listing})
  endforeach()
  if(_listings)
    qex_add_native_test(qex_crash_disasm_objdump_test
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/ObjdumpComparisonTest.cpp
      LIBS qex_crash_disasm_core)
    add_custom_target(qex_crash_disasm_corpus DEPENDS ${_listings})
    add_dependencies(qex_crash_disasm_objdump_test qex_crash_disasm_corpus)
    string(REPLACE ";" "," _joined "${_listings}")
    set_tests_properties(qex_crash_disasm_objdump_test PROPERTIES ENVIRONMENT "QEX_DISASM_LISTINGS=${_joined}")
  endif()
endif()

# The symbol table in a stripped Windows program, read back under Wine and
# compared with addr2line on the unstripped file.
if(WIN32)
  include(QexSymbols)
  find_program(QEX_ADDR2LINE NAMES ${QEX_MINGW_TRIPLE}-addr2line)
  find_program(QEX_CXXFILT NAMES ${QEX_MINGW_TRIPLE}-c++filt c++filt)
  add_executable(qex_crash_symbol_probe ${CMAKE_CURRENT_LIST_DIR}/SymbolProbe.cpp)
  target_link_libraries(qex_crash_symbol_probe PRIVATE qex_crash_symbols_win)
  set(_stripped ${CMAKE_CURRENT_BINARY_DIR}/qex_crash_symbol_probe-stripped.exe)
  qex_embed_symbols(qex_crash_symbol_probe SIZE 65536 STRIPPED_COPY ${_stripped})
  add_test(NAME qex_crash_symbols_test
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/symbols_check.py
            --exe $<TARGET_FILE:qex_crash_symbol_probe> --stripped ${_stripped}
            --run ${CMAKE_CROSSCOMPILING_EMULATOR} --addr2line ${QEX_ADDR2LINE}
            --cxxfilt ${QEX_CXXFILT}
            --source ${CMAKE_CURRENT_LIST_DIR}/SymbolProbe.cpp
            --symtab ${QEX_SYMTAB_SCRIPT})
  set_tests_properties(qex_crash_symbols_test PROPERTIES TIMEOUT 300 LABELS wine)
endif()
