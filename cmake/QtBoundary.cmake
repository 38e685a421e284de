# Qt stays in the GUI targets: the libraries below them link no Qt, so that the engine and the
# tools built on them run and build without it. Each GUI target says so with mordale_gui_target;
# mordale_check_qt_boundary fails the configuration when any other target under the folder
# reaches a Qt library, directly or through what it links.
include(${CMAKE_CURRENT_LIST_DIR}/LinkGraph.cmake)

function(mordale_gui_target target)
  set_target_properties(${target} PROPERTIES MORDALE_GUI ON)
endfunction()

# A Qt library by any of its names: Qt6::Gui, Qt::Gui, Qt6Gui, -lQt6Gui, libQt6Gui.so.6 or a path
# to it, also inside another namespace (PkgConfig::Qt6Gui).
set(_MORDALE_QT_NAME "^(-l)?(.*[/:])?(lib)?Qt[0-9]*(::)?[A-Z][A-Za-z0-9_]*(\\.so.*|\\.a)?$")

# The names of what a target links, directly and through the targets it links.
function(_mordale_linked_closure target out)
  set(seen)
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    # Imported targets such as Qt6::Gui are seen only in the folder that found them: their name is
    # what counts.
    if(TARGET ${current})
      _mordale_direct_links(${current} links)
      list(APPEND pending ${links})
    endif()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(mordale_check_qt_boundary folder)
  _mordale_targets_below(${folder} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(gui ${target} MORDALE_GUI)
    if(gui OR NOT type MATCHES "LIBRARY|EXECUTABLE")
      continue()
    endif()
    _mordale_linked_closure(${target} linked)
    list(FILTER linked INCLUDE REGEX "${_MORDALE_QT_NAME}")
    if(linked)
      message(FATAL_ERROR "${target} is not a GUI target but links ${linked}: "
                          "move the Qt code into a GUI target and reach it through a hook")
    endif()
  endforeach()
endfunction()
