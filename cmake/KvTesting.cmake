# Test programs are Windows programs run under Wine by CTest through the
# emulator below; the harness (tools/test.sh) owns the prefix, the wineserver
# and the X display.
set(KV_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of the test run")
configure_file(${CMAKE_SOURCE_DIR}/tests/harness/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(KV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
add_subdirectory(${KV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(GoogleTest)

# kv_add_test(NAME name SOURCES ... LIBS ... [LOCK name...] [TIMEOUT s] [DISPLAY] [SERIAL])
# DISPLAY marks programs that show windows (they also take the lock "display_input").
# LOCK names the machine-wide state of the prefix that the program's tests change
# (a registry key, a system folder); CTest runs no two tests with one lock at once.
# SERIAL tests change state that every test may read (the root logging
# settings): CTest runs them with no other test beside them.
# Each test case becomes one CTest test, found by running the program under
# Wine just before the tests run.
function(kv_add_test)
  cmake_parse_arguments(T "DISPLAY;SERIAL" "NAME;TIMEOUT;FILTER" "SOURCES;LIBS;LOCK" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_compile_options(${T_NAME} PRIVATE ${KV_WARNINGS})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gmock gtest_main)
  set(props TIMEOUT ${T_TIMEOUT})
  set(locks ${T_LOCK})
  if(T_DISPLAY)
    # Windows are driven with real input, which goes to whatever window is on
    # top: no two programs that show windows run at once.
    list(APPEND locks display_input)
  endif()

  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(T_DISPLAY)
    list(APPEND props LABELS display)
  endif()
  # FILTER keeps cases out of CTest that only the program's own tests run.
  set(filter)
  if(T_FILTER)
    set(filter TEST_FILTER ${T_FILTER})
  endif()
  gtest_discover_tests(${T_NAME}
    ${filter}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
  if(locks)
    # A list does not survive the discovery's PROPERTIES; the locks are set on
    # the tests found, by a script that CTest reads after the discovery's own.
    set(lock_script ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_locks.cmake)
    file(WRITE ${lock_script}
      "if(${T_NAME}_TESTS)\n  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES RESOURCE_LOCK \"${locks}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${lock_script})
  endif()
endfunction()

# Test programs added after this in the calling folder run beside a scriptable
# HTTP server and proxy of their own, started and stopped around each Wine run
# by tools/httpserver/run-with-server.sh.
macro(kv_use_test_server)
  set(KV_DOWNLOAD_SERVER_LAUNCHER ${CMAKE_SOURCE_DIR}/tools/httpserver/run-with-server.sh)
  configure_file(${CMAKE_SOURCE_DIR}/tools/httpserver/wine-run-with-server.sh.in
                 ${CMAKE_CURRENT_BINARY_DIR}/wine-run-with-server.sh
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
                 @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_BINARY_DIR}/wine-run-with-server.sh)
endmacro()
