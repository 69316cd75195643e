# The layers above platform/ and quenvol-cli.exe, as the main build makes them (one library per
# layer, each seeing only its own folders and those below), without Qt.
function(quenvol_windows_layer name)
  set(root ${layers}/${name})
  set(sources)
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${QUENVOL_ROOT}/src/${folder} ${root}/${folder} SYMBOLIC)
    file(GLOB found CONFIGURE_DEPENDS ${QUENVOL_ROOT}/src/${folder}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  list(FILTER sources EXCLUDE REGEX ".*/cli/main\\.cpp$")
  add_library(quenvol_${name} STATIC ${sources})
  target_include_directories(quenvol_${name} PUBLIC ${root})
endfunction()

# res/: the templates, strings and help table are compiled in; the help file sits beside the
# program, as on Linux.
quenvol_windows_layer(res res)
quenvol_windows_layer(framework framework)
target_link_libraries(quenvol_framework PUBLIC quenvol_platform quenvol_res)
quenvol_windows_layer(app app build disk history)
target_link_libraries(quenvol_app PUBLIC quenvol_framework)
quenvol_windows_layer(ui_console ui/console)
target_link_libraries(quenvol_ui_console PUBLIC quenvol_framework)
quenvol_windows_layer(cli cli)
# The console program's own system calls, as cli/posix/ holds them on Linux.
file(GLOB cli_system CONFIGURE_DEPENDS ${QUENVOL_ROOT}/src/cli/win32/*.cpp)
target_sources(quenvol_cli PRIVATE ${cli_system})
target_link_libraries(quenvol_cli PUBLIC quenvol_app quenvol_ui_console)

# The console program. Static (the toolchain links -static): nothing to ship but the .exe and
# its help file. Built on request only while platform/win32/ lacks parts it calls.
add_executable(quenvol-cli EXCLUDE_FROM_ALL ${QUENVOL_ROOT}/src/cli/main.cpp)
target_link_libraries(quenvol-cli PRIVATE quenvol_cli)
add_custom_command(TARGET quenvol-cli POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUENVOL_ROOT}/src/res/quenvol.HLP
          $<TARGET_FILE_DIR:quenvol-cli>/quenvol-cli.HLP)
