# Voxmere.exe for Windows, its resources, and what it ships as: a zip and an NSIS installer
# (`cpack`), each holding Voxmere.exe, lame_enc.dll and manual.html side by side. The executable
# finds the module beside it through the library search, which starts in the executable's folder.
set_target_properties(voxmere PROPERTIES OUTPUT_NAME Voxmere WIN32_EXECUTABLE ON)
# The capture backend after the engine that calls it.
target_link_libraries(voxmere PRIVATE voxmere_ui voxmere_recorder voxmere_wavein_win32)
add_dependencies(voxmere lame_enc)
include(${CMAKE_CURRENT_LIST_DIR}/dll_search_windows.cmake)

# The icon: the red disc at 48, 32, 24 and 16 pixels, made from the same images as on Linux.
find_program(VOXMERE_MAGICK NAMES magick convert REQUIRED)
set(icon_pngs)
foreach(size 48 32 24 16)
  list(APPEND icon_pngs ${PROJECT_SOURCE_DIR}/ui/res/icons/voxmere-${size}.png)
endforeach()
set(VOXMERE_ICO ${CMAKE_CURRENT_BINARY_DIR}/voxmere.ico)
add_custom_command(OUTPUT ${VOXMERE_ICO}
  COMMAND ${VOXMERE_MAGICK} ${icon_pngs} ${VOXMERE_ICO}
  DEPENDS ${icon_pngs}
  COMMENT "Making the application icon"
  VERBATIM)

set(VOXMERE_MANIFEST ${PROJECT_SOURCE_DIR}/ui/res/voxmere.exe.manifest)
configure_file(${PROJECT_SOURCE_DIR}/ui/res/voxmere.rc.in ${CMAKE_CURRENT_BINARY_DIR}/voxmere.rc @ONLY)
target_sources(voxmere PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/voxmere.rc)
target_include_directories(voxmere PRIVATE ${PROJECT_SOURCE_DIR}/ui)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/voxmere.rc PROPERTIES
  OBJECT_DEPENDS "${VOXMERE_ICO};${VOXMERE_MANIFEST}")

# The manual beside Voxmere.exe, in the build tree and in what is shipped: the Website button
# opens it and the About message names it unless the build names a web site.
if(VOXMERE_WEBSITE_URL)
  set(VOXMERE_WEBSITE_SHOWN "the maker's web site, ${VOXMERE_WEBSITE_URL},")
else()
  set(VOXMERE_WEBSITE_SHOWN "this manual")
endif()
set(manual ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/manual.html)
configure_file(${PROJECT_SOURCE_DIR}/packaging/manual-windows.html.in ${manual} @ONLY)

install(TARGETS voxmere RUNTIME DESTINATION .)
install(TARGETS lame_enc LIBRARY DESTINATION .)
install(FILES ${manual} DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME Voxmere)
set(CPACK_PACKAGE_VENDOR "${VOXMERE_OWNER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "One-window MP3 recorder")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VOXMERE_WEBSITE_URL}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Voxmere)
set(CPACK_PACKAGE_FILE_NAME Voxmere-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
# The installer's own name ends in -setup; the zip keeps the plain one.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/app/cpack_windows_names.cmake)
# A Start-menu entry "Voxmere" for Voxmere.exe, in the installation's top folder.
set(CPACK_PACKAGE_EXECUTABLES Voxmere Voxmere)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME Voxmere)
set(CPACK_NSIS_PACKAGE_NAME Voxmere)
set(CPACK_NSIS_MUI_ICON ${VOXMERE_ICO})
set(CPACK_NSIS_MUI_UNIICON ${VOXMERE_ICO})
# The icon Apps & Features shows beside the uninstaller.
set(CPACK_NSIS_INSTALLED_ICON_NAME Voxmere.exe)
set(CPACK_NSIS_URL_INFO_ABOUT "${VOXMERE_WEBSITE_URL}")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
# A 64-bit installer like the program it installs: it writes the 64-bit registry and folders,
# and runs where no 32-bit layer is present (Wine without wine32).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
include(CPack)
