# The dialog program, quenvol.exe: the framework's windows as the system's own dialog windows
# (ui/win32/), for the GUI subsystem, with its icon, manifest and version resource.
enable_language(RC)
quenvol_windows_layer(ui_win32 ui/win32)
target_link_libraries(quenvol_ui_win32 PUBLIC quenvol_framework PRIVATE comctl32 comdlg32 gdi32 shell32 ole32
                      user32)

set(QUENVOL_MANIFEST ${QUENVOL_ROOT}/src/ui/win32/resources/quenvol.exe.manifest)
configure_file(${QUENVOL_ROOT}/src/ui/win32/resources/quenvol.rc.in
               ${CMAKE_BINARY_DIR}/quenvol.rc @ONLY)
add_executable(quenvol WIN32 ${QUENVOL_ROOT}/src/quenvol_win32_main.cpp
               ${CMAKE_BINARY_DIR}/quenvol.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/quenvol.rc PROPERTIES OBJECT_DEPENDS
                            "${QUENVOL_MANIFEST};${QUENVOL_ICON}")
target_link_libraries(quenvol PRIVATE quenvol_app quenvol_ui_win32)
add_custom_command(TARGET quenvol POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUENVOL_ROOT}/src/res/quenvol.HLP
          $<TARGET_FILE_DIR:quenvol>/quenvol.HLP)

# The backend's tests with the system's windows: under wine64 with a display of their own
# (Xvfb, started and stopped by the wrapper), so only where Xvfb is found.
add_executable(quenvol_win32_ui_tests
  ${QUENVOL_ROOT}/tests/gui_win32/robot.cpp
  ${QUENVOL_ROOT}/tests/gui_win32/win32_dialog_test.cpp
  ${QUENVOL_ROOT}/tests/support/fat_tools.cpp
  ${QUENVOL_ROOT}/tests/support/memory_device.cpp
  ${QUENVOL_ROOT}/tests/support/test_files.cpp)
target_include_directories(quenvol_win32_ui_tests PRIVATE ${QUENVOL_ROOT}/tests)
target_compile_definitions(quenvol_win32_ui_tests PRIVATE QUENVOL_SOURCE_DIR="${QUENVOL_ROOT}"
  QUENVOL_SAMPLE_KIT_DIR="${QUENVOL_SAMPLE_KIT_DIR}"
  QUENVOL_SAMPLE_PROJECT_DIR="${QUENVOL_SAMPLE_PROJECT_DIR}")
add_dependencies(quenvol_win32_ui_tests quenvol_samples)
target_link_libraries(quenvol_win32_ui_tests PRIVATE quenvol_app quenvol_ui_win32 user32
                      GTest::gtest GTest::gtest_main)
find_program(QUENVOL_XVFB Xvfb NO_CMAKE_FIND_ROOT_PATH)
if(CMAKE_CROSSCOMPILING_EMULATOR AND CMAKE_SIZEOF_VOID_P EQUAL 8 AND QUENVOL_XVFB)
  add_test(NAME win32ui.dialogs
    COMMAND sh ${QUENVOL_ROOT}/tests/gui_win32/with-display.sh ${QUENVOL_XVFB}
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:quenvol_win32_ui_tests>)
  # Input events and the activation are the wine server's, which the other tests of the
  # prefix share: a program of theirs taking the activation would close a menu the test opened.
  set_tests_properties(win32ui.dialogs PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()

# Pictures of the dialogs as the system shows them, for review (make screenshots-windows).
add_executable(quenvol_win32_screenshots ${QUENVOL_ROOT}/tests/gui_win32/robot.cpp
               ${QUENVOL_ROOT}/tests/gui_win32/screenshots.cpp)
target_include_directories(quenvol_win32_screenshots PRIVATE ${QUENVOL_ROOT}/tests)
target_link_libraries(quenvol_win32_screenshots PRIVATE quenvol_app quenvol_ui_win32 user32)
