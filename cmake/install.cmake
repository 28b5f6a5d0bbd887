# What `cmake --install` puts into a prefix, for a host built elsewhere:
#   lib/ (bin/ on Windows)  the plug-in library and the world's libraries
#                           beside it: the framework and system stand-ins,
#                           the simulated instruments and the driver library
#                           they answer (and the server's registration
#                           program)
#   include/quarncontrol/   the headers a host gets with the plug-in (the
#                           device contract, the device objects'
#                           declarations and the clock) and the world's
#                           headers they include; nothing of the
#                           product's internals nor of the simulators
#   lib/cmake/QuarnControl/ the CMake package: find_package(QuarnControl)
#                           gives QuarnControl::QuarnControl (the plug-in,
#                           its headers and the world it needs) and
#                           QuarnControl::Simulator (the simulated
#                           instruments and network driver)
#   lib/pkgconfig/          quarncontrol.pc
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The headers a host needs: the device contract, the device objects'
# declarations and the clock it runs the simulated instruments' time by,
# with every header of ours they include, and nothing else.
function(quarn_included_headers out)
  set(found "")
  set(queue ${ARGN})
  while(queue)
    list(POP_FRONT queue header)
    if(header IN_LIST found OR NOT EXISTS ${PROJECT_SOURCE_DIR}/${header})
      continue()
    endif()
    list(APPEND found ${header})
    file(STRINGS ${PROJECT_SOURCE_DIR}/${header} lines REGEX "^#include \"")
    foreach(line ${lines})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
      list(APPEND queue ${included})
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

set(_include_dir ${CMAKE_INSTALL_INCLUDEDIR}/quarncontrol)
quarn_included_headers(_installed_headers ${QUARN_HOST_HEADERS} platform/clock/clock.h)
foreach(header ${_installed_headers})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${_include_dir}/${folder})
endforeach()
foreach(target quarncontrol_headers quarn_platform quarnsys quarnframework quarn_sim)
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${_include_dir}>)
endforeach()

set_target_properties(quarncontrol PROPERTIES EXPORT_NAME QuarnControl)
set_target_properties(quarncontrol_headers PROPERTIES EXPORT_NAME Headers)
set_target_properties(quarn_platform PROPERTIES EXPORT_NAME World)
set_target_properties(quarn_sim PROPERTIES EXPORT_NAME SimulatedInstruments)
set_target_properties(vexlink32 PROPERTIES EXPORT_NAME vexlink32)
set_target_properties(quarnsys PROPERTIES EXPORT_NAME System)
set_target_properties(quarnframework PROPERTIES EXPORT_NAME Framework)
add_library(quarn_simulator INTERFACE)
target_link_libraries(quarn_simulator INTERFACE quarn_sim vexlink32)
set_target_properties(quarn_simulator PROPERTIES EXPORT_NAME Simulator)

# Where each installed file looks for the libraries of ours it needs: in
# its own folder ($ORIGIN), or from bin/ in lib/ (the server's program),
# never in a folder of the build nor in the current directory; quarnsys
# needs none. The files are linked so in the build already (its lib/ is
# laid out as an install's, and the program's host/ sits beside it as bin/
# does), and installed unchanged: CMake would otherwise link them with the
# build's folders and rewrite the entry on install, padding the build's
# entry with empty ones, each of which names the current directory.
if(NOT WIN32)
  set_target_properties(quarncontrol quarnframework quarn_sim vexlink32 PROPERTIES INSTALL_RPATH "$ORIGIN")
  file(RELATIVE_PATH _installed ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  get_target_property(_program_dir tavix_server_program RUNTIME_OUTPUT_DIRECTORY)
  file(RELATIVE_PATH _built ${_program_dir} ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
  set(_program_rpath "$ORIGIN/${_installed}" "$ORIGIN/${_built}")
  list(REMOVE_DUPLICATES _program_rpath)
  set_target_properties(tavix_server_program PROPERTIES INSTALL_RPATH "${_program_rpath}")
  set_target_properties(quarncontrol quarnsys quarnframework quarn_sim vexlink32 tavix_server_program
    PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
endif()

install(TARGETS quarncontrol quarncontrol_headers quarn_platform quarnsys quarnframework quarn_sim vexlink32
                quarn_simulator
  EXPORT QuarnControlTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tavix_server_program RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  install(FILES ${QUARN_WINDOWS_RUNTIME} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(EXPORT QuarnControlTargets NAMESPACE QuarnControl:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QuarnControl)

configure_package_config_file(cmake/QuarnControlConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuarnControlConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QuarnControl)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuarnControlConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuarnControlConfig.cmake ${PROJECT_BINARY_DIR}/QuarnControlConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QuarnControl)

# pkg-config finds the prefix from the file's own folder, however deep the
# library folder is (lib/x86_64-linux-gnu on a multiarch system).
include(cmake/pkg_config_prefix.cmake)
quarn_pkg_config_dirs("${CMAKE_INSTALL_LIBDIR}" "${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(cmake/quarncontrol.pc.in ${PROJECT_BINARY_DIR}/quarncontrol.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quarncontrol.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
