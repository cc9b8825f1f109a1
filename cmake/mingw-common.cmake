# The posix thread model: GoogleTest needs std::mutex, which GCC 12's win32
# model lacks. The program's own threads and locks are platform threads and
# platform locks all the same; winpthreads is linked statically (-static), so
# the .exe still needs nothing beside it.
set(CMAKE_C_COMPILER ${QEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QEX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run.sh)
