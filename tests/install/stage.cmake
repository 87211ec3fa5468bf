# Installs the build tree for the install test: once for each prefix in
# PREFIXES, each into a DESTDIR staging folder of its own,
# STAGE/<prefix with / as ->, with a copy of that install's manifest beside it
# (<name>.manifest). `cmake --install` always writes the build tree's
# install_manifest.txt; the one a real install left there is put back, so
# that running the tests does not lose what `xargs rm` would uninstall.
#   cmake -DBUILD_DIR=... -DSTAGE=... -DPREFIXES="/usr;/usr/local" -P stage.cmake

foreach(var BUILD_DIR STAGE PREFIXES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "stage.cmake needs -D${var}=...")
  endif()
endforeach()

set(manifest "${BUILD_DIR}/install_manifest.txt")
set(saved "${STAGE}.saved-manifest")
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")
if(EXISTS "${manifest}")
  file(RENAME "${manifest}" "${saved}")
endif()

set(failed "")
foreach(prefix IN LISTS PREFIXES)
  string(REGEX REPLACE "^/" "" name "${prefix}")
  string(REPLACE "/" "-" name "${name}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${STAGE}/${name}"
            ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(APPEND failed "install to ${prefix} failed (${status}):\n${out}\n")
  elseif(EXISTS "${manifest}")
    file(RENAME "${manifest}" "${STAGE}/${name}.manifest")
  endif()
endforeach()

if(EXISTS "${saved}")
  file(RENAME "${saved}" "${manifest}")
else()
  file(REMOVE "${manifest}")
endif()
if(failed)
  message(FATAL_ERROR "${failed}")
endif()
