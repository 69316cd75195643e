# The Windows release (target dist, make windows-dist): in dist/, a zip of the programs with
# their help files, the sample kit and project, the user's guide and licence, and for 64-bit also an
# installer made by makensis when it is installed. The version is the main project's.
# Listed at the end of the folder, so that the dialog program counts wherever its target is
# defined.
function(quenvol_windows_dist)
  file(STRINGS ${QUENVOL_ROOT}/CMakeLists.txt project_line REGEX "^project\\(quenvol VERSION ")
  string(REGEX REPLACE ".* VERSION ([0-9.]+).*" "\\1" QUENVOL_VERSION "${project_line}")
  # The installer's version resource takes four numbers.
  string(REPLACE "." ";" file_version "${QUENVOL_VERSION}")
  list(LENGTH file_version count)
  while(count LESS 4)
    list(APPEND file_version 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(JOIN file_version "." file_version)

  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(dist_machine 0x8664)
    set(dist_name quenvol-${QUENVOL_VERSION}-win64)
  else()
    set(dist_machine 0x14c)
    set(dist_name quenvol-${QUENVOL_VERSION}-win32)
  endif()
  set(dist_dir ${CMAKE_BINARY_DIR}/dist)
  set(dist_stage ${dist_dir}/${dist_name})
  set(dist_zip ${dist_dir}/${dist_name}.zip)

  # The manifest: "<kind>|<name in the release>|<source>" (see packaging/windows/stage.cmake).
  set(dist_programs quenvol-cli)
  if(TARGET quenvol)
    list(APPEND dist_programs quenvol)
  endif()
  set(manifest)
  foreach(program IN LISTS dist_programs)
    string(APPEND manifest "program|${program}.exe|$<TARGET_FILE:${program}>\n"
                           "data|${program}.HLP|${QUENVOL_ROOT}/src/res/quenvol.HLP\n")
  endforeach()
  # The user's guide for Windows, not the developers' README.
  string(APPEND manifest "text|README.txt|${QUENVOL_ROOT}/packaging/windows/README.txt\n"
                         "text|LICENSE.txt|${QUENVOL_ROOT}/LICENSE\n"
                         "text|examples/README.md|${QUENVOL_ROOT}/examples/README.md\n")
  foreach(sample IN LISTS sample_outputs)
    file(RELATIVE_PATH name ${CMAKE_BINARY_DIR} ${sample})
    string(APPEND manifest "data|${name}|${sample}\n")
  endforeach()
  file(GENERATE OUTPUT ${dist_dir}/manifest.txt CONTENT "${manifest}")

  set(stage_script ${QUENVOL_ROOT}/packaging/windows/stage.cmake)
  add_custom_command(OUTPUT ${dist_zip} ${dist_stage}.nsh
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${dist_dir}/manifest.txt -DSTAGE=${dist_stage}
            -DSTRIP=${CMAKE_STRIP} -P ${stage_script}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${dist_zip}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${dist_zip} --format=zip ${dist_name}
    WORKING_DIRECTORY ${dist_dir}
    DEPENDS ${dist_dir}/manifest.txt ${stage_script} ${dist_programs} quenvol_samples
            ${sample_outputs} ${QUENVOL_ROOT}/src/res/quenvol.HLP
            ${QUENVOL_ROOT}/packaging/windows/README.txt
            ${QUENVOL_ROOT}/LICENSE ${QUENVOL_ROOT}/examples/README.md
    COMMENT "Packing ${dist_name}.zip" VERBATIM)
  set(dist_outputs ${dist_zip})

  find_program(QUENVOL_MAKENSIS makensis NO_CMAKE_FIND_ROOT_PATH)
  if(QUENVOL_MAKENSIS AND CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(dist_setup ${dist_dir}/${dist_name}-setup.exe)
    set(nsis_script ${QUENVOL_ROOT}/packaging/windows/quenvol.nsi)
    set(nsis_dialog)
    if(TARGET quenvol)
      set(nsis_dialog -DDIALOG)
    endif()
    add_custom_command(OUTPUT ${dist_setup}
      COMMAND ${QUENVOL_MAKENSIS} -V2 -DVERSION=${QUENVOL_VERSION} -DFILE_VERSION=${file_version}
              -DSTAGE=${dist_stage} -DOUTFILE=${dist_setup} -DICON=${QUENVOL_ICON} ${nsis_dialog}
              ${nsis_script}
      DEPENDS ${dist_zip} ${dist_stage}.nsh ${nsis_script} ${QUENVOL_ICON}
      COMMENT "Making ${dist_name}-setup.exe" VERBATIM)
    list(APPEND dist_outputs ${dist_setup})
  endif()
  add_custom_target(dist DEPENDS ${dist_outputs})

  # The release's check: the zip's contents, and where makensis and wine64 are, the installer's
  # silent install, programs, shortcut, uninstall entry and silent uninstall in a prefix of the
  # test's own. It makes the release first (fixture windows_dist).
  find_program(QUENVOL_PYTHON3 python3 NO_CMAKE_FIND_ROOT_PATH)
  if(QUENVOL_PYTHON3)
    enable_testing()
    add_test(NAME packaging.windows_dist_make
      COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target dist)
    set_tests_properties(packaging.windows_dist_make PROPERTIES FIXTURES_SETUP windows_dist)
    set(dist_check_args --version ${QUENVOL_VERSION} --machine ${dist_machine} --zip ${dist_zip}
        --source-dir ${QUENVOL_ROOT} --samples ${CMAKE_BINARY_DIR}/examples
        --icon ${QUENVOL_ICON})
    if(TARGET quenvol)
      list(APPEND dist_check_args --dialog)
    endif()
    if(dist_setup AND CMAKE_CROSSCOMPILING_EMULATOR)
      list(APPEND dist_check_args --installer ${dist_setup} --wine ${CMAKE_CROSSCOMPILING_EMULATOR}
           --prefix ${CMAKE_BINARY_DIR}/dist-test-wine --shots ${CMAKE_BINARY_DIR}/first-run)
    endif()
    add_test(NAME packaging.windows_dist
      COMMAND ${QUENVOL_PYTHON3} ${QUENVOL_ROOT}/tests/packaging/windows_dist.py
              ${dist_check_args})
    set_tests_properties(packaging.windows_dist PROPERTIES FIXTURES_REQUIRED windows_dist
                         TIMEOUT 600)
  endif()
endfunction()
cmake_language(DEFER CALL quenvol_windows_dist)
