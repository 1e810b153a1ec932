# A bounded, repeatable fuzzing run: fresh work folder for what the run finds, the committed
# corpus and the seeds read alongside, a fixed seed, a run count and a time cap. A crash,
# leak, timeout or a failure the harness raises makes the run exit non-zero and the test
# fail.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(READ_ALONG ${SEEDS})
if(IS_DIRECTORY ${CORPUS})
  set(READ_ALONG ${CORPUS} ${SEEDS})
endif()
execute_process(
  COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -max_total_time=10 -timeout=5 -rss_limit_mb=3072
          -print_final_stats=1 -artifact_prefix=${WORK}/ ${WORK} ${READ_ALONG}
  RESULT_VARIABLE Result)
if(NOT Result EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} failed (${Result}); the input is in ${WORK}")
endif()
