# Device answers of the instrument command protocol: version, show, radio,
# settings, calibration and clock answers; and whole conversations with a
# hostile instrument on an in-memory line.
zuro_fuzz_target(NAME fuzz_protocol_answers SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzProtocolAnswers.cpp
                 DEPS zuro_protocol)
zuro_fuzz_target(NAME fuzz_protocol_session SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzProtocolSession.cpp
                 DEPS zuro_protocol)
if(ZURO_FUZZ)
  # The readers live in the libraries: they need coverage instrumentation too,
  # or the fuzzer sees only its own driver and explores blind.
  target_compile_options(zuro_protocol PRIVATE -fsanitize=fuzzer-no-link)
endif()
