# Settings every build of the program's sources shares: the language standard and
# the floating-point flags. The estimates must come out to the last digit on every
# x86-64 machine: no fused multiply-add behind our back and never fast-math.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)
