zuro_fuzz_target(NAME fuzz_device_identity SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzDeviceIdentity.cpp
                 DEPS zuro_devicekinds)
