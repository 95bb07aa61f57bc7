# Hardening of everything the project builds: position-independent
# executables, full RELRO, stack protector and stack-clash probes, and
# fortified libc calls where the build optimises.  Included before the
# targets are made, so it reaches all of them.

# _FORTIFY_SOURCE works only with optimisation (glibc warns and does nothing
# at -O0, so Debug builds go without), and it hides calls from the
# sanitizers' interceptors, so sanitizer and fuzz builds go without too.
# The hardening tests read these two to know what to expect.
set(VENDLINK_FORTIFY ON)
if(VENDLINK_SANITIZE OR VENDLINK_FUZZ)
  set(VENDLINK_FORTIFY OFF)
endif()
set(VENDLINK_FORTIFY_CONFIGS "Release,RelWithDebInfo,MinSizeRel")

# OFF builds without any of it; the hardening tests then fail, which is how
# they are checked themselves.
option(VENDLINK_HARDENING "Harden the binaries (PIE, RELRO, stack protector, fortify)" ON)
if(NOT VENDLINK_HARDENING)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

# PIE: -fPIE for executables' objects, -fPIC for libraries, -pie at link.
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong)
check_cxx_compiler_flag(-fstack-clash-protection VENDLINK_HAVE_STACK_CLASH)
if(VENDLINK_HAVE_STACK_CLASH)
  add_compile_options(-fstack-clash-protection)
endif()

# Full RELRO: the GOT is read-only after start-up, every symbol bound then.
add_link_options(LINKER:-z,relro LINKER:-z,now)

if(VENDLINK_FORTIFY)
  # -U first: some toolchains define it already, and a second definition
  # with another level would be a redefinition warning.
  add_compile_options(
    "$<$<CONFIG:${VENDLINK_FORTIFY_CONFIGS}>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
