# The handheld's compiler flags: freestanding ARMv4 code in ARM state with
# no runtime, no unwinding and no static initialisation. The Windows CE
# toolchain builds with them, and the host suite hands them to the tests
# that build small guest programs of their own.
set(SAMBREL_CE_FLAGS "-march=armv4 -marm -mabi=aapcs-linux -ffreestanding -fno-pie -fno-exceptions -fno-rtti -fno-unwind-tables -fno-asynchronous-unwind-tables -fno-stack-protector -fno-threadsafe-statics -fno-common -ffunction-sections -fdata-sections")
