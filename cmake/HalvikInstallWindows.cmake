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
    set(HALVIK_DEPLOY_BIN \"\${CMAKE_INSTALL_PREFIX}/bin\")
    set(HALVIK_DEPLOY_FILES \"${_halvik_installed};${_qt_plugins}\")
    set(HALVIK_DEPLOY_DIRS \"${_qt_prefix}/bin;${_runtime_dir};/usr/x86_64-w64-mingw32/lib\")
    set(HALVIK_OBJDUMP \"${CMAKE_OBJDUMP}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/windows/deploy.cmake\")
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
# A 64-bit installer for 64-bit programs (it also runs where 32-bit support is absent, as in a
# 64-bit-only Wine).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/resources/images/halvik_icon.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/resources/images/halvik_icon.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\vantor_manager.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# Start-menu entries: Quorvel and Vantor Manager (the other two are console programs).
set(CPACK_PACKAGE_EXECUTABLES "quorvel;Quorvel;vantor_manager;Vantor Manager")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/windows/cpackoptions.cmake")
include(CPack)
