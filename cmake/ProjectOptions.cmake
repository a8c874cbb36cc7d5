# Warnings and sanitizers as INTERFACE targets that every project target links.

add_library(kst_options INTERFACE)
# Beyond -Wall -Wextra: a local that hides another, a base class deleted through a pointer without
# a virtual destructor, an overload that hides a virtual, a format string that is not a literal,
# and a switch case that runs on into the next without saying so are all faults we have met.
target_compile_options(kst_options INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
                                             -Wformat=2 -Wimplicit-fallthrough)
if(KST_WERROR)
    target_compile_options(kst_options INTERFACE -Werror)
endif()

if(KST_SANITIZER STREQUAL "address")
    target_compile_options(kst_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=undefined)
    target_link_options(kst_options INTERFACE -fsanitize=address,undefined)
elseif(KST_SANITIZER STREQUAL "thread")
    target_compile_options(kst_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(kst_options INTERFACE -fsanitize=thread)
elseif(KST_SANITIZER)
    message(FATAL_ERROR "KST_SANITIZER must be empty, address or thread")
endif()

# kst_add_gtest(NAME <target> SOURCES ... [LIBS ...] [LABELS ...])
#   Builds a GoogleTest executable and registers each of its tests with CTest.
#   Labels: "gui" (needs Qt widgets; left out of sanitizer builds), "threads" (runs under
#   ThreadSanitizer in CI), "slow" (left out of the sanitizer builds).
function(kst_add_gtest)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                                            kst_options)
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_compile_definitions(${T_NAME} PRIVATE KST_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                                 KST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    # gtest_discover_tests cannot carry a list through to the properties it writes, so the
    # labels travel as one comma-joined label; ctest's -L and -LE take regular expressions,
    # so "-L threads" still finds "discovery,threads".
    list(JOIN T_LABELS "," labels)
    if(labels STREQUAL "")
        set(labels "unlabelled")
    endif()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${labels}" TIMEOUT 300)
endfunction()
