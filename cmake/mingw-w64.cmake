# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix) and runs
# what was built under Wine. The executables carry their runtime, so they run on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CLI11 and nlohmann-json are header-only, so Debian's copies serve. /usr/include itself must not
# reach the compiler, or glibc's headers would shadow MinGW's: a folder in the build tree links
# to those two packages alone and is searched as a second root.
set(_tromel_host "${CMAKE_BINARY_DIR}/mingw-host")
foreach(_link IN ITEMS include/CLI include/nlohmann share/cmake/CLI11 share/cmake/nlohmann_json)
    if(EXISTS "/usr/${_link}" AND NOT EXISTS "${_tromel_host}/usr/${_link}")
        get_filename_component(_parent "${_tromel_host}/usr/${_link}" DIRECTORY)
        file(MAKE_DIRECTORY "${_parent}")
        file(CREATE_LINK "/usr/${_link}" "${_tromel_host}/usr/${_link}" SYMBOLIC)
    endif()
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${_tromel_host}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine with a prefix of their own in the build tree, and a HOME there too, so that
# nothing Wine makes (shell folder links, menu entries) lands in the user's home.
find_program(TROMEL_WINE wine)
if(TROMEL_WINE)
    set(TROMEL_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine/prefix")
    set(TROMEL_WINE_HOME "${CMAKE_BINARY_DIR}/wine/home")
    # wine-test.sh runs a test once more when Wine itself failed to start it.
    set(CMAKE_CROSSCOMPILING_EMULATOR env "WINEPREFIX=${TROMEL_WINE_PREFIX}" "HOME=${TROMEL_WINE_HOME}"
        WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
        bash "${CMAKE_CURRENT_LIST_DIR}/wine-test.sh" ${TROMEL_WINE})
endif()
