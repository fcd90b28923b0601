# Desktop integration and the Debian package.
#
# `cmake --install <build>` puts the game in bin/ (games/ for the package preset) and its font
# sheet under share/vesperdeep/ (the top-level list installs those), and here the desktop
# entry, the icon and the AppStream metainfo where desktops look for them, the manual page,
# and the copyright file and changelog under share/doc/vesperdeep/. `cpack -G DEB` in the
# package preset's build directory wraps the same install into vesperdeep_<version>_<arch>.deb,
# installing under /usr.

include(GNUInstallDirs)
set(VESPERDEEP_PACKAGING ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(VESPERDEEP_PACKAGING_OUT ${CMAKE_CURRENT_BINARY_DIR}/packaging)

install(FILES ${VESPERDEEP_PACKAGING}/vesperdeep.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VESPERDEEP_PACKAGING}/vesperdeep.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
install(FILES ${VESPERDEEP_PACKAGING}/vesperdeep.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME net.vesperdeep.vesperdeep.metainfo.xml)

# The machine-readable copyright file (DEP-5) carries the two licence texts as they stand in
# LICENSE and in the font's licence note, each line indented by one space, blank lines as " .".
function(vesperdeep_dep5_text text out)
  string(STRIP "${text}" text)
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")  # runs of blank lines
  string(REPLACE "\n" "\n " text "${text}")
  set(${out} " ${text}" PARENT_SCOPE)
endfunction()
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE VESPERDEEP_BSD_TEXT)
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/assets/FONT-LICENSE.md VESPERDEEP_FONT_NOTE)
string(REGEX MATCH "```\n(.*)\n```" _ "${VESPERDEEP_FONT_NOTE}")
set(VESPERDEEP_OFL_TEXT "${CMAKE_MATCH_1}")
if(NOT VESPERDEEP_OFL_TEXT)
  message(FATAL_ERROR "assets/FONT-LICENSE.md: no licence text between ``` lines")
endif()
vesperdeep_dep5_text("${VESPERDEEP_BSD_TEXT}" VESPERDEEP_BSD_TEXT)
vesperdeep_dep5_text("${VESPERDEEP_OFL_TEXT}" VESPERDEEP_OFL_TEXT)
configure_file(${VESPERDEEP_PACKAGING}/copyright.in ${VESPERDEEP_PACKAGING_OUT}/copyright @ONLY)
install(FILES ${VESPERDEEP_PACKAGING_OUT}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vesperdeep)

# The manual page and the changelog are installed gzipped, as Debian wants them (-9n: the
# smallest, with no time stamp, so that the package is reproducible).
find_program(VESPERDEEP_GZIP gzip REQUIRED)
set(VESPERDEEP_GZIPPED)
foreach(file vesperdeep.6 vesperdeep-term.6 changelog)
  add_custom_command(
    OUTPUT ${VESPERDEEP_PACKAGING_OUT}/${file}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${VESPERDEEP_PACKAGING}/${file} ${VESPERDEEP_PACKAGING_OUT}/${file}
    COMMAND ${VESPERDEEP_GZIP} -9nf ${VESPERDEEP_PACKAGING_OUT}/${file}
    DEPENDS ${VESPERDEEP_PACKAGING}/${file}
    VERBATIM)
  list(APPEND VESPERDEEP_GZIPPED ${VESPERDEEP_PACKAGING_OUT}/${file}.gz)
endforeach()
add_custom_target(vesperdeep_docs ALL DEPENDS ${VESPERDEEP_GZIPPED})
add_dependencies(vesperdeep vesperdeep_docs)
if(TARGET vesperdeep-term)  # built alone, it brings its manual pages too
  add_dependencies(vesperdeep-term vesperdeep_docs)
endif()
install(FILES ${VESPERDEEP_PACKAGING_OUT}/vesperdeep.6.gz ${VESPERDEEP_PACKAGING_OUT}/vesperdeep-term.6.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${VESPERDEEP_PACKAGING_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vesperdeep)

set(CPACK_PACKAGE_NAME vesperdeep)
set(CPACK_PACKAGE_VENDOR "Vesperdeep")
set(CPACK_PACKAGE_CONTACT "Vesperdeep maintainers <maintainers@vesperdeep.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small turn-based roguelike in a dark cave")
# Lines within 80 columns, as Debian wants them (the control file indents each by one space).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "You wake alone in a cave without memory. Explore it by the light of a small\n"
       "field of view, fight bats, snakes and bears, butcher and eat what you kill\n"
       "before hunger does, craft pelts and a stone into gear, and find out why you\n"
       "came here. Played with the keyboard in an 80 x 50 character window, or in\n"
       "a terminal of that size (vesperdeep-term, also over ssh).")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The game links libtcod and SDL2 itself (the key wait and the font loader use SDL directly),
# vesperdeep-term ncursesw as well.
# dpkg-shlibdeps, where it is at hand, finds those and the C and C++ runtimes with the
# versions the build needs; otherwise the two libraries are named here.
find_program(VESPERDEEP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VESPERDEEP_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libtcod1 (>= 1.18), libsdl2-2.0-0 (>= 2.0.12), libxcb1, libx11-6, libncursesw6 (>= 6.1), libtinfo6 (>= 6.1)")
endif()

include(CPack)
