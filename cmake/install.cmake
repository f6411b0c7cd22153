# Install layout and the Debian package.
#   <prefix>/bin/clefwork                       the program
#   <prefix>/bin/clefwork-judge                 a recorded take judged from the command line
#   <prefix>/share/clefwork/                    its folder: every picture, the compiled help, help/
#   <prefix>/share/applications/                the desktop entry
#   <prefix>/share/icons/hicolor/<n>x<n>/apps/  the icon
#   <prefix>/share/metainfo/                    the AppStream metadata
#   <prefix>/share/doc/clefwork/copyright        the licence, GPL-3.0-or-later
# The program finds its folder as <exe>/../share/clefwork, so any prefix works.
set(CLEFWORK_APP_ID org.clefwork.Clefwork)
set(CLEFWORK_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(CLEFWORK_ICON_SIZES 48 64 128 256)

install(TARGETS clefwork clefwork-judge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The pictures are drawn at build time, so their names are only known once the build has run:
# they are gathered when installing.  file(INSTALL) honours DESTDIR, as CPack needs.
set(CLEFWORK_DATA_DEST ${CMAKE_INSTALL_DATADIR}/clefwork)
install(CODE "
  set(data_out \"${CLEFWORK_DATA_OUT}\")
  file(GLOB pictures LIST_DIRECTORIES false
       \"\${data_out}/*.bmp\" \"\${data_out}/*.jpg\" \"\${data_out}/*.gif\")
  if(NOT pictures)
    message(FATAL_ERROR \"No pictures in \${data_out}: build the program (target artwork_pictures) first\")
  endif()
  if(IS_ABSOLUTE \"${CLEFWORK_DATA_DEST}\")
    set(dest \"${CLEFWORK_DATA_DEST}\")
  else()
    set(dest \"\${CMAKE_INSTALL_PREFIX}/${CLEFWORK_DATA_DEST}\")
  endif()
  file(INSTALL \${pictures} DESTINATION \"\${dest}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(EXISTS \"\${data_out}/Fretlore Help.chm\")
    file(INSTALL \"\${data_out}/Fretlore Help.chm\" DESTINATION \"\${dest}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
  if(IS_DIRECTORY \"\${data_out}/help\")
    file(INSTALL \"\${data_out}/help\" DESTINATION \"\${dest}\" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
")

# The icon, drawn at each size by a small program of its own.
find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(clefwork_make_icon ${CLEFWORK_PACKAGING_DIR}/make_icon.cpp)
target_link_libraries(clefwork_make_icon PRIVATE Qt6::Gui)
set(CLEFWORK_ICON_FILES "")
foreach(size ${CLEFWORK_ICON_SIZES})
  set(icon ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}/${CLEFWORK_APP_ID}.png)
  add_custom_command(
    OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:clefwork_make_icon> ${size} ${icon}
    DEPENDS clefwork_make_icon
    COMMENT "Drawing the ${size}x${size} icon"
    VERBATIM)
  list(APPEND CLEFWORK_ICON_FILES ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(clefwork_icons ALL DEPENDS ${CLEFWORK_ICON_FILES})

install(FILES ${CLEFWORK_PACKAGING_DIR}/${CLEFWORK_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CLEFWORK_PACKAGING_DIR}/${CLEFWORK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# cpack -G DEB: a package for Debian 12 whose library dependencies dpkg-shlibdeps works out.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME clefwork)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Clefwork developers")
set(CPACK_PACKAGE_CONTACT "Clefwork developers <maintainers@clefwork.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bass guitar sight-reading trainer")
set(CPACK_PACKAGE_DESCRIPTION
    "Clefwork teaches a bass guitarist to read notes from a bass stave at tempo. It beats four-beat bars, shows the bar being played and the next one, names the notes, and sounds a metronome click or the written note through a built-in synthesiser or an ALSA MIDI port. It can listen to the bass (audio or MIDI input) and judge every beat, keeps a practice history, counts in a bar, is driven from the keyboard, and has a tempo trainer that raises the tempo every few bars or follows how well the player plays. Licence: GPL-3.0-or-later.")
# The licence: GPL-3.0-or-later (Qt Charts and aubio are GPL-3), in Debian's place for it.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/COPYING)
install(FILES ${PROJECT_SOURCE_DIR}/COPYING DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The built-in synthesiser needs a General MIDI soundfont; it loads either of these by name
# (FluidR3_GM.sf2, TimGM6mb.sf2), never default-GM.sf2.
# aubio is opened at run time by its soname (listen/aubio_load.cpp), so the shared-library
# scan does not see it: its package is named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fluid-soundfont-gm | timgm6mb-soundfont, libaubio5")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xchm")
include(CPack)
