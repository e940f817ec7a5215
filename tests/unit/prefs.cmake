velmora_unit_test(prefs_test prefs_test.cpp RESOURCES)
