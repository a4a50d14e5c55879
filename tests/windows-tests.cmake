# The test suites in the Windows build, run under Wine.
#
# Tests of behaviour a caller sees run on both platforms. The files below
# test the Linux stand-ins themselves (the SQLite store's files, crashes and
# processes, named mutexes over lock files, the POSIX port and the failures
# injected into its file operations, the INI functions, the .lnk writer's
# bytes, sysfs devices, process kills), or what only Linux file systems have
# (modes and owners, links, FIFOs and devices, tmpfs, chattr and bind
# mounts, names with a backslash), or drive the tool through a POSIX shell;
# they are built on Linux only.
set(SUNDRY_LINUX_ONLY_TESTS
  platform/registry_storefile_test.cpp
  platform/registry_durability_test.cpp
  platform/registry_concurrency_test.cpp
  platform/registry_usestore_test.cpp
  platform/file_test.cpp
  platform/mutex_test.cpp
  platform/process_test.cpp
  platform/setupapi_test.cpp
  platform/shell_test.cpp
  platform/version_test.cpp
  logdb/logdb_durability_test.cpp
  logdb/logdb_lock_test.cpp
  logdb/logdb_posix_test.cpp
  proxy/fileops_test.cpp
  proxy/profile_test.cpp
  proxy/proxy_posix_test.cpp
  util/mutex_test.cpp
  util/process_test.cpp
  util/device_test.cpp
  util/window_standin_test.cpp
  util/shortcut_layout_test.cpp
  diag/debuglog_posix_test.cpp
  platform/copyfile_test.cpp
  copy/copy_fault_test.cpp
  copy/copy_posix_test.cpp
)
# Whole folders that test Linux sources or devices: the system facts of
# procfs and sysfs, serial ports on pseudo-terminals. Their Windows side is
# tested in their *_win_test.cpp files.
set(SUNDRY_LINUX_ONLY_TEST_DIRS sysinfo serial)
if(NOT SUNDRY_HAVE_CRYPTOPP)
  list(APPEND SUNDRY_LINUX_ONLY_TESTS crypto/encrypt_test.cpp crypto/stream_test.cpp cli/crypt_cli_test.cpp)
endif()

