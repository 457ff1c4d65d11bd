# Install rules and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

# libANT_DLL.so is a private plug-in, not a public library: it has no SONAME and no headers,
# so it lives in the package's own folder. fennick loads it by bare name; its RUNPATH makes
# dlopen() find it there, relative to the program, so an unpacked tree works as installed.
set(FENNICK_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/fennick)
file(RELATIVE_PATH FENNICK_BIN_TO_LIB
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${FENNICK_PRIVATE_LIBDIR})
set_target_properties(fennick PROPERTIES INSTALL_RPATH "$ORIGIN/${FENNICK_BIN_TO_LIB}")

install(TARGETS fennick fennick-virtual-stick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ANT_DLL LIBRARY DESTINATION ${FENNICK_PRIVATE_LIBDIR})
install(FILES packaging/99-fennick-ant.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/fennick.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/fennick.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)

# Manual pages carry the version and are compressed the way Debian wants them (gzip -9n).
find_program(GZIP_EXECUTABLE gzip REQUIRED)
foreach(page fennick fennick-virtual-stick)
  configure_file(packaging/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND ${GZIP_EXECUTABLE} -9nf -k ${CMAKE_BINARY_DIR}/man/${page}.1
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1)
  list(APPEND FENNICK_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(fennick_man_pages ALL DEPENDS ${FENNICK_MAN_PAGES})
install(FILES ${FENNICK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Whoever builds a package for others names themselves here; example.org never delivers mail.
set(FENNICK_PACKAGE_MAINTAINER "Fennick FE-C developers <fennick@example.org>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")

# Debian wants a copyright file and a compressed changelog in the package's doc folder.
set(FENNICK_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/fennick)
string(TIMESTAMP FENNICK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${GZIP_EXECUTABLE} -9nf -k ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog)
add_custom_target(fennick_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${FENNICK_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fennick)
set(CPACK_PACKAGE_VENDOR "Fennick FE-C")
set(CPACK_PACKAGE_CONTACT ${FENNICK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "calibration utility for ANT+ FE-C bike trainers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Calibrates an ANT+ FE-C bike trainer through an ANT USB stick, with its own ANT\n\
library (USB and serial sticks) and a virtual stick with a simulated trainer.\n\
The package installs a udev rule that gives the user at the seat access to\n\
the ANT USB sticks 0FCF:1004, 0FCF:1008 and 0FCF:1009.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt SQL loads its SQLite driver as a plugin, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
# Our own scripts replace the ldconfig calls CPack would add: the library is loaded by path.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
