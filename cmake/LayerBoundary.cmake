# The image library is layered: the core knows nothing of processing, so processing (and the
# drivers above it) can use the core without the two depending on each other. The configuration
# fails when a file of a lower layer includes a header of a higher one.
function(mordale_check_no_includes folder forbidden)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${folder}/*.h" "${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" hits REGEX "#include \"${forbidden}")
    if(hits)
      message(FATAL_ERROR "${source} includes ${hits}: ${folder} must not depend on ${forbidden}")
    endif()
  endforeach()
endfunction()
