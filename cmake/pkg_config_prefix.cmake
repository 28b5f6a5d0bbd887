# quarn_pkg_config_dirs(<libdir> <includedir>): sets QUARN_PC_PREFIX,
# QUARN_PC_LIBDIR and QUARN_PC_INCLUDEDIR for quarncontrol.pc.in, with the
# prefix found from the file's own folder (<libdir>/pkgconfig) however deep
# the library folder is (lib/x86_64-linux-gnu on a multiarch system), so an
# installed tree can be moved. Absolute folders are written as they are.
function(quarn_pkg_config_dirs libdir includedir)
  set(prefix "\${pcfiledir}/..")
  string(REPLACE "/" ";" folders "${libdir}")
  foreach(folder ${folders})
    if(NOT folder STREQUAL "" AND NOT folder STREQUAL ".")
      string(APPEND prefix "/..")
    endif()
  endforeach()
  if(IS_ABSOLUTE "${libdir}")
    set(prefix "${CMAKE_INSTALL_PREFIX}")
  endif()
  set(QUARN_PC_PREFIX "${prefix}" PARENT_SCOPE)
  foreach(kind LIBDIR INCLUDEDIR)
    string(TOLOWER ${kind} var)
    if(IS_ABSOLUTE "${${var}}")
      set(QUARN_PC_${kind} "${${var}}" PARENT_SCOPE)
    else()
      set(QUARN_PC_${kind} "\${prefix}/${${var}}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
