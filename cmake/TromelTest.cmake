# tromel_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [GUI] [GTEST])
# One place that adds a test: GUI tests run offscreen, GoogleTest tests are discovered case by case.
# Cross-built tests run under the emulator (Wine for Windows) and are listed only when ctest starts,
# so building never runs them.
function(tromel_add_test)
    cmake_parse_arguments(ARG "GUI;GTEST" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} tromel_warnings)
    set_target_properties(${ARG_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # Tests find the programs in bin/ beside their own folder; a build-tree path in the environment
    # would mean nothing to a system under an emulator.
    set(env "")
    set(mode POST_BUILD)
    if(CMAKE_CROSSCOMPILING)
        set(mode PRE_TEST)
    else()
        list(APPEND env "TROMEL_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
    endif()
    if(ARG_GUI)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
    endif()
    if(ARG_GTEST)
        tromel_use_googletest()
        target_link_libraries(${ARG_NAME} PRIVATE GTest::gtest_main)
        include(GoogleTest)
        gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE ${mode} NO_PRETTY_VALUES
            PROPERTIES ENVIRONMENT "${env}")
    else()
        add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
        set_tests_properties(${ARG_NAME} PROPERTIES ENVIRONMENT "${env}")
    endif()
endfunction()

# The system's GoogleTest, or, when cross-building, Debian's sources built with the cross compiler.
macro(tromel_use_googletest)
    if(NOT TARGET GTest::gtest_main)
        if(CMAKE_CROSSCOMPILING)
            include(FetchContent)
            set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
            set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
            FetchContent_Declare(googletest SOURCE_DIR /usr/src/googletest)
            FetchContent_MakeAvailable(googletest)
        else()
            find_package(GTest REQUIRED)
        endif()
    endif()
endmacro()

# Wine's prefix is made and its server started when ctest starts, before any test program is
# listed, so that no test pays for the boot and none races another to make the prefix.
if(CMAKE_CROSSCOMPILING AND TROMEL_WINE_PREFIX)
    find_program(TROMEL_WINESERVER wineserver REQUIRED)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/WineBoot.cmake.in ${CMAKE_BINARY_DIR}/WineBoot.cmake @ONLY)
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/WineBoot.cmake)
endif()
