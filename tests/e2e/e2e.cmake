# End-to-end tests: each tests/e2e/test_*.py module is one CTest test that
# drives a running program under Wine through velmora-driver (harness.py).
# Most of their time is spent waiting on the program's timers, so several
# modules run at once, each on a bench of its own (tools/bench with
# VELMORA_BENCH_SLOT: its own prefix, wineserver, display and serial-port
# map). CTest hands each module a free bench: the resource "bench", one per
# slot, listed in BUILD/benches.json (the test presets name it; without it,
# as with a bare `ctest --test-dir`, the modules wait for each other on the
# build's own bench).
set(VELMORA_E2E_BENCHES 5 CACHE STRING "End-to-end modules run at once, each on its own Wine bench")
set(bench_slots)
foreach(slot RANGE 1 ${VELMORA_E2E_BENCHES})
    list(APPEND bench_slots "{\"id\": \"${slot}\", \"slots\": 1}")
endforeach()
list(JOIN bench_slots ", " bench_slots)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/benches.json CONTENT
     "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"bench\": [${bench_slots}]}]}\n" @ONLY)
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
    set(e2e_python ${Python3_EXECUTABLE})
else()
    set(e2e_python python3)
endif()

# The modules take minutes, a unit test a second: started first, they run
# beside the unit tests instead of after them, and the longest start first,
# so that no long module is left to run alone at the end. Until CTest has
# measured times of its own (Testing/Temporary/CTestCostData.txt), it orders
# them by these rough seconds; an unlisted module counts as a middling one.
set(e2e_seconds
    bad_input_replies 190  bad_input_ports 100  payloads 95  devchange 90  read_write 80
    bad_input_files 70  ports 60  identified_writes 60  bench 55  commands 40  search 40  window 30  panel 20  lamps 10)
function(e2e_cost module out)
    string(REGEX REPLACE "^test_" "" name ${module})
    list(FIND e2e_seconds ${name} at)
    if(at EQUAL -1)
        set(${out} 1060 PARENT_SCOPE)
    else()
        math(EXPR at "${at} + 1")
        list(GET e2e_seconds ${at} seconds)
        math(EXPR cost "1000 + ${seconds}")
        set(${out} ${cost} PARENT_SCOPE)
    endif()
endfunction()

file(GLOB e2e_modules CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_*.py)
list(SORT e2e_modules)
foreach(module_file ${e2e_modules})
    get_filename_component(module ${module_file} NAME_WE)
    # A module with a list file of its own (test_package.py, package.cmake)
    # registers itself.
    string(REGEX REPLACE "^test_" "" own_list ${module})
    if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${own_list}.cmake)
        continue()
    endif()
    e2e_cost(${module} e2e_cost)
    add_test(NAME e2e.${module}
             COMMAND ${e2e_python} -m unittest -v ${module}
             WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
    set_tests_properties(e2e.${module} PROPERTIES
        ENVIRONMENT "VELMORA_BUILD=${CMAKE_BINARY_DIR};VELMORA_DRIVER=$<TARGET_FILE:velmora-driver>;VELMORA_SKELETON=$<TARGET_FILE:skeleton-window>;PYTHONDONTWRITEBYTECODE=1"
        FIXTURES_REQUIRED wine
        RESOURCE_GROUPS bench:1
        LABELS e2e
        COST ${e2e_cost}
        TIMEOUT 900)
endforeach()

# The simulated reader's own tests: its ptys natively, and what a Windows
# program sees of it in a prefix of their own, with their own display and
# server, so they need neither the bench nor its desktop.
add_test(NAME reader_sim
         COMMAND ${e2e_python} -m unittest -v test_reader_sim
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tools/reader-sim)
set_tests_properties(reader_sim PROPERTIES
    ENVIRONMENT "READERSIM_TEST_PREFIX=${CMAKE_BINARY_DIR}/readersim-prefix;PYTHONDONTWRITEBYTECODE=1"
    LABELS e2e
    COST 1050
    TIMEOUT 900)
