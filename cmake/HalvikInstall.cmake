if(WIN32)
    include(HalvikInstallWindows)
    return()
endif()

# Install layout: the programs together in lib/halvik-vantor/bin (the manager's launcher lists
# the folder it runs from, so nothing else may live there), with links in bin/ for the PATH.
include(GNUInstallDirs)
set(HALVIK_INSTALL_PROGRAM_DIR "${CMAKE_INSTALL_LIBDIR}/halvik-vantor/bin")

set(_halvik_programs quorvel vantor_manager vantor_sim vantorctl)
foreach(program IN LISTS _halvik_programs)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${HALVIK_INSTALL_PROGRAM_DIR})
        install(CODE "
            file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
            file(CREATE_LINK \"../${HALVIK_INSTALL_PROGRAM_DIR}/${program}\"
                 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\" SYMBOLIC)")
    endif()
endforeach()

if(HALVIK_BUILD_GUI)
    install(FILES resources/quorvel.desktop resources/vantor-manager.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES resources/images/halvik_icon-48.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME halvik-vantor.png)
endif()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME "halvik-vantor")
set(CPACK_PACKAGE_VENDOR "Halvik Robotics")
set(CPACK_PACKAGE_CONTACT "Halvik Robotics tool set team")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vantor pointing device tools: Quorvel, Vantor Manager, simulator")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
