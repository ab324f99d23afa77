# Fails when a file under src/ outside src/platform/linux includes a platform header:
# the core and the fake backend must build on any platform.
file(GLOB_RECURSE sources "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp")
set(forbidden
  "X11/" "xcb/" "atspi" "glib" "gio/" "dbus/" "libavcodec/" "libavformat/" "libavutil/"
  "libswscale/" "png.h" "curl/" "Q[A-Z][A-Za-z]*" "unistd.h" "sys/" "fcntl.h" "signal.h" "spawn.h"
  "pthread.h" "dlfcn.h" "poll.h" "netinet/" "arpa/" "netdb.h")
set(failures "")
foreach(file IN LISTS sources)
  file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
  if(rel MATCHES "^src/platform/linux/" OR rel MATCHES "^src/app/")
    continue()
  endif()
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*<")
  foreach(line IN LISTS lines)
    foreach(pattern IN LISTS forbidden)
      if(line MATCHES "<${pattern}")
        list(APPEND failures "${rel}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "platform headers outside src/platform/linux:\n  ${text}")
endif()
