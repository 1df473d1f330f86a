#!/bin/sh
# Runs a program built for another processor under qemu's user-mode emulator:
#
#   run_emulated.sh EMULATOR PROGRAM [ARGUMENT...]
#
# The program's address space is the guest's, which qemu sizes (QEMU_RESERVED_VA).
# A limit on it cannot be set the usual ways: qemu answers a guest's own
# setrlimit of RLIMIT_AS with success and applies nothing (the limit would fall
# on qemu's own allocations), and a limit on qemu's process (ulimit -v) counts
# qemu's reservation of the guest's whole space, 4 GiB for an i386 guest, which
# then cannot start at all. So a soft limit the caller set (ulimit -S -v KIB)
# becomes the size of the guest's address space, and qemu runs without it.
# Without a limit the guest has 4 GiB less 64 KiB (the most qemu-i386 takes),
# about the whole of an i386's: a program that takes all the memory there is
# runs out there, as on a machine, not after the host's 128 TiB.
emulator=$1
shift
limit_kib=$(ulimit -S -v)
if [ "$limit_kib" = unlimited ]; then
    QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0xffff0000}
else
    if ! ulimit -S -v unlimited 2> /dev/null; then
        echo "run_emulated.sh: a hard limit on the address space (ulimit -v) stops qemu;" \
             "set a soft one (ulimit -S -v), which becomes the program's" >&2
        exit 125
    fi
    QEMU_RESERVED_VA=$((limit_kib * 1024))
fi
export QEMU_RESERVED_VA
exec "$emulator" "$@"