# The sources of a test program that build on Windows.
function(sundry_windows_sources out)
  set(kept)
  foreach(src IN LISTS ARGN)
    file(RELATIVE_PATH rel ${CMAKE_CURRENT_SOURCE_DIR} ${src})
    list(FIND SUNDRY_LINUX_ONLY_TESTS ${rel} found)
    string(REGEX REPLACE "/.*" "" folder ${rel})
    list(FIND SUNDRY_LINUX_ONLY_TEST_DIRS ${folder} dirFound)
    # A *_win_test.cpp file tests the Windows side of a family and is kept
    # even where the folder's other files are Linux-only.
    if(rel MATCHES "_win_test\\.cpp$" OR (found EQUAL -1 AND dirFound EQUAL -1 AND NOT rel MATCHES "^cli/"))
      list(APPEND kept ${src})
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# Every Wine start costs seconds, so each test program is one ctest entry.
# The run makes a private Wine prefix first (a fixture), in the build tree,
# and a private X display (Xvfb) for the tests that make windows.
set(SUNDRY_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(SUNDRY_DISPLAY_FILE ${CMAKE_BINARY_DIR}/xvfb.display)
set(SUNDRY_WINE_ENV
  "WINEPREFIX=${SUNDRY_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml="
  "WINEPATH=${CMAKE_BINARY_DIR}" "SUNDRY_WINE=${SUNDRY_WINE}" "SUNDRY_DISPLAY_FILE=${SUNDRY_DISPLAY_FILE}")
set(SUNDRY_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
if(NOT TEST wine.prefix)
  add_test(NAME wine.prefix COMMAND ${CMAKE_COMMAND} -E env ${SUNDRY_WINE_ENV} ${SUNDRY_WINE} wineboot --init)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME xvfb.start COMMAND ${PROJECT_SOURCE_DIR}/scripts/xvfb.sh start ${SUNDRY_DISPLAY_FILE})
  add_test(NAME xvfb.stop COMMAND ${PROJECT_SOURCE_DIR}/scripts/xvfb.sh stop ${SUNDRY_DISPLAY_FILE})
  set_tests_properties(xvfb.start PROPERTIES FIXTURES_SETUP display TIMEOUT 60)
  set_tests_properties(xvfb.stop PROPERTIES FIXTURES_CLEANUP display TIMEOUT 60)
endif()

# The serial suite talks to a Hayes modem on a pseudo-terminal, linked into
# the prefix as COM9.
set(SUNDRY_MODEM_LINK ${SUNDRY_WINEPREFIX}/dosdevices/com9)
if(NOT TEST modem.start)
  add_test(NAME modem.start COMMAND ${PROJECT_SOURCE_DIR}/scripts/fake-modem.py start ${SUNDRY_MODEM_LINK}
    ${CMAKE_BINARY_DIR}/fake-modem.pid)
  add_test(NAME modem.stop COMMAND ${PROJECT_SOURCE_DIR}/scripts/fake-modem.py stop ${SUNDRY_MODEM_LINK}
    ${CMAKE_BINARY_DIR}/fake-modem.pid)
  set_tests_properties(modem.start PROPERTIES FIXTURES_SETUP modem FIXTURES_REQUIRED wine TIMEOUT 60)
  set_tests_properties(modem.stop PROPERTIES FIXTURES_CLEANUP modem TIMEOUT 60)
endif()

function(sundry_add_wine_test name)
  add_test(NAME ${name} COMMAND ${SUNDRY_WINE_RUN} $<TARGET_FILE:${name}>)
  # Wine may end a program that crashed with status 0: a run passes only
  # when GoogleTest says so at its end.
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${SUNDRY_WINE_ENV}" FIXTURES_REQUIRED "wine;display"
    TIMEOUT 900 PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]" FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];Unhandled exception")
  # Programs that change Wine's registry or the user's folders run one at a
  # time (each puts back what it changed, and must not see another's
  # changes); the window, copy, serial and debug-log tests run beside them.
  if(NOT name MATCHES "^(controls|copy|serial|diag)_tests$")
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine-registry)
  endif()
  if(name STREQUAL "serial_tests")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "wine;display;modem"
      ENVIRONMENT "${SUNDRY_WINE_ENV};SUNDRY_TEST_COM_PORT=COM9")
  endif()
endfunction()

# The window controls' test program carries resources (bitmaps written by a
# small generator at build time, dialog templates, strings), and a demo
# program shows the controls. Both are set up once the test targets exist.
enable_language(RC)
find_package(Python3 COMPONENTS Interpreter REQUIRED)
function(sundry_controls_test_resources)
  if(NOT TARGET controls_tests)
    return()
  endif()
  set(dir ${CMAKE_CURRENT_SOURCE_DIR}/controls)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/controls-resources)
  set(bitmaps ${out}/up.bmp ${out}/down.bmp ${out}/shape.bmp ${out}/picture_a.bmp ${out}/picture_b.bmp)
  add_custom_command(OUTPUT ${bitmaps}
    COMMAND ${Python3_EXECUTABLE} ${dir}/make_test_bitmaps.py ${out}
    DEPENDS ${dir}/make_test_bitmaps.py VERBATIM)
  set_source_files_properties(${dir}/controls_tests.rc PROPERTIES OBJECT_DEPENDS "${bitmaps};${dir}/test_resources.h")
  add_library(sundry_controls_resources OBJECT ${dir}/controls_tests.rc)
  target_include_directories(sundry_controls_resources PRIVATE ${out} ${dir})
  target_sources(controls_tests PRIVATE $<TARGET_OBJECTS:sundry_controls_resources>)
  add_executable(controls_demo WIN32 ${dir}/demo/controls_demo.cpp $<TARGET_OBJECTS:sundry_controls_resources>)
  target_link_libraries(controls_demo PRIVATE sundry_internal)
  target_include_directories(controls_demo PRIVATE ${dir})
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} CALL sundry_controls_test_resources)
