# The suite cross-built as a console program and run under Wine, one CTest test per binary:
# Wine's helper processes hold the test's pipes open while wineserver lingers.
target_sources(restore-tests PRIVATE
  support_win.cc win_registry.cc registry_win_test.cc win_transfer_test.cc)
target_link_libraries(restore-tests PRIVATE platform)
target_link_options(restore-tests PRIVATE -static)

set(wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
set(wine_environment WINEPREFIX=${wine_prefix} WINEARCH=win64 WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=")

add_test(NAME wine-prefix COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${wine_prefix})
add_test(NAME wine-shutdown COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh --stop ${wine_prefix})
set_tests_properties(wine-prefix PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine-shutdown PROPERTIES FIXTURES_CLEANUP wine)

add_test(NAME restore-tests COMMAND restore-tests)
set_tests_properties(restore-tests PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${wine_environment}")

add_test(NAME executable-check
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-exe.sh $<TARGET_FILE:restore-backup>)
add_test(NAME reproducible-build
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible.sh ${CMAKE_SOURCE_DIR}
    $<TARGET_FILE:restore-backup>)
