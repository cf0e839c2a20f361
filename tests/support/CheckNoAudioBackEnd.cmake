# Fails when the extension library, or anything it loads, needs the sound
# server's client library: live audio belongs to the command-line host.
# A check that cannot see the dependencies at all fails too, so that it
# never passes for want of looking.
execute_process(COMMAND ldd ${MODULE} OUTPUT_VARIABLE dependencies RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT dependencies MATCHES "libQuorvelSDK")
  message(FATAL_ERROR "ldd could not list the dependencies of ${MODULE}:\n${dependencies}")
endif()
if(dependencies MATCHES "libpulse")
  message(FATAL_ERROR "${MODULE} loads the sound server's client library:\n${dependencies}")
endif()
execute_process(COMMAND ldd ${HOST} OUTPUT_VARIABLE host_dependencies RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT host_dependencies MATCHES "libpulse")
  message(FATAL_ERROR "the command-line host ${HOST} should load libpulse and does not:\n${host_dependencies}")
endif()
message(STATUS "${MODULE} does not load libpulse; the command-line host does")
