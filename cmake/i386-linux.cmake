# Toolchain file for 32-bit x86 Linux on a 64-bit Debian host: the host's GCC
# with -m32 (Debian packages g++-multilib) and the i386 multiarch libraries
# (libprotobuf-dev:i386, libprotoc-dev:i386, libgtest-dev:i386), which live
# in /usr/lib/i386-linux-gnu beside the amd64 ones. scripts/check-i386.sh
# installs all of these.
#
#   cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake
#
# The binaries run natively on an amd64 kernel, so the tests run as usual.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Search the i386 multiarch directories for libraries and package
# configurations, never the amd64 ones.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake
    /lib/x86_64-linux-gnu)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB64_PATHS FALSE)

# Host tools (none are needed to build, but keep any lookup on the host) and
# target libraries, headers and packages from the system root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
