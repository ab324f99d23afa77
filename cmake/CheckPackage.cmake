# Builds the Debian package of a build tree into a folder of its own and checks that it
# holds the binary, the menu entry and the icon, that it declares what it needs, and
# that the menu entry is valid. Run with -DBUILD_DIR=... -DWORK_DIR=...

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND cpack -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB packages "${WORK_DIR}/vanto_*.deb")
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one vanto_*.deb in ${WORK_DIR}, found: ${packages}")
endif()

execute_process(COMMAND dpkg-deb -c ${packages} OUTPUT_VARIABLE contents RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c could not read ${packages}")
endif()
foreach(wanted ./usr/bin/vanto ./usr/share/applications/vanto.desktop
        ./usr/share/icons/hicolor/scalable/apps/vanto.svg ./usr/share/icons/hicolor/256x256/apps/vanto.png)
  string(FIND "${contents}" " ${wanted}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package lacks ${wanted}:\n${contents}")
  endif()
endforeach()

execute_process(COMMAND dpkg-deb -f ${packages} Depends OUTPUT_VARIABLE depends)
foreach(wanted at-spi2-core libqt6widgets6 libavcodec libc6)
  string(FIND "${depends}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package does not depend on ${wanted}: ${depends}")
  endif()
endforeach()

find_program(validate desktop-file-validate)
if(validate)
  execute_process(COMMAND ${validate} "${CMAKE_CURRENT_LIST_DIR}/../packaging/vanto.desktop"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0 OR NOT output STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${output}")
  endif()
endif()
message(STATUS "${packages}: ${depends}")
