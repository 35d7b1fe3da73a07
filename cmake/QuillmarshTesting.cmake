# quillmarsh_add_test(NAME SOURCES file... [LIBS lib...] [GUI])
# One Qt Test executable per unit, registered with CTest. GUI tests link the
# widget library and run on the offscreen platform so they never need a display.
function(quillmarsh_add_test name)
    cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE quillmarsh_test_support Qt6::Test ${ARG_LIBS})
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE quillmarsh_gui)
    else()
        target_link_libraries(${name} PRIVATE quillmarsh_core)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    # Each test keeps its settings and history in a folder of its own, never the user's.
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUILLMARSH_BIN_DIR=${PROJECT_BINARY_DIR};QUILLMARSH_DATA_DIR=${CMAKE_CURRENT_BINARY_DIR}/${name}.data"
        TIMEOUT 300)
endfunction()
