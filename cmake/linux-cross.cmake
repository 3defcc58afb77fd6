# Linux on the processor FMB2FXB_CROSS_PROCESSOR names, cross-built with Debian's
# g++-<processor>-linux-gnu; programs built for it run under qemu-user, which finds the
# target's libraries through QEMU_LD_PREFIX. Included by one toolchain file per target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${FMB2FXB_CROSS_PROCESSOR})
set(FMB2FXB_CROSS_ROOT /usr/${FMB2FXB_CROSS_PROCESSOR}-linux-gnu)
set(CMAKE_CXX_COMPILER ${FMB2FXB_CROSS_PROCESSOR}-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH ${FMB2FXB_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env QEMU_LD_PREFIX=${FMB2FXB_CROSS_ROOT}
                                  /usr/bin/qemu-${FMB2FXB_CROSS_PROCESSOR})
