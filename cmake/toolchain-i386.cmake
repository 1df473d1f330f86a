# i386 (x87 arithmetic, 4-byte pointers) with Debian's cross compiler and the
# i386 development packages installed through multiarch; the tests run under
# qemu-user-static (a kernel without 32-bit support cannot start the programs).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# The emulator runs through run_emulated.sh, which gives a test's limit on the
# address space to the program rather than to qemu.
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/run_emulated.sh qemu-i386-static)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
# qemu-i386's return from a signal handler leaves the interrupted thread with
# corrupt x87 registers, and with the thread pointer of the thread created last
# (it keeps one descriptor table for all threads; a join then fails with
# EDEADLK). An emulated program cannot take a signal: the interrupted-run check
# is not run.
set(CORVANE_EMULATOR_BREAKS_SIGNALS ON)
