# Installation layout and the Debian package.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/docs/convertor-orx.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/ru/convertor-orx.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/ru/man1)
install(FILES ${PROJECT_SOURCE_DIR}/data/convertor-orx.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT window)
if(EXISTS ${PROJECT_SOURCE_DIR}/examples)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/convertor-orx/examples
          FILES_MATCHING PATTERN "*.xml" PATTERN "*.xsd" PATTERN "*.cod")
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "convertor-orx")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Convertor ORX developers <orx@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converter for certificates of origin: package files and server submission")
set(CPACK_PACKAGE_DESCRIPTION
    "Turns an operator's certificate XML into an enciphered package file, or sends it\nto the certificate server over HTTPS with a client certificate. Window and batch mode.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
# Dependencies come from the libraries the program really links (dpkg-shlibdeps),
# so they are Debian's own library packages at the versions built against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, ca-certificates")
set(CPACK_STRIP_FILES ON)
include(CPack)
