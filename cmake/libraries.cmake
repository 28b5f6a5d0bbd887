# How the project's dynamic libraries are built.

# A library of the world (platform/, sim/): everything it defines is its
# interface, as with the closed libraries it stands for. On Windows the
# library is named without the "lib" prefix and exports all it defines.
# Calls inside a library bind to the library's own functions, so that they
# stay direct and can be inlined (no other module defines them).
function(quarn_world_library target)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_link_options(${target} PRIVATE -Wl,--export-all-symbols)
  else()
    target_compile_options(${target} PRIVATE -fno-semantic-interposition)
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic-functions)
  endif()
endfunction()

if(WIN32)
  # Programs and libraries land in one folder, as on the host's machine,
  # so that every program finds the libraries beside it. The compiler's
  # runtime is shared by every module (an exception thrown in one library
  # is caught in another), so its libraries are copied there too.
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
    OUTPUT_VARIABLE _stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(_gccdir ${_stdcxx} DIRECTORY)
  file(GLOB _runtime ${_gccdir}/libstdc++-6.dll ${_gccdir}/libgcc_s_*.dll)
  find_file(_winpthread libwinpthread-1.dll
    PATHS /usr/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(_winpthread)
    list(APPEND _runtime ${_winpthread})
  endif()
  file(COPY ${_runtime} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set(QUARN_WINDOWS_RUNTIME ${_runtime} CACHE INTERNAL "the compiler's runtime libraries")
else()
  # The plug-in and the world's libraries land in one folder, lib/, laid
  # out as they are installed, so that each finds the others beside itself
  # ($ORIGIN, cmake/install.cmake) in the build and in an install alike.
  set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
endif()

# quarn_product_folder(<target> <folder>...): a target of the product. It
# sees only the named folders (and the world's headers, platform/), builds
# position-independent code for the plug-in, and hides every symbol that
# its declarations do not mark for export (contract/quarn_export.h).
function(quarn_product_folder target)
  quarn_include_root(${target} PRIVATE ${ARGN})
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_definitions(${target} PRIVATE QUARNCONTROL_BUILDING_LIBRARY)
  # Static locals of inline functions would otherwise be "unique" symbols,
  # which keep a library loaded after the last dlclose.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
  quarn_warnings(${target})
endfunction()
