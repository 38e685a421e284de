# The libraries are layered: each sees only what lies below it. Three checks keep it so.
# - The layer table below names, for each target of src/, the targets it may link directly;
#   whatever those may link is allowed too. mordale_check_layers fails the configuration on a link
#   the table does not allow, and on a target the table does not know.
# - Each library gets an include root of its own (mordale_include_root) holding only its own
#   folders, so that a header of a library that is not linked is not found: an include across an
#   unlinked edge fails to compile.
# - Inside the image library, the core includes nothing of processing or input/output
#   (mordale_check_no_includes).
# Tests and benchmarks may link anything.
include(${CMAKE_CURRENT_LIST_DIR}/LinkGraph.cmake)

set(MORDALE_LAYER_mordale_platform "")
set(MORDALE_LAYER_mordale_pdf mordale_platform)
set(MORDALE_LAYER_mordale_imaging mordale_platform)
set(MORDALE_LAYER_mordale_acquire mordale_imaging)
set(MORDALE_LAYER_mordale_tzpicformats mordale_platform)
set(MORDALE_LAYER_mordale_tzlib mordale_imaging)
set(MORDALE_LAYER_mordale_engine mordale_pdf mordale_tzlib mordale_tzpicformats)
# The Qt targets, each above the library it shows.
set(MORDALE_LAYER_mordale_platform_qt mordale_platform)
set(MORDALE_LAYER_mordale_imaging_view mordale_acquire mordale_platform_qt)
set(MORDALE_LAYER_mordale_tzlib_qt mordale_tzlib mordale_platform_qt)
set(MORDALE_LAYER_mordale_dialogs mordale_engine mordale_tzlib_qt)
set(MORDALE_LAYER_mordale_window mordale_dialogs mordale_imaging_view)
set(MORDALE_LAYER_mordale_window_program mordale_window)
# The program of unattended runs: the engine without windows.
set(MORDALE_LAYER_mordale mordale_engine)

# The targets of the table below a target: what it may link.
function(_mordale_layers_below target out)
  set(below)
  set(pending ${MORDALE_LAYER_${target}})
  while(pending)
    list(POP_FRONT pending current)
    if(NOT current IN_LIST below)
      list(APPEND below ${current})
      list(APPEND pending ${MORDALE_LAYER_${current}})
    endif()
  endwhile()
  set(${out} ${below} PARENT_SCOPE)
endfunction()

# Checks every library and program under the folder against the layer table; call it after the
# folder's targets are complete.
function(mordale_check_layers folder)
  _mordale_targets_below(${folder} targets)
  list(FILTER targets INCLUDE REGEX "^mordale")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "LIBRARY|EXECUTABLE")
      continue()
    endif()
    if(NOT DEFINED MORDALE_LAYER_${target})
      message(FATAL_ERROR "${target} has no row in the layer table of cmake/Layers.cmake: "
                          "add one naming the targets it may link")
    endif()
    _mordale_layers_below(${target} allowed)
    _mordale_direct_links(${target} linked)
    foreach(link IN LISTS linked)
      if(link STREQUAL target OR NOT link IN_LIST targets OR link IN_LIST allowed)
        continue()
      endif()
      message(FATAL_ERROR "${target} -> ${link} is not an edge of the layer table of cmake/Layers.cmake: "
                          "${target} may link only ${allowed}")
    endforeach()
  endforeach()
endfunction()

# Gives the target an include root in the build tree holding its own folders of src/ (relative
# paths, such as imaging/io), one link per header: a folder nested in another target's folder
# (platform/qt in platform) stays out of the outer target's root. The include strings stay
# "imaging/io/KVBmp.h"; they resolve only for targets that link the library.
function(mordale_include_root target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  foreach(folder IN LISTS ARGN)
    file(GLOB headers CONFIGURE_DEPENDS ${MORDALE_SRC}/${folder}/*.h)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header IN LISTS headers)
      get_filename_component(name ${header} NAME)
      file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
    endforeach()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

function(mordale_check_no_includes folder forbidden)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${folder}/*.h" "${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" hits REGEX "#include \"${forbidden}")
    if(hits)
      message(FATAL_ERROR "${source} includes ${hits}: ${folder} must not depend on ${forbidden}")
    endif()
  endforeach()
endfunction()
