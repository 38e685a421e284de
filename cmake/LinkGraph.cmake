# Reading the link graph: what each target links, with generator expressions seen through.
include_guard(GLOBAL)

# The names a link item links: "$<LINK_ONLY:a>", "$<$<CONFIG:Debug>:a>" and
# "$<$<BOOL:x>:$<LINK_ONLY:a>>" all link a. The conditions' own words come along; they name no
# library, so keeping them errs only on the safe side.
function(_mordale_link_names item out)
  string(REPLACE "::" "\n" item "${item}")
  string(REGEX REPLACE "[$<>:,; ]+" ";" item "${item}")
  string(REPLACE "\n" "::" item "${item}")
  list(FILTER item EXCLUDE REGEX "^$")
  set(${out} ${item} PARENT_SCOPE)
endfunction()

# The names of everything a target links directly, its usage requirements included.
function(_mordale_direct_links target out)
  set(names)
  get_target_property(imported ${target} IMPORTED)
  set(properties INTERFACE_LINK_LIBRARIES)
  if(NOT imported)
    list(APPEND properties LINK_LIBRARIES)
  endif()
  foreach(property IN LISTS properties)
    get_target_property(items ${target} ${property})
    if(NOT items)
      continue()
    endif()
    foreach(item IN LISTS items)
      _mordale_link_names("${item}" item_names)
      list(APPEND names ${item_names})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The targets defined in the folder and the folders below it.
function(_mordale_targets_below folder out)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  foreach(subfolder IN LISTS subfolders)
    _mordale_targets_below(${subfolder} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

