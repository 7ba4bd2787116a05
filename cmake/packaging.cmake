# Installing and packaging. `cmake --install` puts the programs, the desktop
# entry and icon, the manual pages and the sample files under the prefix;
# `cpack` in the build folder makes a Debian package of the same files.
include(GNUInstallDirs)

install(TARGETS mkptool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/mkpt/examples)

# Wireshark: the dissector into its global Lua plugin folder and the extcap
# launcher (which runs the installed mkptool) into its global extcap folder,
# both under the library folder of the distribution (lib/x86_64-linux-gnu on
# Debian, where Wireshark looks).
set(MKPTOOL_INSTALLED ${CMAKE_INSTALL_FULL_BINDIR}/mkptool)
configure_file(data/wireshark/mkptool-extcap.in ${PROJECT_BINARY_DIR}/mkptool-extcap @ONLY)
install(FILES data/wireshark/mkp.lua DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins)
install(PROGRAMS ${PROJECT_BINARY_DIR}/mkptool-extcap DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/extcap)

# The licence, as share/doc/mkpt/copyright in Debian's machine-readable
# copyright format: the holder and the permission text come from LICENSE,
# the text indented by one blank and its empty lines written as " .".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE MKP_LICENSE)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" MKP_COPYRIGHT "${MKP_LICENSE}")
set(MKP_COPYRIGHT "${CMAKE_MATCH_1}")
string(FIND "${MKP_LICENSE}" "Permission is hereby granted" MKP_LICENSE_START)
string(SUBSTRING "${MKP_LICENSE}" ${MKP_LICENSE_START} -1 MKP_LICENSE_BODY)
string(STRIP "${MKP_LICENSE_BODY}" MKP_LICENSE_BODY)
string(REPLACE "\n\n" "\n.\n" MKP_LICENSE_BODY "${MKP_LICENSE_BODY}")
string(REPLACE "\n" "\n " MKP_LICENSE_BODY " ${MKP_LICENSE_BODY}")
configure_file(data/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual pages, compressed as the distribution ships them. mkptool's page
# is made from the help texts of the mkptool just built, so it lists every
# command that mkptool has.
find_program(MKP_GZIP gzip REQUIRED)
set(MKP_MAN_DIR ${PROJECT_BINARY_DIR}/man)
set(MKP_MAN_PAGES ${MKP_MAN_DIR}/mkptool.1.gz)
add_custom_command(
  OUTPUT ${MKP_MAN_DIR}/mkptool.1.gz
  COMMAND sh ${PROJECT_SOURCE_DIR}/data/mkptool-man.sh $<TARGET_FILE:mkptool> ${PROJECT_VERSION}
          > ${MKP_MAN_DIR}/mkptool.1
  COMMAND ${MKP_GZIP} -9nf ${MKP_MAN_DIR}/mkptool.1
  DEPENDS mkptool ${PROJECT_SOURCE_DIR}/data/mkptool-man.sh
  COMMENT "Writing the manual page of mkptool"
  VERBATIM)

if(TARGET mkpt)
  install(TARGETS mkpt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES data/mkpt.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/mkpt.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The page names the folder of the sample files, so the prefix is the one
  # given at configure time (/usr for the package: see scripts/package).
  configure_file(data/mkpt.1 ${MKP_MAN_DIR}/mkpt.1 @ONLY)
  add_custom_command(
    OUTPUT ${MKP_MAN_DIR}/mkpt.1.gz
    COMMAND ${MKP_GZIP} -9n -c ${MKP_MAN_DIR}/mkpt.1 > ${MKP_MAN_DIR}/mkpt.1.gz
    DEPENDS ${MKP_MAN_DIR}/mkpt.1
    VERBATIM)
  list(APPEND MKP_MAN_PAGES ${MKP_MAN_DIR}/mkpt.1.gz)
endif()
add_custom_target(manpages ALL DEPENDS ${MKP_MAN_PAGES})
install(FILES ${MKP_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: dpkg-shlibdeps works out the library dependencies; the
# Qt platform plugins are only recommended by Qt, but the window needs them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mkpt)
set(CPACK_PACKAGE_VENDOR "mkpt developers")
set(CPACK_PACKAGE_CONTACT "mkpt developers <mkpt@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test bench and debugger for the MKP serial packet protocol")
set(CPACK_PACKAGE_DESCRIPTION
    "mkpt talks the MKP master/slave packet protocol on a serial port: it\n"
    "composes packets by hand and reads the replies, plays a device that\n"
    "answers from a table of request/answer pairs, and polls and sets the\n"
    "registers of one device from a device description, logging every\n"
    "packet raw and decoded.\n"
    "\n"
    "mkptool, the command-line companion, runs the same engine without the\n"
    "window: it decodes logs, plays a slave in a test rig and polls\n"
    "registers from scripts.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Captures open in Wireshark with the dissector the package installs.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark | tshark")
if(TARGET mkpt)
  # The Qt libraries (Charts among them) come in through the shared library
  # dependencies; the platform plugins are a package of their own.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6charts6")
  # The platform plugin of sessions without X.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
endif()
include(CPack)
