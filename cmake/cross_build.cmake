# Cross builds: `make cross-aarch64` and `make cross-i386` configure with one of
# the toolchain files beside this one. Their programs run here under the
# emulator the toolchain names (CMAKE_CROSSCOMPILING_EMULATOR: qemu-user through
# run_emulated.sh). CTest puts the emulator before a test program it starts
# itself, but the test scripts start the programs they are given, so each
# program is handed to them through corvane_programs_for_tests.

# corvane_programs_for_tests(TARGET...): sets run_TARGET to what a test script
# runs for each program: the program itself, or in an emulated build a script
# that runs it under the emulator. Tests name ${run_corvane}, never
# $<TARGET_FILE:corvane>, so that they run in every build.
function(corvane_programs_for_tests)
  foreach(target IN LISTS ARGN)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
      list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
      set(wrapper ${CMAKE_BINARY_DIR}/emulated/${target})
      file(GENERATE OUTPUT ${wrapper}
           CONTENT "#!/bin/sh\nexec ${emulator} \"$<TARGET_FILE:${target}>\" \"$@\"\n"
           FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      set(run_${target} ${wrapper} PARENT_SCOPE)
    else()
      set(run_${target} $<TARGET_FILE:${target}> PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
