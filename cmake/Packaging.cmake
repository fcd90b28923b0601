# Desktop integration and the Debian package.
#
# `cmake --install <build>` puts the game in bin/, its font sheet and licence note under
# share/vesperdeep/ (the top-level list installs those), and here the desktop entry and the
# icon where desktops look for them. `cpack -G DEB` in the build directory wraps the same
# install into vesperdeep_<version>_<arch>.deb, installing under /usr.

include(GNUInstallDirs)

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/vesperdeep.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/vesperdeep.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)

set(CPACK_PACKAGE_NAME vesperdeep)
set(CPACK_PACKAGE_VENDOR "Vesperdeep")
set(CPACK_PACKAGE_CONTACT "Vesperdeep maintainers <maintainers@vesperdeep.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small turn-based roguelike in a dark cave")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "You wake alone in a cave without memory. Explore it by the light of a small field\n"
       "of view, fight bats, snakes and bears, butcher and eat what you kill before hunger\n"
       "does, craft pelts and a stone into gear, and find out why you came here.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The game links libtcod and SDL2 itself (the key wait and the font loader use SDL directly).
# dpkg-shlibdeps, where it is at hand, finds those and the C and C++ runtimes with the
# versions the build needs; otherwise the two libraries are named here.
find_program(VESPERDEEP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VESPERDEEP_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libtcod1 (>= 1.18), libsdl2-2.0-0 (>= 2.0.12)")
endif()

include(CPack)
