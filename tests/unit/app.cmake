velmora_unit_test(app_test app_test.cpp RESOURCES LOCK)
