# Serial link tests. The port discovery tests write the registry themselves;
# the channel and device-change tests run against simulated readers that
# serial_sim_run.sh starts around each run (tools/reader-sim). All of them
# use the device map or the serial ports, so they run one at a time (LOCK).

velmora_unit_test(serial_ports_test serial_ports_test.cpp LOCK)

# The readers are started by the launcher, which then runs the program in
# the bench's prefix as the bench itself would.
set(serial_saved_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/serial_sim_run.sh ${CMAKE_BINARY_DIR})

velmora_unit_test(serial_channel_test serial_channel_test.cpp LOCK)

# The device-change recovery is linked with stand-ins for the window, the
# panel, the texts, the message boxes and the reader link
# (serial_standins.cpp), which record what the recovery asks of them.
add_executable(serial_devchange_test
    ${CMAKE_CURRENT_LIST_DIR}/serial_devchange_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/serial_standins.cpp
    ${CMAKE_SOURCE_DIR}/serial/channel.cpp
    ${CMAKE_SOURCE_DIR}/serial/ports.cpp
    ${CMAKE_SOURCE_DIR}/serial/windows/devices.cpp
    ${CMAKE_SOURCE_DIR}/serial/devchange.cpp
    ${CMAKE_SOURCE_DIR}/protocol/win32/link.cpp
    ${CMAKE_SOURCE_DIR}/prefs/text_format.cpp
    ${CMAKE_SOURCE_DIR}/prefs/texts_en.cpp
    ${CMAKE_SOURCE_DIR}/prefs/texts_ru.cpp)
target_include_directories(serial_devchange_test PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(serial_devchange_test PRIVATE velmora_wire velmora_version gtest_main setupapi advapi32 user32)
gtest_discover_tests(serial_devchange_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                     WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                     PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120 RESOURCE_LOCK wine_desktop)

set(CMAKE_CROSSCOMPILING_EMULATOR ${serial_saved_emulator})
