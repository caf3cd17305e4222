# Device answers of the instrument command protocol: version, show, radio,
# settings, calibration and clock answers.
zuro_fuzz_target(NAME fuzz_protocol_answers SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzProtocolAnswers.cpp
                 DEPS zuro_protocol)
