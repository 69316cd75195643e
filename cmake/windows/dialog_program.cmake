# The dialog program, quenvol.exe: the framework's windows as the system's own dialog windows
# (ui/win32/), for the GUI subsystem, with its manifest and version resource.
enable_language(RC)
quenvol_windows_layer(ui_win32 ui/win32)
target_link_libraries(quenvol_ui_win32 PUBLIC quenvol_framework PRIVATE comctl32 comdlg32 gdi32
                      user32)

set(QUENVOL_VERSION_MAJOR 1)
set(QUENVOL_VERSION_MINOR 0)
set(QUENVOL_VERSION ${QUENVOL_VERSION_MAJOR}.${QUENVOL_VERSION_MINOR})
set(QUENVOL_MANIFEST ${QUENVOL_ROOT}/src/ui/win32/resources/quenvol.exe.manifest)
configure_file(${QUENVOL_ROOT}/src/ui/win32/resources/quenvol.rc.in
               ${CMAKE_BINARY_DIR}/quenvol.rc @ONLY)
add_executable(quenvol WIN32 ${QUENVOL_ROOT}/src/quenvol_win32_main.cpp
               ${CMAKE_BINARY_DIR}/quenvol.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/quenvol.rc PROPERTIES OBJECT_DEPENDS
                            ${QUENVOL_MANIFEST})
target_link_libraries(quenvol PRIVATE quenvol_app quenvol_ui_win32)
add_custom_command(TARGET quenvol POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUENVOL_ROOT}/src/res/quenvol.HLP
          $<TARGET_FILE_DIR:quenvol>/quenvol.HLP)
