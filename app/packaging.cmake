# `cpack` makes a Debian package of what `cmake --install` installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voxmere)
set(CPACK_PACKAGE_VENDOR "${VOXMERE_OWNER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "One-window MP3 recorder")
set(CPACK_PACKAGE_DESCRIPTION
    "Records from an audio input device straight to an MP3 file at a constant bit rate, one second at a time.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VOXMERE_WEBSITE_URL}")
set(CPACK_PACKAGE_CONTACT "${VOXMERE_OWNER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# What the executable and lame_enc.so link: wx and GTK for the window, libpulse for capture,
# libmp3lame behind the encoder module.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libwxgtk3.2-1, libgtk-3-0, libpulse0, libmp3lame0")
include(CPack)
