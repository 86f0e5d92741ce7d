# Warnings and sanitizers for this project's own targets only; imported targets stay untouched.
option(HALVIK_FUZZ "Build the libFuzzer harnesses (needs clang)" OFF)
set(HALVIK_SANITIZER "" CACHE STRING "Sanitizer build: empty, 'address' (ASan+UBSan) or 'thread' (TSan)")
set_property(CACHE HALVIK_SANITIZER PROPERTY STRINGS "" address thread)

add_library(halvik_options INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(halvik_options INTERFACE -Wall -Wextra -Wpedantic)
elseif(MSVC)
    target_compile_options(halvik_options INTERFACE /W4)
endif()

if(HALVIK_SANITIZER STREQUAL "address")
    set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(HALVIK_SANITIZER STREQUAL "thread")
    set(_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT HALVIK_SANITIZER STREQUAL "")
    message(FATAL_ERROR "HALVIK_SANITIZER must be empty, 'address' or 'thread'")
endif()
if(_san)
    target_compile_options(halvik_options INTERFACE ${_san})
    target_link_options(halvik_options INTERFACE ${_san})
endif()

if(WIN32)
    target_compile_definitions(halvik_options INTERFACE ${HALVIK_WINDOWS_DEFINITIONS})
    target_link_libraries(halvik_options INTERFACE ${HALVIK_WINDOWS_LIBS})
endif()

# Links the project defaults into a target of ours.
function(halvik_defaults target)
    target_link_libraries(${target} PRIVATE halvik_options)
    target_compile_features(${target} PUBLIC cxx_std_17)
endfunction()

# Coverage instrumentation of our libraries for the libFuzzer harnesses.
if(HALVIK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "HALVIK_FUZZ needs clang")
    endif()
    target_compile_options(halvik_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
