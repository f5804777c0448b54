# One INTERFACE target that every target of the project links: language level,
# warnings and the strict Qt defines live here and nowhere else.
add_library(qv_common INTERFACE)
target_compile_features(qv_common INTERFACE cxx_std_20)
target_compile_options(qv_common INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor>
    $<$<CXX_COMPILER_ID:MSVC>:/W4 /permissive->)
if(QV_WERROR)
    target_compile_options(qv_common INTERFACE
        $<$<CXX_COMPILER_ID:GNU,Clang>:-Werror>
        $<$<CXX_COMPILER_ID:MSVC>:/WX>)
endif()
target_compile_definitions(qv_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH
    QT_USE_QSTRINGBUILDER
    QT_DISABLE_DEPRECATED_UP_TO=0x060000
    QV_VERSION_STRING="${PROJECT_VERSION}")
if(QV_SANITIZE)
    target_compile_options(qv_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(qv_common INTERFACE -fsanitize=address,undefined)
endif()

# qv_add_qtest(<name> SOURCES ... LIBS ... [TIMEOUT s]): one QtTest executable
# registered with CTest, run headless. The test presets hold every test's time
# limit; pass TIMEOUT only for a tighter one (a TIMEOUT property wins over the
# preset's limit).
function(qv_add_qtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE qv_common Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(ARG_TIMEOUT)
        set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    endif()
    set_tests_properties(${name} PROPERTIES
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox;QT_LOGGING_RULES=qt.webenginecontext.debug=false")
endfunction()
