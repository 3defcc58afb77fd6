# Linux on s390x, big-endian: the bank's byte order is the machine's own there.
set(FMB2FXB_CROSS_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
