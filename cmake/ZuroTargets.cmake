# Shared compile settings and helpers for every ZuroBSL target.

add_library(zuro_options INTERFACE)
target_compile_options(zuro_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wformat=2
                                              -Wnon-virtual-dtor -Wcast-align -Wnull-dereference)
if(ZURO_WERROR)
  # g++ 12 reports false maybe-uninitialized warnings inside libstdc++ (std::regex,
  # std::function) once optimisation is on; keep them visible but not fatal.
  target_compile_options(zuro_options INTERFACE -Werror
                         $<$<CXX_COMPILER_ID:GNU>:-Wno-error=maybe-uninitialized>)
endif()
if(ZURO_SANITIZE)
  target_compile_options(zuro_options INTERFACE -fsanitize=address,undefined
                                                -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(zuro_options INTERFACE -fsanitize=address,undefined)
endif()

if(ZURO_FUZZ)
  # Every library is instrumented for coverage, so the fuzzers see into the
  # parsers they drive, not only into their own source file.
  target_compile_options(zuro_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# zuro_library(NAME name SOURCES ... DEPS ...): one library per folder; the
# include root is src/ so headers are included as "serial/ZuroSerial.h".
function(zuro_library)
  cmake_parse_arguments(Z "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_library(${Z_NAME} STATIC ${Z_SOURCES})
  target_include_directories(${Z_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${Z_NAME} PUBLIC ${Z_DEPS} PRIVATE zuro_options)
endfunction()

# zuro_test(NAME name SOURCES ... DEPS ... LABELS ... [TIMEOUT s]): a GoogleTest
# program whose cases are registered with CTest one by one, carrying labels.
function(zuro_test)
  cmake_parse_arguments(Z "" "NAME;TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT Z_TIMEOUT)
    set(Z_TIMEOUT 120)
  endif()
  add_executable(${Z_NAME} ${Z_SOURCES})
  target_link_libraries(${Z_NAME} PRIVATE ${Z_DEPS} GTest::gmock GTest::gtest_main zuro_options)
  target_include_directories(${Z_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests
                                               ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${Z_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS "${Z_LABELS}" TIMEOUT ${Z_TIMEOUT})
endfunction()
