# Makes the Debian package from the built tree into PACKAGE_DIR, for the
# package tests. Without dpkg-deb (not a Debian machine) there is nothing to
# make, and the tests skip themselves.
find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message(STATUS "dpkg-deb is missing: no package is made")
  return()
endif()
# A package left by an earlier run must not stand in for this build's.
file(REMOVE_RECURSE ${PACKAGE_DIR})
execute_process(COMMAND ${CPACK} -G DEB -B ${PACKAGE_DIR} --config ${BUILD_DIR}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD_DIR}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed (${result})")
endif()
