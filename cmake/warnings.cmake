# Warnings every target of ours is built with. The test command builds
# with QUARN_WERROR on, so a new warning fails it; a build by hand only
# reports them (a newer compiler's new warning does not stop a newcomer).
option(QUARN_WERROR "Treat the project's warnings as errors" OFF)
function(quarn_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
  if(QUARN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # GCC 12 reports impossible overlaps inside libstdc++'s string
  # concatenation in optimised builds (a known false positive).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
    # With the sanitizers' instrumentation it also reports std::regex's
    # std::function members as maybe used uninitialized (a false positive
    # inside libstdc++).
    if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
      target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
    endif()
  endif()
  # The system's COM interfaces have public, non-virtual destructors by
  # design (objects are released, never deleted through them), so every
  # interface derived from them would be reported.
  if(WIN32)
    target_compile_options(${target} PRIVATE -Wno-non-virtual-dtor)
  endif()
endfunction()
