# Installs the build into a scratch prefix and runs the command-line tool from
# another folder, as a user of an installed copy would.
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${OUT}/prefix"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
file(MAKE_DIRECTORY "${OUT}/elsewhere")
execute_process(COMMAND "${OUT}/prefix/bin/graftwell-cli" --version
                WORKING_DIRECTORY "${OUT}/elsewhere" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^graftwell-cli [0-9]")
  message(FATAL_ERROR "installed graftwell-cli --version: ${rc} ${out}")
endif()
