# Builds the Debian package into a scratch folder, unpacks it into a scratch
# root as dpkg would install it, and runs the command-line tool from there.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}/root" "${OUT}/elsewhere")
execute_process(COMMAND cpack -G DEB --config "${BUILD}/CPackConfig.cmake" -B "${OUT}/pkg"
                RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
file(GLOB debs "${OUT}/pkg/*.deb")
list(LENGTH debs count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack -G DEB made ${count} packages (exit ${rc}):\n${log}")
endif()

execute_process(COMMAND dpkg-deb -f "${debs}" Package Depends Maintainer
                RESULT_VARIABLE rc OUTPUT_VARIABLE fields)
# The programs carry their own PKWARE codec: StormLib is for the tests only.
if(NOT rc EQUAL 0 OR NOT fields MATCHES "Package: graftwell\n" OR NOT fields MATCHES "Depends: [^\n]*zlib1g" OR
   fields MATCHES "libstorm")
  message(FATAL_ERROR "package fields wrong (exit ${rc}):\n${fields}")
endif()

execute_process(COMMAND dpkg -x "${debs}" "${OUT}/root" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg -x failed: ${rc}")
endif()
set(expected usr/bin/graftwell-cli usr/share/applications/graftwell.desktop
    usr/share/icons/hicolor/32x32/apps/graftwell.png usr/share/doc/graftwell/README.md)
if(UI)
  list(APPEND expected usr/bin/graftwell)
endif()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${OUT}/root/${f}")
    message(FATAL_ERROR "package lacks /${f}")
  endif()
endforeach()

execute_process(COMMAND "${OUT}/root/usr/bin/graftwell-cli" --version
                WORKING_DIRECTORY "${OUT}/elsewhere" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^graftwell-cli [0-9]+\\.[0-9]+")
  message(FATAL_ERROR "packaged graftwell-cli --version: exit ${rc}\n${out}${err}")
endif()
file(REMOVE_RECURSE "${OUT}")
