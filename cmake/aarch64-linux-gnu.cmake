# Linux on aarch64 (arm64): Raspberry Pi boards and ARM laptops.
set(FMB2FXB_CROSS_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
