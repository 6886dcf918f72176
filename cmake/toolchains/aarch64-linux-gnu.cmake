# Cross-build for AArch64 with Debian's cross compiler, against Debian's arm64
# packages installed beside the host's (multiarch). Built programs run under
# qemu-aarch64 (user-mode emulation): CTest and the test harness start them
# through CMAKE_CROSSCOMPILING_EMULATOR; host programs run natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Libraries and headers of the target only; programs (openssl, mosquitto) of the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_program(WLC_QEMU_AARCH64 qemu-aarch64)
if(WLC_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${WLC_QEMU_AARCH64}")
endif()
