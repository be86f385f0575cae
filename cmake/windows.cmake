# The product: a small, static, windowed 32-bit program, built reproducibly.
enable_language(RC)
set(RESTORE_MANIFEST ${CMAKE_SOURCE_DIR}/platform/win/restore-backup.manifest)
configure_file(platform/win/restore-backup.rc.in restore-backup.rc @ONLY)

add_executable(restore-backup WIN32 restore/winmain.cc ${CMAKE_BINARY_DIR}/restore-backup.rc)
target_link_libraries(restore-backup PRIVATE restore_core platform)
set_source_files_properties(${CMAKE_BINARY_DIR}/restore-backup.rc PROPERTIES
  OBJECT_DEPENDS ${RESTORE_MANIFEST})

# No exception tables or type information: the logic throws nothing and asks no types.
set(size_options -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
target_compile_options(restore_core PRIVATE ${size_options})
target_compile_options(platform PRIVATE ${size_options})
target_compile_options(restore-backup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${size_options}>)
# Static runtime: only KERNEL32, ADVAPI32 and msvcrt are imported. No link timestamp, stripped.
target_link_options(restore-backup PRIVATE -static -s -Wl,--gc-sections
  -Wl,--no-insert-timestamp -Wl,--build-id=none)
