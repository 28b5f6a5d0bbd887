# The package's pkg-config file, written for a multiarch library folder and
# a plain one, read back by pkg-config from a prefix that was moved after
# the install: its folders are the prefix's own.
#   cmake -DSOURCE=<tree> -DWORK=<folder> -P check_pkg_config.cmake
include(${SOURCE}/cmake/pkg_config_prefix.cmake)
set(PROJECT_VERSION 0)
set(CMAKE_INSTALL_INCLUDEDIR include)
foreach(CMAKE_INSTALL_LIBDIR lib lib/x86_64-linux-gnu)
  string(REPLACE "/" "-" name "moved-${CMAKE_INSTALL_LIBDIR}")
  set(prefix ${WORK}/${name})
  set(CMAKE_INSTALL_PREFIX /nowhere)
  quarn_pkg_config_dirs("${CMAKE_INSTALL_LIBDIR}" "${CMAKE_INSTALL_INCLUDEDIR}")
  configure_file(${SOURCE}/cmake/quarncontrol.pc.in ${prefix}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/quarncontrol.pc @ONLY)
  foreach(variable libdir includedir)
    set(ENV{PKG_CONFIG_PATH} ${prefix}/${CMAKE_INSTALL_LIBDIR}/pkgconfig)
    execute_process(COMMAND pkg-config --variable=${variable} quarncontrol
      RESULT_VARIABLE failed OUTPUT_VARIABLE seen OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(seen "${seen}" ABSOLUTE)
    set(expected ${prefix}/${CMAKE_INSTALL_LIBDIR})
    if(variable STREQUAL includedir)
      set(expected ${prefix}/include/quarncontrol)
    endif()
    if(failed OR NOT seen STREQUAL expected)
      message(FATAL_ERROR "${CMAKE_INSTALL_LIBDIR}: pkg-config's ${variable} is ${seen}, not ${expected}")
    endif()
  endforeach()
endforeach()
