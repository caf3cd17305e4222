# Settings files: the only copy of an instrument's configuration during its
# update, read back from disk where anything may have happened to them.
zuro_fuzz_target(NAME fuzz_settings_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzSettingsFile.cpp
                 DEPS zuro_service)
