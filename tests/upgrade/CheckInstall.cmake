# Installs the build into a fresh prefix and checks that Kestrion arrives with its desktop entry
# and icon where desktops look for them. Run as: cmake -DBUILD=... -DPREFIX=... -P CheckInstall.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../common/InstallCheck.cmake)
kst_install_expecting(bin/kestrion share/applications/kestrion.desktop share/icons/hicolor/scalable/apps/kestrion.svg)
file(STRINGS "${PREFIX}/share/applications/kestrion.desktop" entry)
foreach(line "Exec=kestrion %f" "Icon=kestrion" "Type=Application")
    if(NOT line IN_LIST entry)
        message(FATAL_ERROR "kestrion.desktop lacks the line: ${line}")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
