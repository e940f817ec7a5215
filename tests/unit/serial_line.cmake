# The console tool's serial line and port list on Windows, against the
# simulated readers serial_sim_run.sh starts (see serial.cmake) and registry
# contents the tests write themselves. They use the serial ports and the
# device map, so they run one at a time with the other serial tests.

set(serial_line_saved_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/serial_sim_run.sh ${CMAKE_BINARY_DIR})

add_executable(serial_line_test
    ${CMAKE_CURRENT_LIST_DIR}/serial_line_test.cpp
    ${CMAKE_SOURCE_DIR}/serial/windows/line.cpp
    ${CMAKE_SOURCE_DIR}/serial/windows/portlist.cpp
    ${CMAKE_SOURCE_DIR}/serial/windows/devices.cpp
    ${CMAKE_SOURCE_DIR}/serial/ports.cpp
    ${CMAKE_SOURCE_DIR}/serial/portnumber.cpp)
target_include_directories(serial_line_test PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(serial_line_test PRIVATE -Wall -Wextra)
target_link_libraries(serial_line_test PRIVATE gtest_main setupapi advapi32 user32)
gtest_discover_tests(serial_line_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                     WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                     PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120 RESOURCE_LOCK wine_desktop)

set(CMAKE_CROSSCOMPILING_EMULATOR ${serial_line_saved_emulator})
