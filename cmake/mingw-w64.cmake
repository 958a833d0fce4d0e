# Shared part of the Windows toolchain files (x86_64-w64-mingw32.cmake,
# i686-w64-mingw32.cmake): Debian's mingw-w64 cross compilers, the
# posix-threads variant, which the runtime's headers need for std::thread and
# std::mutex. The including file sets PROTOLIB_MINGW_TRIPLE first.
#
# Libraries, headers and package configurations are searched for only below
# CMAKE_FIND_ROOT_PATH (the compiler's own tree, plus whatever the caller
# appends, e.g. the Windows build of the runtime); programs on the host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${PROTOLIB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PROTOLIB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PROTOLIB_MINGW_TRIPLE}-windres)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${PROTOLIB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
