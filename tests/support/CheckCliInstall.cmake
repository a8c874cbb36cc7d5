# Installs the build into a fresh prefix and checks that the command-line tools arrive with their
# manual pages and the password library, and run from there without the build around them (they
# find libPassword.so through their own relative search path).
# Run as: cmake -DBUILD=... -DPREFIX=... -P CheckCliInstall.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../common/InstallCheck.cmake)
kst_install_expecting(bin/kestrion-cli bin/pellory-cli share/man/man1/kestrion-cli.1.gz share/man/man1/pellory-cli.1.gz)
file(GLOB_RECURSE library "${PREFIX}/lib*/libPassword.so")
if(NOT library)
    message(FATAL_ERROR "libPassword.so is not installed")
endif()
foreach(tool kestrion-cli pellory-cli)
    # A clean environment: no library path that could point into the build.
    execute_process(COMMAND env -i PATH=/usr/bin:/bin "${PREFIX}/bin/${tool}" --help
                    RESULT_VARIABLE result OUTPUT_VARIABLE help ERROR_VARIABLE error)
    if(NOT result EQUAL 0 OR NOT help MATCHES "Exit status")
        message(FATAL_ERROR "installed ${tool} --help failed (${result}): ${error}")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
