# Windows CE on ARM, for the handhelds' StrongARM (ARMv4, ARM state only):
# Debian's g++-arm-linux-gnueabi compiles the program as freestanding code
# with no runtime, no unwinding and no static initialisation; ld -r merges
# it, and platform/wince/elf2ce.py makes the CE image.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_LINKER arm-linux-gnueabi-ld)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
include(${CMAKE_CURRENT_LIST_DIR}/wince-flags.cmake)
set(CMAKE_C_FLAGS_INIT "${SAMBREL_CE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${SAMBREL_CE_FLAGS}")
