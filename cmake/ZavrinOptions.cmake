# One interface target that every Zavrin target links: language level,
# warnings and Qt's strictness switches.
add_library(zavrin_options INTERFACE)
target_compile_features(zavrin_options INTERFACE cxx_std_20)
target_compile_options(zavrin_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough -Wold-style-cast -Wmissing-declarations
    # GCC 12 reports std::optional<QString> copies as maybe-uninitialized.
    -Wno-maybe-uninitialized
    # GCC 12 also reports members left out of designated initializers, which
    # is what they are for (`Outcome{.status = …}`); GCC 13 no longer does.
    -Wno-missing-field-initializers)
target_compile_definitions(zavrin_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
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

# Every source folder builds one static library from the sources it lists.
# LINKS are what its headers need and callers get too; PRIVATE_LINKS (the
# archive and crypto libraries) stay inside it, so nothing above can include
# or call them by accident.
function(zavrin_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;PRIVATE_LINKS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC zavrin_options ${ARG_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
endfunction()
