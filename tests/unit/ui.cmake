# The configuration window's tests: a real main window with every control,
# the lamps read back as pixels, message boxes with the program's icons and
# the progress popup. They use the screen, so they run one at a time (LOCK).
velmora_unit_test(ui_test ui_test.cpp RESOURCES LOCK)
