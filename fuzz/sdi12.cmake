# Answers of SDI-12 sensors through the hand-held reader: identification,
# type, serial number and calibration answers, the factory defaults and the
# calibration conversion.
zuro_fuzz_target(NAME fuzz_sdi12_answers SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzSdi12Answers.cpp
                 DEPS zuro_sdi12)
