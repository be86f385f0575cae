# The suite cross-built as a console program and run under Wine, one CTest test per binary:
# Wine's helper processes hold the test's pipes open while wineserver lingers.
target_sources(restore-tests PRIVATE
  support_win.cc win_registry.cc registry_win_test.cc win_transfer_test.cc)
target_link_libraries(restore-tests PRIVATE platform)
target_link_options(restore-tests PRIVATE -static)
# The tests' own A calls follow the test binary's code page, not the program's: it carries the
# program's manifest, so that the in-process tables run with UTF-8 as the program does.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/restore-tests.rc "1 24 \"${RESTORE_MANIFEST}\"\n")
target_sources(restore-tests PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/restore-tests.rc)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/restore-tests.rc PROPERTIES
  OBJECT_DEPENDS ${RESTORE_MANIFEST})

set(wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
# As scripts/lib.sh sets it: wineserver keeps a directory in TMPDIR, which goes beside the prefix.
set(wine_environment WINEPREFIX=${wine_prefix} WINEARCH=win64 WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=" TMPDIR=${wine_prefix}.tmp)

add_test(NAME wine-prefix COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${wine_prefix})
add_test(NAME wine-shutdown COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh --stop ${wine_prefix})
set_tests_properties(wine-prefix PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine-shutdown PROPERTIES FIXTURES_CLEANUP wine)

# Both write the product's registration in the prefix's registry.
add_test(NAME restore-tests COMMAND restore-tests)
add_test(NAME patch-installer COMMAND ${CMAKE_SOURCE_DIR}/test/installer_test.sh
  ${CMAKE_SOURCE_DIR} $<TARGET_FILE:restore-backup> ${CMAKE_BINARY_DIR}/installer-test)
set_tests_properties(restore-tests patch-installer PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${wine_environment}" RESOURCE_LOCK wine-registry)
# Judged by GoogleTest's own summary, not the exit status: a test process that Wine ends part way
# (seen after failures under qemu, with "wine client error" and status 0) prints none.
set_tests_properties(restore-tests PROPERTIES
  PASS_REGULAR_EXPRESSION "\\[==========\\] [0-9]+ tests? from [0-9]+ test suites? ran"
  FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")

# Power cuts during and just after a run, on an ext4 image through Z: (skipped without a loop
# device). One Wine start a row, and one each to write and remove the registration.
add_test(NAME power-loss COMMAND ${CMAKE_SOURCE_DIR}/test/power_loss_test.sh wine
  ${CMAKE_SOURCE_DIR} $<TARGET_FILE:restore-backup> 1000)
set_tests_properties(power-loss PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${wine_environment}"
  RESOURCE_LOCK wine-registry SKIP_RETURN_CODE 77 TIMEOUT 1200)

add_test(NAME executable-check
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-exe.sh $<TARGET_FILE:restore-backup>)
add_test(NAME reproducible-build
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible.sh ${CMAKE_SOURCE_DIR}
    $<TARGET_FILE:restore-backup>)

# Holds a file open without sharing from another process, for the tests of files in use.
add_executable(hold-file hold_file.cc)
target_link_options(hold-file PRIVATE -static)
set_target_properties(hold-file PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(restore-tests hold-file)

# The suite's own volumes (test/volumes.sh says which, and why).
set(test_temp ${CMAKE_BINARY_DIR}/test-temp)
string(REPLACE "/" "\\" test_temp_windows "Z:${test_temp}")
add_test(NAME small-volume-mount COMMAND ${CMAKE_SOURCE_DIR}/test/volumes.sh mount ${CMAKE_BINARY_DIR})
add_test(NAME small-volume-unmount COMMAND ${CMAKE_SOURCE_DIR}/test/volumes.sh unmount
  ${CMAKE_BINARY_DIR})
set_tests_properties(small-volume-mount PROPERTIES FIXTURES_SETUP small-volume)
set_tests_properties(small-volume-unmount PROPERTIES FIXTURES_CLEANUP small-volume)
set_tests_properties(restore-tests PROPERTIES FIXTURES_REQUIRED "wine;small-volume"
  ENVIRONMENT
  "${wine_environment};RESTORE_TEST_VOLUMES=${CMAKE_BINARY_DIR};RESTORE_TEST_TEMP=${test_temp_windows}")

# The chain release engineers ship, built with the real Inno Setup compiler, which
# scripts/deps.sh installs from tools/innosetup's lock file: the sample product installed, the
# README's patch run, the uninstaller, and the product installed in 64-bit mode. It skips itself
# where 32-bit programs run under qemu's user-mode emulator, which the compiler crashes in.
option(RESTORE_BACKUP_INNO_TEST "Run the Inno Setup chain under Wine" ON)
if(RESTORE_BACKUP_INNO_TEST)
  set(iscc ${CMAKE_SOURCE_DIR}/tools/innosetup/node_modules/innosetup/bin/ISCC.exe)
  add_test(NAME inno-setup COMMAND ${CMAKE_SOURCE_DIR}/test/inno_setup_test.sh ${CMAKE_SOURCE_DIR}
    $<TARGET_FILE:restore-backup> ${iscc} ${CMAKE_BINARY_DIR}/inno-setup-test)
  set_tests_properties(inno-setup PROPERTIES FIXTURES_REQUIRED wine
    ENVIRONMENT "${wine_environment}" RESOURCE_LOCK wine-registry SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
