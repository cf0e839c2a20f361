# Proves that the build keeps the extension's folders on their layers: from
# each folder, with exactly the compile command the build uses for one of
# its sources, includes one header of every other folder (and the public
# header) and expects it to be found only where the layering allows.
#   cmake -DCOMPILE_COMMANDS=<build>/compile_commands.json
#         -DSOURCE_DIR=<project> -DWORK_DIR=<scratch folder> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)

# What each folder may include besides its own headers and the host's.
set(sees_models "")
set(sees_buffer "")
set(sees_engine "")
set(sees_tts engine models)
set(sees_stt buffer engine models sherpa)
set(sees_extension tts stt buffer engine models sherpa)
set(folders models buffer engine tts stt extension)

# One header of each folder to include, as the code writes it.
foreach(folder IN LISTS folders)
  file(GLOB headers RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/${folder}/*.h")
  list(SORT headers)
  list(GET headers 0 header_${folder})
endforeach()
set(header_sherpa "sherpa/SherpaExtension.h")

file(READ "${COMPILE_COMMANDS}" commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failures 0)
set(checked 0)

foreach(folder IN LISTS folders)
  # The build's command for the first source of the folder.
  set(command "")
  foreach(i RANGE ${last})
    string(JSON file GET "${commands}" ${i} file)
    if(file MATCHES "^${SOURCE_DIR}/src/${folder}/[^/]+\\.cpp$")
      string(JSON command GET "${commands}" ${i} command)
      string(JSON directory GET "${commands}" ${i} directory)
      break()
    endif()
  endforeach()
  if(command STREQUAL "")
    message(FATAL_ERROR "No compile command for a source of src/${folder}")
  endif()
  separate_arguments(arguments UNIX_COMMAND "${command}")

  foreach(target IN LISTS folders ITEMS sherpa)
    if(target STREQUAL folder)
      continue()
    endif()
    set(probe "${WORK_DIR}/${folder}_includes_${target}.cpp")
    file(WRITE "${probe}" "#include \"${header_${target}}\"\n")
    # Preprocess the probe in place of the source, writing nothing.
    set(run "")
    set(skip FALSE)
    foreach(argument IN LISTS arguments)
      if(skip)
        set(skip FALSE)
      elseif(argument STREQUAL "-o" OR argument STREQUAL "-c")
        set(skip TRUE)
      else()
        list(APPEND run "${argument}")
      endif()
    endforeach()
    execute_process(COMMAND ${run} -E -o /dev/null "${probe}" WORKING_DIRECTORY "${directory}"
                    RESULT_VARIABLE rc ERROR_VARIABLE errors OUTPUT_QUIET)
    math(EXPR checked "${checked} + 1")
    if(target IN_LIST sees_${folder})
      if(NOT rc EQUAL 0)
        message(SEND_ERROR "src/${folder} cannot include \"${header_${target}}\" although it links ${target}:\n${errors}")
        math(EXPR failures "${failures} + 1")
      endif()
    elseif(rc EQUAL 0)
      message(SEND_ERROR "src/${folder} includes \"${header_${target}}\" without linking ${target}")
      math(EXPR failures "${failures} + 1")
    elseif(NOT errors MATCHES "${header_${target}}")
      message(SEND_ERROR "src/${folder} including \"${header_${target}}\" failed for another reason:\n${errors}")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()

message(STATUS "${checked} includes across folders checked, ${failures} wrong")
