# Desktop integration and the Debian packages.
#
# `cmake --install <build>` puts the game in bin/ (games/ for the package preset) and its font
# sheet under share/vesperdeep/ (the top-level list installs those), and here the desktop
# entry, the icon and the AppStream metainfo where desktops look for them, the manual page,
# and the copyright file and changelog under share/doc/vesperdeep/. `cpack -G DEB` in the
# package preset's build directory wraps the same install into vesperdeep_<version>_<arch>.deb,
# installing under /usr.
#
# The server's files (component "server": the server, its games, their font sheet, its manual
# page, the systemd unit and the example nginx site) become a second package from the same
# build, vesperdeep-server_<version>_<arch>.deb.

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
foreach(source vesperdeep.6 vesperdeep-term.6 changelog server/vesperdeep-server.8)
  get_filename_component(file ${source} NAME)
  add_custom_command(
    OUTPUT ${VESPERDEEP_PACKAGING_OUT}/${file}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${VESPERDEEP_PACKAGING}/${source} ${VESPERDEEP_PACKAGING_OUT}/${file}
    COMMAND ${VESPERDEEP_GZIP} -9nf ${VESPERDEEP_PACKAGING_OUT}/${file}
    DEPENDS ${VESPERDEEP_PACKAGING}/${source}
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

# The server's own: its manual page, its service, the example site, and the same copyright file
# and changelog in its documentation directory.
if(TARGET vesperdeep-server)
  set(VESPERDEEP_SERVER_DOC ${CMAKE_INSTALL_DATADIR}/doc/vesperdeep-server)
  add_dependencies(vesperdeep-server vesperdeep_docs)
  install(FILES ${VESPERDEEP_PACKAGING_OUT}/vesperdeep-server.8.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT server)
  install(FILES ${VESPERDEEP_PACKAGING}/server/vesperdeep-server.service
          DESTINATION lib/systemd/system COMPONENT server)
  install(FILES ${VESPERDEEP_PACKAGING_OUT}/copyright ${VESPERDEEP_PACKAGING_OUT}/changelog.gz
          DESTINATION ${VESPERDEEP_SERVER_DOC} COMPONENT server)
  install(FILES ${VESPERDEEP_PACKAGING}/nginx/vesperdeep-server.conf
          DESTINATION ${VESPERDEEP_SERVER_DOC}/examples COMPONENT server)
endif()

set(CPACK_PACKAGE_NAME vesperdeep)
set(CPACK_PACKAGE_VENDOR "Vesperdeep")
set(CPACK_PACKAGE_CONTACT "Vesperdeep maintainers <maintainers@vesperdeep.invalid>")
# Each package's description: its summary line, then lines within 80 columns, as Debian wants
# them (the control file indents each by one space). CPack would put one summary before both,
# so none is set for it (CPACK_PACKAGE_DESCRIPTION_SUMMARY).
string(CONCAT CPACK_DEBIAN_GAME_DESCRIPTION
       "small turn-based roguelike in a dark cave\n"
       "You wake alone in a cave without memory. Explore it by the light of a small\n"
       "field of view, fight bats, snakes and bears, butcher and eat what you kill\n"
       "before hunger does, craft pelts and a stone into gear, and find out why you\n"
       "came here. Played with the keyboard in an 80 x 50 character window, or in\n"
       "a terminal of that size (vesperdeep-term, also over ssh).")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL game)
set(CPACK_DEBIAN_GAME_PACKAGE_NAME vesperdeep)
if(TARGET vesperdeep-server)
  list(APPEND CPACK_COMPONENTS_ALL server)
  set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vesperdeep-server)
  string(CONCAT CPACK_DEBIAN_SERVER_DESCRIPTION
         "Vesperdeep roguelike played in a web page\n"
         "A web server for the Vesperdeep roguelike: each player opens the page in a\n"
         "browser and plays the whole 80 x 50 console, drawn with the game's own font,\n"
         "while the game runs on the server in a confined process of its own. It comes\n"
         "with a systemd service, sandboxed and run by a dynamic user, and an example\n"
         "nginx site that puts TLS in front of it.")
  # Before removal the service stops; a purge takes its recordings with it.
  set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${VESPERDEEP_PACKAGING}/server/prerm
                                                ${VESPERDEEP_PACKAGING}/server/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
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
