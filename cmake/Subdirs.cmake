# Adds every immediate sub-folder of the current folder that has a
# CMakeLists.txt, in name order, so that areas can be added without
# touching the parent file.
macro(quelltrine_add_subdirs)
  file(GLOB _qt_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _qt_children)
  foreach(_qt_child IN LISTS _qt_children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_qt_child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_qt_child}/CMakeLists.txt)
      add_subdirectory(${_qt_child})
    endif()
  endforeach()
endmacro()
