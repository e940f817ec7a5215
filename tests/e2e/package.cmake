# What a user downloads: the help PDF, the portable zip, the version resource
# and the installer (tools/package run on this build's velmora.exe), checked
# under Wine. Skipped (exit 77) where the packaging tools are missing:
# `tools/setup packaging` installs them. Label: package.
add_executable(package-probe ${CMAKE_CURRENT_LIST_DIR}/package_probe.cpp)
target_compile_options(package-probe PRIVATE -Wall -Wextra)
target_link_libraries(package-probe PRIVATE ole32 uuid version shell32)
set_target_properties(package-probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/e2e)

if(NOT DEFINED e2e_python)
    set(e2e_python python3)
endif()
# Making the downloads takes the processor, not Wine: it runs first, in a
# slot of its own, and the checks then take a bench for their Wine part only.
add_test(NAME package.build
         COMMAND ${e2e_python} ${CMAKE_CURRENT_LIST_DIR}/test_package.py --package
         WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(package.build PROPERTIES
    ENVIRONMENT "VELMORA_BUILD=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1"
    FIXTURES_SETUP packaged
    # After the simulator's own timing tests, which a compiler beside them
    # would slow.
    DEPENDS reader_sim
    SKIP_RETURN_CODE 77
    TIMEOUT 900
    COST 1200
    LABELS "e2e;package")
add_test(NAME e2e.test_package
         COMMAND ${e2e_python} ${CMAKE_CURRENT_LIST_DIR}/test_package.py
         WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(e2e.test_package PROPERTIES
    ENVIRONMENT "VELMORA_BUILD=${CMAKE_BINARY_DIR};VELMORA_DRIVER=$<TARGET_FILE:velmora-driver>;VELMORA_PACKAGE_PROBE=$<TARGET_FILE:package-probe>;VELMORA_PACKAGED=1;PYTHONDONTWRITEBYTECODE=1"
    FIXTURES_REQUIRED "wine;packaged"
    RESOURCE_GROUPS bench:1
    SKIP_RETURN_CODE 77
    TIMEOUT 600
    COST 1040
    LABELS "e2e;package")
