# Installation layout. The Debian packages (debian/) split it: the window
# component goes to convertor-orx-gui, the rest to convertor-orx.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/docs/convertor-orx.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/orx-make-keyfile.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/ru/convertor-orx.1
              ${PROJECT_SOURCE_DIR}/docs/ru/orx-make-keyfile.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/ru/man1)
install(FILES ${PROJECT_SOURCE_DIR}/data/convertor-orx.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT window)
# Bitmaps too: where the toolkit's SVG support is not installed, the window
# and the desktop's menus still find an icon.
foreach(size IN ITEMS 32 48 64 128)
  install(FILES ${PROJECT_SOURCE_DIR}/data/convertor-orx-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME convertor-orx.png
          COMPONENT window)
endforeach()
if(EXISTS ${PROJECT_SOURCE_DIR}/examples)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/convertor-orx/examples
          FILES_MATCHING PATTERN "*.xml" PATTERN "*.xsd" PATTERN "*.cod")
endif()
