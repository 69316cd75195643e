# Gathers one Windows release folder from its manifest, and writes the installer's file list:
#   cmake -DMANIFEST=<file> -DSTAGE=<folder> -DSTRIP=<strip program> -P stage.cmake
# Each manifest line is "<kind>|<name in the release>|<source>": "program" is stripped of its
# debugging sections, "text" gets CRLF line ends (Notepad before 2018 shows LF files as one
# line), "data" is copied as it is. <STAGE>.nsh gets the installer's File and Delete lines.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${STAGE})
file(STRINGS ${MANIFEST} entries)
set(install_lines)
set(remove_lines)
set(folders)
foreach(entry IN LISTS entries)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 kind)
  list(GET fields 1 name)
  list(GET fields 2 source)
  set(target ${STAGE}/${name})
  get_filename_component(folder ${name} DIRECTORY)
  file(MAKE_DIRECTORY ${STAGE}/${folder})
  if(kind STREQUAL "program")
    execute_process(COMMAND ${STRIP} --strip-debug -o ${target} ${source}
                    COMMAND_ERROR_IS_FATAL ANY)
  elseif(kind STREQUAL "text")
    file(READ ${source} content)
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${target} "${content}")
  else()
    file(COPY_FILE ${source} ${target} ONLY_IF_DIFFERENT)
  endif()
  string(REPLACE "/" "\\" windows_name "${name}")
  set(windows_folder "$INSTDIR")
  if(folder)
    string(REPLACE "/" "\\" windows_folder "$INSTDIR/${folder}")
  endif()
  list(APPEND install_lines "SetOutPath \"${windows_folder}\"\nFile \"${target}\"\n")
  list(APPEND remove_lines "Delete \"$INSTDIR\\${windows_name}\"\n")
  # Every folder on the way, so that the emptied ones go too.
  while(folder)
    list(APPEND folders ${folder})
    get_filename_component(folder ${folder} DIRECTORY)
  endwhile()
endforeach()
# Deepest folders first; RMDir without /r removes a folder only when empty, so whatever the
# user added stays.
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  string(REPLACE "/" "\\" folder "${folder}")
  list(APPEND remove_lines "RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()
string(JOIN "" install_text ${install_lines})
string(JOIN "" remove_text ${remove_lines})
file(WRITE ${STAGE}.nsh
  "!macro QUENVOL_INSTALL_FILES\n${install_text}!macroend\n"
  "!macro QUENVOL_REMOVE_FILES\n${remove_text}!macroend\n")
