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

# The application icon as an .ico file, for the programs' icon resources and the installer:
# written from res/'s icon by a small tool built with the build machine's own compiler (the
# toolchain's makes Windows programs only), from res/ alone.
find_program(QUENVOL_HOST_CXX NAMES c++ g++ NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(GLOB icon_tool_sources CONFIGURE_DEPENDS ${QUENVOL_ROOT}/src/res/*.cpp)
file(GLOB icon_tool_headers CONFIGURE_DEPENDS ${QUENVOL_ROOT}/src/res/*.h)
set(icon_tool ${CMAKE_BINARY_DIR}/host/write_icon)
set(QUENVOL_ICON ${CMAKE_BINARY_DIR}/quenvol.ico)
add_custom_command(OUTPUT ${icon_tool}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
  COMMAND ${QUENVOL_HOST_CXX} -std=c++20 -O1 -Wall -Wextra -Wpedantic -Werror -I${layers}/res
          -o ${icon_tool} ${CMAKE_CURRENT_SOURCE_DIR}/write_icon.cpp ${icon_tool_sources}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/write_icon.cpp ${icon_tool_sources} ${icon_tool_headers}
  COMMENT "Building the icon writer for the build machine" VERBATIM)
add_custom_command(OUTPUT ${QUENVOL_ICON}
  COMMAND ${icon_tool} ${QUENVOL_ICON}
  DEPENDS ${icon_tool}
  COMMENT "Writing quenvol.ico" VERBATIM)

# The version the programs' version resources give: the main project's.
file(STRINGS ${QUENVOL_ROOT}/CMakeLists.txt project_line REGEX "^project\\(quenvol VERSION ")
string(REGEX REPLACE ".* VERSION ([0-9]+)\\.([0-9]+).*" "\\1;\\2" project_version "${project_line}")
list(GET project_version 0 QUENVOL_VERSION_MAJOR)
list(GET project_version 1 QUENVOL_VERSION_MINOR)
set(QUENVOL_VERSION ${QUENVOL_VERSION_MAJOR}.${QUENVOL_VERSION_MINOR})

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
# its help file. Its resources: the icon and the version.
enable_language(RC)
configure_file(${QUENVOL_ROOT}/src/ui/win32/resources/quenvol-cli.rc.in
               ${CMAKE_BINARY_DIR}/quenvol-cli.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/quenvol-cli.rc PROPERTIES OBJECT_DEPENDS
                            ${QUENVOL_ICON})
add_executable(quenvol-cli ${QUENVOL_ROOT}/src/cli/main.cpp ${CMAKE_BINARY_DIR}/quenvol-cli.rc)
target_link_libraries(quenvol-cli PRIVATE quenvol_cli)
add_custom_command(TARGET quenvol-cli POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUENVOL_ROOT}/src/res/quenvol.HLP
          $<TARGET_FILE_DIR:quenvol-cli>/quenvol-cli.HLP)

# The sample kit and project, gathered as the main build gathers them (the kit's boot sector
# and MINIDOS.SYS assembled from our sources), for the suites and the whole builds under wine.
find_program(QUENVOL_NASM nasm NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(sample_root ${QUENVOL_ROOT}/examples)
set(QUENVOL_SAMPLE_KIT_DIR ${CMAKE_BINARY_DIR}/examples/kit)
set(QUENVOL_SAMPLE_PROJECT_DIR ${CMAKE_BINARY_DIR}/examples/project)
set(sample_outputs)
foreach(program crisboot minidos)
  set(output ${QUENVOL_SAMPLE_KIT_DIR}/${program}.bin)
  if(program STREQUAL "minidos")
    set(output ${QUENVOL_SAMPLE_KIT_DIR}/minidos.sys)
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUENVOL_SAMPLE_KIT_DIR}
    COMMAND ${QUENVOL_NASM} -f bin -w+all -w+error -I${sample_root}/crisboot/ -o ${output}
            ${sample_root}/crisboot/${program}.asm
    DEPENDS ${sample_root}/crisboot/${program}.asm ${sample_root}/crisboot/sample_io.inc
    VERBATIM)
  list(APPEND sample_outputs ${output})
endforeach()
foreach(folder kit project)
  file(GLOB names RELATIVE ${sample_root}/${folder} ${sample_root}/${folder}/*)
  foreach(name ${names})
    set(output ${CMAKE_BINARY_DIR}/examples/${folder}/${name})
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E copy ${sample_root}/${folder}/${name} ${output}
      DEPENDS ${sample_root}/${folder}/${name} VERBATIM)
    list(APPEND sample_outputs ${output})
  endforeach()
endforeach()
add_custom_target(quenvol_samples ALL DEPENDS ${sample_outputs})

# The suites of the layers above platform/ that need nothing of Linux, with the test doubles.
set(suite_sources
  app/crisis_dialog_test.cpp
  app/messages_test.cpp
  build/build_fixture.cpp
  build/build_sequence_test.cpp
  build/check_project_test.cpp
  build/payload_check_test.cpp
  cli/cli_options_test.cpp
  cli/cli_policy_test.cpp
  disk/disk_prep_test.cpp
  history/browse_test.cpp
  support/dialog_harness.cpp
  fat/volume_test.cpp
  framework/afxstr_test.cpp
  framework/dialog_manager_test.cpp
  framework/help_test.cpp
  framework/startup_test.cpp
  support/failing_device.cpp
  support/fat_tools.cpp
  support/memory_device.cpp
  support/scripted_policy.cpp
  support/test_files.cpp)
# The 32-bit C runtime's time_t ends in 2038: the volume suite's dates past it do not compile
# there (and the 32-bit build only compiles and links here).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(REMOVE_ITEM suite_sources fat/volume_test.cpp)
endif()
list(TRANSFORM suite_sources PREPEND ${QUENVOL_ROOT}/tests/)
add_executable(quenvol_tests ${suite_sources})
target_include_directories(quenvol_tests PRIVATE ${QUENVOL_ROOT}/tests)
target_compile_definitions(quenvol_tests PRIVATE QUENVOL_SOURCE_DIR="${QUENVOL_ROOT}"
  QUENVOL_BINARY_DIR="${CMAKE_BINARY_DIR}" QUENVOL_SAMPLE_KIT_DIR="${QUENVOL_SAMPLE_KIT_DIR}"
  QUENVOL_SAMPLE_PROJECT_DIR="${QUENVOL_SAMPLE_PROJECT_DIR}")
add_dependencies(quenvol_tests quenvol_samples)
target_link_libraries(quenvol_tests PRIVATE quenvol_cli GTest::gtest GTest::gmock
                      GTest::gtest_main)
# The checks by fsck.fat and mtools in these suites reach the Linux tools through wine
# (tests/support/fat_tools.cpp).
include(GoogleTest)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  gtest_discover_tests(quenvol_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300)
endif()

# Whole builds of the sample by quenvol-cli.exe under wine64, each beside the same run of the
# Linux program (QUENVOL_LINUX_CLI, from the main build), and the Windows program's diskettes
# checked on the Linux side by fsck.fat and mtools.
set(QUENVOL_LINUX_CLI "" CACHE FILEPATH "the Linux quenvol-cli the Windows program is compared with")
if(CMAKE_CROSSCOMPILING_EMULATOR AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  if(NOT QUENVOL_LINUX_CLI)
    message(FATAL_ERROR "QUENVOL_LINUX_CLI must name the Linux quenvol-cli (make test-windows does)")
  endif()
  find_program(QUENVOL_PYTHON3 python3 NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  add_test(NAME cli.windows_whole_build
    COMMAND ${QUENVOL_PYTHON3} ${QUENVOL_ROOT}/tests/cli/windows_whole_build.py
      $<TARGET_FILE:quenvol-cli> ${QUENVOL_LINUX_CLI} ${QUENVOL_SAMPLE_KIT_DIR}
      ${QUENVOL_SAMPLE_PROJECT_DIR})
  set_tests_properties(cli.windows_whole_build PROPERTIES TIMEOUT 600 RESOURCE_LOCK wine_drive_a)
endif()
include(${CMAKE_CURRENT_SOURCE_DIR}/dialog_program.cmake)
