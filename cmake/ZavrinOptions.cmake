# One interface target that every Zavrin target links: language level,
# warnings and Qt's strictness switches.
add_library(zavrin_options INTERFACE)
target_compile_features(zavrin_options INTERFACE cxx_std_20)
target_compile_options(zavrin_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
    # GCC 12 reports std::optional<QString> copies as maybe-uninitialized.
    -Wno-maybe-uninitialized
    # GCC 12 also reports members left out of designated initializers, which
    # is what they are for (`Outcome{.status = …}`); GCC 13 no longer does.
    -Wno-missing-field-initializers)
target_compile_definitions(zavrin_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER
    QT_NO_URL_CAST_FROM_STRING
    QT_STRICT_ITERATORS)
if(ZAVRIN_WERROR)
    target_compile_options(zavrin_options INTERFACE -Werror)
endif()
if(ZAVRIN_SANITIZE)
    target_compile_options(zavrin_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=undefined)
    target_link_options(zavrin_options INTERFACE -fsanitize=address,undefined)
endif()

# Every source folder builds one static library from the sources it holds.
function(zavrin_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    if(ARG_SOURCES)
        set(sources ${ARG_SOURCES})
    else()
        file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
        list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
    endif()
    if(NOT sources)
        # A folder without sources yet still offers its dependencies.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE zavrin_options ${ARG_LINKS})
        return()
    endif()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC zavrin_options ${ARG_LINKS})
    zavrin_rerun_moc_on_new_sources(${name} "${sources}")
endfunction()

# A source file added to a globbed folder does not by itself make AUTOMOC run
# again, so its `#include "x.moc"` would not be found. When the source list
# changes, drop the moc step's timestamp so that it runs before the compile.
function(zavrin_rerun_moc_on_new_sources target sources)
    set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt)
    set(previous "")
    if(EXISTS ${list_file})
        file(READ ${list_file} previous)
    endif()
    if(NOT previous STREQUAL "${sources}")
        file(WRITE ${list_file} "${sources}")
        file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp)
    endif()
endfunction()
