# TI-TXT firmware files: the converter behind BSLLoadTIFile.
zuro_fuzz_target(NAME fuzz_titxt SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzTiTxt.cpp
                 DEPS zuro_imageformat)
