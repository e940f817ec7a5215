velmora_unit_test(texts_test texts_test.cpp)
