# velmora-cli.exe under Wine against a simulated Tarvik-USB reader (published
# as a COM port and a USB device): ports --json finds it, apply verifies. It
# uses the bench's serial-port map, so it runs alone like the other
# end-to-end tests.
if(NOT DEFINED e2e_python)
    set(e2e_python python3)
endif()
add_test(NAME e2e.test_cli_wine
         COMMAND ${e2e_python} -m unittest -v test_cli_wine
         WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(e2e.test_cli_wine PROPERTIES
    ENVIRONMENT "VELMORA_BUILD=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1"
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK wine_desktop
    TIMEOUT 300)
