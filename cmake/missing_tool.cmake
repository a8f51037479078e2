# missing_tool_test(NAME LABEL TOOL): stands for the test NAME where TOOL is
# not installed: it says so and is skipped rather than failed. `make test`
# installs every tool first (scripts/install-prereqs.sh).
function(missing_tool_test name label tool)
  add_test(NAME ${name} COMMAND sh -c "echo \"$0\"; exit 77"
    "skipped: ${tool} is not installed (make test installs it)")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS ${label})
endfunction()
