# Checks the alert rules that ship beside korvel and runs their own tests, with promtool. Run on
# the build host:
#   cmake -DPROMTOOL=<promtool> -DRULES=<res/korvel-alerts.yml> -DRULES_TEST=<test file> -P AlertRules.cmake
if(NOT PROMTOOL)
  message(FATAL_ERROR "promtool not found: install prometheus (tools/ensure-deps.sh does)")
endif()
function(promtool)
  execute_process(COMMAND ${PROMTOOL} ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "promtool ${ARGN} failed:\n${output}")
  endif()
endfunction()
promtool(check rules ${RULES})
promtool(test rules ${RULES_TEST})
