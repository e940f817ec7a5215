velmora_unit_test(wire_test wire_test.cpp portnumber_test.cpp)
