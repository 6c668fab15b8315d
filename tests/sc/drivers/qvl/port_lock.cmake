# Read by ctest after the discovered tests of sc_tests: the tests that talk to
# the hardware model share its fixed port 127.0.0.1:7816 and run one at a time.
foreach(name IN LISTS sc_tests_TESTS)
  if(name MATCHES "^QvlModel")
    set_tests_properties("${name}" PROPERTIES RESOURCE_LOCK qvl_port_7816)
  endif()
endforeach()
