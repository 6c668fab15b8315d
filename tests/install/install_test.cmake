# Installs the build BUILD_DIR into WORK_DIR/prefix, then configures, builds and
# runs the consumer project CONSUMER_DIR against that tree, as another project
# would use the toolkit; the installed qxw must start too. Run with cmake -P
# (see tests/CMakeLists.txt for the variables).
cmake_minimum_required(VERSION 3.25)

# Runs a command; any failure ends the test with the command and its output.
function(Run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
Run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The package may name neither the source nor the build tree: it must work
# wherever the installed folder is.
get_filename_component(sourceDir ${CONSUMER_DIR}/../../.. ABSOLUTE)
file(GLOB packageFiles ${prefix}/lib*/cmake/zorvik/*.cmake ${prefix}/lib/*/cmake/zorvik/*.cmake)
if(NOT packageFiles)
  message(FATAL_ERROR "no CMake package files installed under ${prefix}")
endif()
foreach(file IN LISTS packageFiles)
  file(READ ${file} text)
  foreach(tree IN ITEMS ${sourceDir} ${BUILD_DIR})
    string(FIND "${text}" "${tree}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} names ${tree}")
    endif()
  endforeach()
endforeach()

Run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_BUILD_TYPE=${BUILD_TYPE} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
Run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
Run(${WORK_DIR}/consumer/zorvik_consumer)
# FIPS 180-2, B.1: SHA-256 of "abc"; the BER-TLV dump and the short case 4
# encoding of ISO/IEC 7816-4 (Lc 05, Le 00 for 256).
set(expected "tlv: 6F:\n  84: A0 00 01 \nsha256: BA 78 16 BF 8F 01 CF EA 41 41 40 DE 5D AE 22 23 B0 03 61 A3 96 17 7A 9C B4 10 FF 61 F2 00 15 AD\napdu: 00 A4 04 00 05 A0 00 00 00 03 00\n")
if(NOT output STREQUAL expected)
  message(FATAL_ERROR "the consumer printed\n${output}\nexpected\n${expected}")
endif()

Run(${prefix}/bin/qxw -h)
string(FIND "${output}" "log_level" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the installed qxw -h printed no settings help:\n${output}")
endif()
message(STATUS "installed package: consumer built and ran, qxw starts")
