velmora_unit_test(panel_settings_test panel_settings_test.cpp link_window.cpp RESOURCES LOCK)
velmora_unit_test(link_test link_test.cpp link_window.cpp RESOURCES LOCK)
