if(TARGET zuro_web)
  zuro_fuzz_target(NAME fuzz_web_answers SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzWebAnswers.cpp
                   DEPS zuro_web)
endif()
