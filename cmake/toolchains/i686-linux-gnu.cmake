# 32-bit x86 with the compiler's default flags (x87 floating point), run
# under qemu-i386: the configuration Debian's i386 port builds.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /usr/i686-linux-gnu)
# Linked statically: under Debian 12's qemu-i386 (7.2), a dynamically
# linked i386 glibc hangs in fork(), which the program tests need.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
