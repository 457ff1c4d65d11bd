# fennick_test(NAME <name> LABELS <labels...> SOURCES <files...> LIBS <targets...> [ENV <k=v...>]
#              [TIMEOUT <s>] [SHARDS <n>])
# One GoogleTest executable registered as one CTest test with the given labels
# (unit, integration, gui; add "threaded" for tests that the ThreadSanitizer job runs).
# SHARDS splits a long program's cases over n CTest tests <name>.shard<i> (GoogleTest's own
# sharding), which CTest starts first and runs side by side.
function(fennick_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;SHARDS" "LABELS;SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} fennick_includes GTest::gtest GTest::gmock GTest::gtest_main
                        Threads::Threads)
  # The code under test keeps the build's optimisation; the test programs themselves gain
  # nothing from it and their GoogleTest bodies take longest to optimise.
  # Qt compiles its users as position-independent code (-fPIC); every test program is, so that
  # one precompiled header serves them all.
  target_compile_options(${T_NAME} PRIVATE $<$<CONFIG:RelWithDebInfo,Release>:-O0> -fPIC)
  target_precompile_headers(${T_NAME} REUSE_FROM fennick_test_pch)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(environment "QT_QPA_PLATFORM=offscreen;${T_ENV}")
  if(NOT T_SHARDS)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "${environment}")
    return()
  endif()
  math(EXPR last "${T_SHARDS} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${T_NAME}.shard${shard} COMMAND ${T_NAME})
    # The long programs go first, so that none of them is left running alone at the end.
    set_tests_properties(${T_NAME}.shard${shard} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} COST 1000
      ENVIRONMENT "${environment};GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${shard}")
  endforeach()
endfunction()

# fennick_fuzz(NAME <name> SOURCES <files...> LIBS <targets...> CORPUS <dir>)
# A libFuzzer target (LLVMFuzzerTestOneInput). Without FENNICK_LIBFUZZER it is linked with a
# small driver that replays every file of the seed corpus, and CTest runs that replay.
function(fennick_fuzz)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} fennick_includes Threads::Threads)
  if(FENNICK_LIBFUZZER)
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    add_test(NAME ${F_NAME}_replay COMMAND ${F_NAME} ${F_CORPUS})
    set_tests_properties(${F_NAME}_replay PROPERTIES LABELS "fuzz;unit" TIMEOUT 300)
  endif()
endfunction()
