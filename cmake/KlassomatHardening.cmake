# The hardening Debian builds its own packages with (dpkg-buildflags, hardening=+all), for every
# optimised build: the release build, the package and the tests' build alike. The sanitizer and
# fuzzing builds carry their own instrumentation, which fortified functions would hide from.
if(KLASSOMAT_SANITIZE OR KLASSOMAT_FUZZ)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

# Stack clash and control-flow protection exist only on some architectures (cf: x86).
foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "have${flag}" have)
  check_cxx_compiler_flag(${flag} ${have})
  if(${have})
    add_compile_options(${flag})
  endif()
endforeach()
# glibc fortifies only where the optimiser runs, and warns without it.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=3>)
add_link_options(LINKER:-z,relro,-z,now)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
