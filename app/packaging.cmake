# The program as a Linux desktop installs it, and `cpack` making a Debian package of that:
# desktop entry, icons, AppStream metainfo, man page, manual, copyright and changelog.
# The man page and the manual name the files as the package installs them, under /usr.
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(package_prefix /usr)
set(VOXMERE_APP_ID io.github.voxmere.voxmere)
set(VOXMERE_MAINTAINER "Voxmere developers <maintainers@users.noreply.c-seed-a40572ee.example>" CACHE STRING
    "The Debian package's maintainer: a name and an address")
set(VOXMERE_SCREENSHOT_URL "https://voxmere.github.io/screenshots/main-window.png" CACHE STRING
    "Where software centres fetch packaging/screenshots/main-window.png from")

# The changelog is the one record of releases; its latest entry must be this version.
include(${packaging}/releases.cmake)
voxmere_read_changelog(${packaging}/changelog VOXMERE_RELEASES changelog_version VOXMERE_RELEASE_DATE)
if(NOT changelog_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog's latest entry is ${changelog_version} but the project is "
                      "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${packaging}/changelog)

if(VOXMERE_WEBSITE_URL)
  set(VOXMERE_WEBSITE_SHOWN "the maker's web site, ${VOXMERE_WEBSITE_URL},")
  set(VOXMERE_HOMEPAGE_ELEMENT "\n  <url type=\"homepage\">${VOXMERE_WEBSITE_URL}</url>")
else()
  set(VOXMERE_WEBSITE_SHOWN "this manual as a web page")
  set(VOXMERE_HOMEPAGE_ELEMENT "")
endif()
set(VOXMERE_MODULE_PATH ${package_prefix}/${VOXMERE_MODULE_DIR}/lame_enc.so)
set(VOXMERE_MANUAL_PATH ${package_prefix}/${VOXMERE_MANUAL})
set(generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)
configure_file(${packaging}/voxmere.1.in ${generated}/voxmere.1 @ONLY)
configure_file(${packaging}/doc-base.in ${generated}/doc-base @ONLY)
configure_file(${packaging}/${VOXMERE_APP_ID}.metainfo.xml.in ${generated}/${VOXMERE_APP_ID}.metainfo.xml @ONLY)

set(render ${CMAKE_COMMAND} -P ${packaging}/render.cmake)
# The manual is built where the build tree's program looks for it, beside bin/.
set(manual ${CMAKE_BINARY_DIR}/${VOXMERE_MANUAL})
add_custom_command(OUTPUT ${manual}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/${VOXMERE_DOC_DIR}
  COMMAND ${CMAKE_COMMAND} -DSTEP=html -DIN=${generated}/voxmere.1 -DOUT=${manual} -P ${packaging}/render.cmake
  DEPENDS ${generated}/voxmere.1 ${packaging}/render.cmake
  COMMENT "Rendering the manual" VERBATIM)
foreach(doc voxmere.1 changelog)
  if(doc STREQUAL changelog)
    set(in ${packaging}/changelog)
  else()
    set(in ${generated}/${doc})
  endif()
  add_custom_command(OUTPUT ${generated}/${doc}.gz
    COMMAND ${CMAKE_COMMAND} -DSTEP=gzip -DIN=${in} -DOUT=${generated}/${doc}.gz -P ${packaging}/render.cmake
    DEPENDS ${in} ${packaging}/render.cmake VERBATIM)
endforeach()
add_custom_target(voxmere_docs ALL DEPENDS ${manual} ${generated}/voxmere.1.gz ${generated}/changelog.gz)

install(FILES ${packaging}/${VOXMERE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${generated}/${VOXMERE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/res/icons/voxmere-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME voxmere.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/ui/res/icons/voxmere.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${generated}/voxmere.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# A package whose version has no Debian revision is native: its changelog is changelog.gz.
install(FILES ${manual} ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${VOXMERE_DOC_DIR})
# Registers the manual with the system's documentation index.
install(FILES ${generated}/doc-base DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base RENAME voxmere)

# A stripped install (cmake --install --strip, and cpack) also drops the sections that only
# name the compiler, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(binary \"${CMAKE_INSTALL_BINDIR}/voxmere\" \"${VOXMERE_MODULE_DIR}/lame_enc.so\")
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${binary}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voxmere)
set(CPACK_PACKAGE_VENDOR "${VOXMERE_OWNER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "one-window MP3 recorder")
# The extended description; CPack puts the summary before it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Voxmere records from an audio input device (a microphone, a line input or
what the computer plays) straight to an MP3 file at a constant bit rate.
It encodes every second as it is captured, so no uncompressed audio is
written to disk and a recording cut short is still playable.")
if(VOXMERE_WEBSITE_URL)
  set(CPACK_PACKAGE_HOMEPAGE_URL "${VOXMERE_WEBSITE_URL}")
endif()
set(CPACK_PACKAGE_CONTACT "${VOXMERE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VOXMERE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${package_prefix})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are what dpkg-shlibdeps finds the executable and lame_enc.so linked with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
