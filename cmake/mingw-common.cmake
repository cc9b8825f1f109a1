# The win32 thread model: the program's threads are platform threads and its
# locks platform locks, so nothing needs winpthreads and the .exe carries no
# extra runtime DLL.
set(CMAKE_C_COMPILER ${QEX_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QEX_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${QEX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run.sh)
