# Voxmere.exe loads DLLs from the system folder only (dll_search_win32.cpp says why and how):
# every DLL it imports but kernel32.dll and the C runtime is delay-loaded, and the image's header
# points at its load configuration and its delay-import table.
#
# Each import library named here is replaced on Voxmere.exe's link line by a delay-import library
# of the same name, made from it and found first (its folder comes before every other), so the
# libraries linked into Voxmere.exe that ask for it get it delay-loaded too. Names that the link
# does not use cost nothing. An import that is missing here stays a static import: the
# planted-DLL checks of `make test-windows` fail for one that is not a known DLL.
set(VOXMERE_DELAY_LOADED
  advapi32 comctl32 comdlg32 gdi32 gdiplus imm32 msimg32 ole32 oleacc oleaut32 rpcrt4 shell32
  shlwapi user32 uxtheme version winhttp winmm winspool ws2_32)

target_sources(voxmere PRIVATE ${CMAKE_CURRENT_LIST_DIR}/dll_search_win32.cpp)

set(delay_dir ${CMAKE_CURRENT_BINARY_DIR}/delay-import)
set(delay_libs)
foreach(lib ${VOXMERE_DELAY_LOADED})
  find_library(VOXMERE_IMPORT_LIB_${lib} ${lib} REQUIRED)
  set(delay_lib ${delay_dir}/lib${lib}.a)
  add_custom_command(OUTPUT ${delay_lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${delay_dir}
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/delay-import-lib ${CMAKE_NM} ${CMAKE_DLLTOOL}
            ${VOXMERE_IMPORT_LIB_${lib}} ${delay_lib}
    DEPENDS ${VOXMERE_IMPORT_LIB_${lib}} ${PROJECT_SOURCE_DIR}/cmake/delay-import-lib
    COMMENT "Making the delay-import library of ${lib}"
    VERBATIM)
  list(APPEND delay_libs ${delay_lib})
endforeach()
add_custom_target(voxmere_delay_import_libs DEPENDS ${delay_libs})
add_dependencies(voxmere voxmere_delay_import_libs)
target_link_directories(voxmere BEFORE PRIVATE ${delay_dir})
set_property(TARGET voxmere APPEND PROPERTY LINK_DEPENDS ${delay_libs})

add_custom_command(TARGET voxmere POST_BUILD
  COMMAND ${PROJECT_SOURCE_DIR}/cmake/pe-set-directories ${CMAKE_NM} ${CMAKE_OBJDUMP} $<TARGET_FILE:voxmere>
  VERBATIM)
