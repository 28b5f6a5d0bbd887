# quarn_include_root(<target> <PUBLIC|PRIVATE|INTERFACE> <entry>...)
#
# Gives <target> an include folder of its own that holds only the named
# entries of the source tree (folders such as `platform`, or single headers
# such as `front/quarn_control_pump.h`), linked into place. Every include in
# this project names its folder ("network/vexlink_session.h"), so an include
# of anything the target may not see fails to build: these roots are the
# walls between the product, the world and the host. The first call for a
# target in a configure run clears the root, so that an entry no longer
# named is gone from an existing build tree too.
function(quarn_include_root target scope)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  get_property(made GLOBAL PROPERTY QUARN_INCLUDE_ROOTS_MADE)
  if(NOT target IN_LIST made)
    file(REMOVE_RECURSE ${root})
    set_property(GLOBAL APPEND PROPERTY QUARN_INCLUDE_ROOTS_MADE ${target})
  endif()
  foreach(entry ${ARGN})
    get_filename_component(parent ${root}/${entry} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${entry})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${entry} ${root}/${entry} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()

# The headers a host gets with the plug-in: the device contract and the
# public declarations of the exported device objects. They are installed,
# and the host program sees nothing else of the product.
set(QUARN_HOST_HEADERS
  contract/inlet_devices.h
  contract/inlet_system_status.h
  contract/quarn_export.h
  front/quarn_control_pump.h
  front/quarn_control_autosampler.h
  front/quarn_control_detectors.h
)
