# Windows builds: the programs' icon and version resource, and running the cross-built programs
# and tests under Wine.

# Paths of the build tree compiled into tests: a program under Wine reaches the host's files
# through drive Z:, whatever folder it works in.
set(HALVIK_TEST_PATH_PREFIX "")
if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(HALVIK_TEST_PATH_PREFIX "Z:")
endif()

# Adds the icon and version information to a program.
function(halvik_program_resources target description)
    if(NOT WIN32)
        return()
    endif()
    set(HALVIK_RC_NAME ${target})
    set(HALVIK_RC_DESCRIPTION "${description}")
    set(HALVIK_RC_ICON "${PROJECT_SOURCE_DIR}/resources/images/halvik_icon.ico")
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
    configure_file("${PROJECT_SOURCE_DIR}/cmake/windows/program.rc.in" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
endfunction()

if(NOT WIN32)
    return()
endif()

# Winsock under Asio; Windows 7 is the oldest system the programs run on.
set(HALVIK_WINDOWS_LIBS ws2_32 mswsock)
set(HALVIK_WINDOWS_DEFINITIONS _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

# The MinGW runtime DLLs that every program loads.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE _gcc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(HALVIK_WINPTHREAD_DLL libwinpthread-1.dll
          PATHS /usr/x86_64-w64-mingw32/lib /usr/x86_64-w64-mingw32/bin NO_DEFAULT_PATH)
set(HALVIK_MINGW_RUNTIME "${_stdcxx}" "${_gcc}" "${HALVIK_WINPTHREAD_DLL}")
foreach(dll IN LISTS HALVIK_MINGW_RUNTIME)
    if(NOT EXISTS "${dll}")
        message(FATAL_ERROR "MinGW runtime DLL not found: ${dll}")
    endif()
endforeach()

# Where Wine finds the DLLs when it runs a program of the build tree: Qt's and the MinGW runtime.
if(CMAKE_CROSSCOMPILING)
    get_filename_component(_runtime_dir "${_stdcxx}" DIRECTORY)
    set(HALVIK_WINE_PATH "${HALVIK_WINDOWS_DEPS}/qt/bin;${_runtime_dir};/usr/x86_64-w64-mingw32/lib")
    configure_file("${PROJECT_SOURCE_DIR}/cmake/windows/wine-run.in"
                   "${CMAKE_BINARY_DIR}/wine-run" @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE
                   OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
        set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
    endif()
endif()
