# Installing and packaging the desktop program: `cmake --install` puts the binary, its
# menu entry and its icon in place, and `cpack -G DEB` (run in the build folder) makes
# a Debian package of the same files.

include(GNUInstallDirs)

install(TARGETS vanto RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vanto.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vanto.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# For menus that show no scalable icons.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vanto-256.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME vanto.png)

set(VANTO_PACKAGE_MAINTAINER "Vanto maintainers <maintainers@vanto.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME vanto)
set(CPACK_PACKAGE_VENDOR "Vanto")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "records product demos by driving the desktop's applications")
set(CPACK_PACKAGE_DESCRIPTION
    "Vanto turns a prompt or a demo sheet into a recorded take: it plans the steps, drives\n"
    "the application through the accessibility bus, records the window and can upload the\n"
    "take. It runs as a desktop window, a one-shot command-line recorder or a JSON-lines\n"
    "control server.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "${VANTO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the binary links are found by dpkg-shlibdeps. Beyond them: the
# accessibility bus that every drive goes through, and ps and kill, which the stage
# browser's handling runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "at-spi2-core, procps")
# GTK applications show their accessibility tree only with the ATK bridge; xdg-open
# opens web pages (signing in) for the person; sheets with a stage record in Chromium.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libatk-adaptor, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium")

include(CPack)
