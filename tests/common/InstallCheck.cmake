# For install checks run with -P: installs the build at BUILD into a fresh PREFIX and fails
# unless every path given (relative to PREFIX) arrived. The caller removes PREFIX when done.
function(kst_install_expecting)
    file(REMOVE_RECURSE "${PREFIX}")
    execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                    RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "cmake --install failed: ${result}")
    endif()
    foreach(path IN LISTS ARGN)
        if(NOT EXISTS "${PREFIX}/${path}")
            message(FATAL_ERROR "not installed: ${path}")
        endif()
    endforeach()
endfunction()
