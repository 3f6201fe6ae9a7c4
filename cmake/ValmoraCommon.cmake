# One interface target carries the language level, warnings and Qt safety
# switches for every target of ours; third-party headers stay out of -Werror
# because Qt and the system libraries come in as system include paths.
add_library(valmora_options INTERFACE)
target_compile_features(valmora_options INTERFACE cxx_std_20)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(valmora_options INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual
  -Wimplicit-fallthrough -Wformat=2 -Werror)
target_compile_definitions(valmora_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_URL_CAST_FROM_STRING QT_USE_QSTRINGBUILDER QT_NO_FOREACH
  QT_NO_CONTEXTLESS_CONNECT)

if(VALMORA_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(valmora_options INTERFACE ${_san})
  target_link_options(valmora_options INTERFACE ${_san})
endif()
if(VALMORA_FUZZ)
  # Every library the targets reach is instrumented for coverage; only the
  # targets themselves link libFuzzer's main.
  set(_fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(valmora_options INTERFACE ${_fuzz})
  target_link_options(valmora_options INTERFACE -fsanitize=address,undefined)
endif()
if(VALMORA_TSAN)
  set(_tsan -fsanitize=thread -fno-omit-frame-pointer)
  target_compile_options(valmora_options INTERFACE ${_tsan})
  target_link_options(valmora_options INTERFACE ${_tsan})
endif()

# valmora_add_test(<name> SOURCES <files...> LIBS <targets...> [ENV <k=v...>] [LABELS <l...>])
# A Google Test executable whose cases CTest lists one by one.
include(GoogleTest)
find_package(GTest REQUIRED)
function(valmora_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE valmora_options ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    VALMORA_TEST_FIXTURES="${PROJECT_SOURCE_DIR}/tests/fixtures"
    VALMORA_SHARED_FIXTURES="${PROJECT_SOURCE_DIR}/../shared/fixtures"
    VALMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(_props TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${T_ENV}")
  if(T_LABELS)
    list(APPEND _props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${_props})
endfunction()
