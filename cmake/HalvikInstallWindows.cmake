# Windows install layout, the zip and the NSIS installer: the four programs in bin\ beside exactly
# the DLLs they load (Qt's and the MinGW runtime) and the Qt plugins they need in the folders
# where Qt looks for them beside the program. Nothing else in bin\ is an .exe, so the manager's
# launcher lists just the other programs.
set(_halvik_programs quorvel vantor_manager vantor_sim vantorctl)
set(_halvik_installed)
foreach(program IN LISTS _halvik_programs)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION bin)
        list(APPEND _halvik_installed "${program}.exe")
    endif()
endforeach()

# Plugins: the Windows platform, offscreen (vantorctl plot draws without a display), the native
# widget style and the .ico reader for the window icon.
set(_qt_plugins platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll
                imageformats/qico.dll)
set(_qt_prefix "${HALVIK_WINDOWS_DEPS}/qt")
foreach(plugin IN LISTS _qt_plugins)
    get_filename_component(folder "${plugin}" DIRECTORY)
    install(FILES "${_qt_prefix}/plugins/${plugin}" DESTINATION "bin/${folder}")
endforeach()

get_filename_component(_runtime_dir "${_stdcxx}" DIRECTORY)
install(CODE "
    set(_bin \"\${CMAKE_INSTALL_PREFIX}/bin\")
    set(_files)
    foreach(f ${_halvik_installed} ${_qt_plugins})
        list(APPEND _files \"\${_bin}/\${f}\")
    endforeach()
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND ${CMAKE_OBJDUMP})
    file(GET_RUNTIME_DEPENDENCIES
        EXECUTABLES \${_files}
        RESOLVED_DEPENDENCIES_VAR _found
        UNRESOLVED_DEPENDENCIES_VAR _system
        DIRECTORIES \"${_qt_prefix}/bin\" \"${_runtime_dir}\" /usr/x86_64-w64-mingw32/lib
        PRE_EXCLUDE_REGEXES \"^api-ms-\" \"^ext-ms-\")
    foreach(dll IN LISTS _found)
        file(INSTALL \"\${dll}\" DESTINATION \"\${_bin}\")
    endforeach()
    # What is not found here is Windows' own (kernel32, user32, ws2_32 ...).
    message(STATUS \"Windows system DLLs used: \${_system}\")
")
install(FILES README.md DESTINATION doc)

set(CPACK_PACKAGE_NAME "halvik-vantor")
set(CPACK_PACKAGE_VENDOR "Halvik Robotics")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vantor pointing device tools: Quorvel, Vantor Manager, simulator")
set(CPACK_PACKAGE_FILE_NAME "halvik-vantor-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Halvik Vantor")
set(CPACK_GENERATOR "ZIP;NSIS")
set(CPACK_NSIS_PACKAGE_NAME "Halvik Vantor ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "Halvik Vantor tool set")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/resources/images/halvik_icon.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/resources/images/halvik_icon.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\vantor_manager.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# Start-menu entries: Quorvel and Vantor Manager (the other two are console programs).
set(CPACK_PACKAGE_EXECUTABLES "quorvel;Quorvel;vantor_manager;Vantor Manager")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/windows/cpackoptions.cmake")
include(CPack)
