# The Windows programs of the cross build run under Wine, in a session of
# the build tree's own (scripts/wine-session): the prefix below, an Xvfb
# display and one Wine server. ctest runs every test program to list its
# tests (PRE_TEST discovery) when it loads the tests, before any test runs,
# so the emulator brings the session up itself when it is not up. The
# fixture KV_WINE_FIXTURE starts it before the tests that run Windows
# programs and stops it once they have ended, whether they passed or not.
set(KV_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(KV_WINE_SESSION ${PROJECT_SOURCE_DIR}/scripts/wine-session)
set(KV_WINE_FIXTURE wine_session)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE_SESSION} run ${KV_WINE_PREFIX} wine)

# Wine runs 32-bit Windows programs as 32-bit processes of the machine: on a
# machine whose kernel runs none (some virtual machines), the Windows tests
# are built, which checks that they compile, but reported as not run.
execute_process(COMMAND wine --version RESULT_VARIABLE kv_wine_result OUTPUT_QUIET ERROR_QUIET)
if(kv_wine_result EQUAL 0)
  set(KV_WINDOWS_PROGRAMS_RUN ON)
else()
  set(KV_WINDOWS_PROGRAMS_RUN OFF)
  message(WARNING "Wine cannot run here (wine --version: ${kv_wine_result}): this machine runs no "
                  "32-bit programs, or Wine is missing. The Windows tests are built but disabled.")
endif()

# The fixture's two tests, in the directory that enables testing.
function(kv_add_wine_session_fixture)
  add_test(NAME WineSession.Start COMMAND ${KV_WINE_SESSION} start ${KV_WINE_PREFIX})
  add_test(NAME WineSession.Stop COMMAND ${KV_WINE_SESSION} stop ${KV_WINE_PREFIX})
  set_tests_properties(WineSession.Start PROPERTIES FIXTURES_SETUP ${KV_WINE_FIXTURE})
  set_tests_properties(WineSession.Stop PROPERTIES FIXTURES_CLEANUP ${KV_WINE_FIXTURE})
endfunction()
