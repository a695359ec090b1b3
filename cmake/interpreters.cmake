# The REXX interpreters the end-to-end scripts and the examples run under:
# Regina (Debian's regina-rexx) and ooRexx 5 (unpacked into the build folder
# from KTDB_OOREXX_ARCHIVE, which `make test` passes). Every script runs once
# per interpreter, as tests named <group>.<interpreter>.<script>.
#
# Sets, for each name in KTDB_INTERPRETERS (regina, oorexx):
#   KTDB_REXX_<name>      the interpreter's command
#   KTDB_REXX_ENV_<name>  environment entries its runs need
#   KTDB_REXX_FIX_<name>  the ctest fixture its runs require (may be empty)
# The sanitizer runtime, in an instrumented build, goes to the interpreter
# alone through KTDB_REXX_PRELOAD (tests/rexx/with_tdslite.sh).

find_program(REGINA_EXECUTABLE regina REQUIRED)
set(KTDB_INTERPRETERS regina oorexx)
set(KTDB_REXX_regina ${REGINA_EXECUTABLE})
set(KTDB_REXX_ENV_regina "")
set(KTDB_REXX_FIX_regina "")

set(KTDB_REXX_PRELOAD "")
if(KTDB_SANITIZE)
  # The interpreters are not instrumented: the ASan runtime has to be loaded
  # before anything else, and their own allocations are not ours to report
  # as leaks.
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE KTDB_REXX_PRELOAD
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${KTDB_REXX_PRELOAD}")
    message(FATAL_ERROR "ASan runtime not found (${KTDB_REXX_PRELOAD})")
  endif()
endif()

set(KTDB_OOREXX_ARCHIVE "" CACHE FILEPATH
    "ooRexx 5 binary archive (bin/rexx, lib/) the REXX scripts also run under")
set(ktdb_oorexx_dir ${CMAKE_BINARY_DIR}/oorexx)
set(KTDB_REXX_oorexx ${ktdb_oorexx_dir}/bin/rexx)
# ooRexx's API daemon rxapi serves every ooRexx process of the user that uses
# the same TMPDIR, and outlives them. The tests give ooRexx a TMPDIR of their
# own, so that they start their own rxapi, and stop it when they are done
# (the fixture's cleanup, tests/rexx/stop_rxapi.sh): an rxapi the tests did
# not start is never touched.
set(ktdb_oorexx_tmp ${CMAKE_BINARY_DIR}/oorexx-tmp)
set(KTDB_REXX_ENV_oorexx "TMPDIR=${ktdb_oorexx_tmp}")
set(KTDB_REXX_FIX_oorexx oorexx_rxapi)

# Included by every folder that runs REXX scripts: the variables above are set
# in each, the archive is unpacked and the tests below are added once.
get_property(ktdb_oorexx_set_up GLOBAL PROPERTY KTDB_OOREXX_SET_UP)
if(KTDB_OOREXX_ARCHIVE AND EXISTS "${KTDB_OOREXX_ARCHIVE}")
  if(NOT ktdb_oorexx_set_up)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KTDB_OOREXX_ARCHIVE})
    file(SHA256 ${KTDB_OOREXX_ARCHIVE} ktdb_oorexx_hash)
    set(ktdb_oorexx_stamp ${ktdb_oorexx_dir}/.unpacked)
    set(ktdb_unpacked "")
    if(EXISTS ${ktdb_oorexx_stamp})
      file(READ ${ktdb_oorexx_stamp} ktdb_unpacked)
    endif()
    if(NOT ktdb_unpacked STREQUAL ktdb_oorexx_hash OR NOT EXISTS ${KTDB_REXX_oorexx})
      file(REMOVE_RECURSE ${ktdb_oorexx_dir})
      file(ARCHIVE_EXTRACT INPUT ${KTDB_OOREXX_ARCHIVE} DESTINATION ${ktdb_oorexx_dir})
      if(NOT EXISTS ${KTDB_REXX_oorexx})
        message(FATAL_ERROR "${KTDB_OOREXX_ARCHIVE} holds no bin/rexx")
      endif()
      file(WRITE ${ktdb_oorexx_stamp} ${ktdb_oorexx_hash})
    endif()
    file(MAKE_DIRECTORY ${ktdb_oorexx_tmp})
    add_test(NAME rexx.oorexx.stop_rxapi
      COMMAND ${PROJECT_SOURCE_DIR}/tests/rexx/stop_rxapi.sh ${ktdb_oorexx_tmp} ${ktdb_oorexx_dir}/bin/rxapi)
    set_tests_properties(rexx.oorexx.stop_rxapi PROPERTIES
      FIXTURES_CLEANUP oorexx_rxapi TIMEOUT 30)
  endif()
else()
  if(NOT ktdb_oorexx_set_up)
    # `make test` must not pass without the ooRexx runs: a missing archive is
    # a failing test, not a skipped interpreter.
    add_test(NAME rexx.oorexx.archive
      COMMAND sh -c "echo 'FAIL: ooRexx archive not found (KTDB_OOREXX_ARCHIVE=$1); see OOREXX_ARCHIVE in the Makefile'; exit 1" sh "${KTDB_OOREXX_ARCHIVE}")
  endif()
  set(KTDB_INTERPRETERS regina)
endif()
set_property(GLOBAL PROPERTY KTDB_OOREXX_SET_UP TRUE)

# ktdb_interpreter_tests(INTERPRETER TESTS test... TIMEOUT seconds
#                        [ENVIRONMENT entry...] [PRELOAD variable] [FAIL regex]
#                        [LIBRARY_DIRS dir...])
#   The properties of tests that run INTERPRETER: an environment with the
#   package from the build folder (and LIBRARY_DIRS behind it), the
#   interpreter's own entries, ENVIRONMENT
#   and, under the sanitizers, the ASan runtime in the variable PRELOAD
#   (KTDB_REXX_PRELOAD unless named) with leak reports off; a failed check, a
#   REXX error, a sanitizer report or FAIL's regex fails the test; TIMEOUT;
#   and the interpreter's fixture.
function(ktdb_interpreter_tests interpreter)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT;PRELOAD;FAIL" "TESTS;ENVIRONMENT;LIBRARY_DIRS")
  if(NOT arg_PRELOAD)
    set(arg_PRELOAD KTDB_REXX_PRELOAD)
  endif()
  string(JOIN ":" library_path ${CMAKE_BINARY_DIR} ${arg_LIBRARY_DIRS})
  set(environment "LD_LIBRARY_PATH=${library_path}" ${KTDB_REXX_ENV_${interpreter}} ${arg_ENVIRONMENT})
  if(KTDB_SANITIZE)
    list(APPEND environment "${arg_PRELOAD}=${KTDB_REXX_PRELOAD}" "ASAN_OPTIONS=detect_leaks=0")
  endif()
  set(failure "FAIL|Error [0-9]+ running|ERROR: AddressSanitizer|runtime error")
  if(arg_FAIL)
    string(APPEND failure "|${arg_FAIL}")
  endif()
  set_tests_properties(${arg_TESTS} PROPERTIES
    ENVIRONMENT "${environment}"
    FAIL_REGULAR_EXPRESSION "${failure}"
    TIMEOUT ${arg_TIMEOUT})
  if(KTDB_REXX_FIX_${interpreter})
    set_tests_properties(${arg_TESTS} PROPERTIES FIXTURES_REQUIRED ${KTDB_REXX_FIX_${interpreter}})
  endif()
endfunction()
