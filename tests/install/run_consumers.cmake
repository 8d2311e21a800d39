# cmake -DBUILD_DIR=... -DSOURCE_DIR=<consumer project> -DOUT=<scratch> -DEXE=<generator>
#       -DGENERATOR=... -DC_COMPILER=... -DCXX_COMPILER=... [-DFLAGS=...] -P run_consumers.cmake
# Installs BUILD_DIR into OUT/prefix, builds the consumer in C++ and in C
# against it (and the C one with the pkg-config file), and runs each on a
# small table: all must succeed and print the same numbers (same seed, same
# generator).  OUT is removed when all went well.

# Runs a command; stops with its output when it fails.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 300)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT}/table)
# Landa 1, field values [0, 1), 50 % losses: a table made in a second.
file(WRITE ${OUT}/table/input.txt "1\n0\n1\n50\n1\n")
execute_process(COMMAND ${EXE} INPUT_FILE ${OUT}/table/input.txt OUTPUT_QUIET WORKING_DIRECTORY ${OUT}/table
                RESULT_VARIABLE rc TIMEOUT 300)
if(NOT rc EQUAL 0 OR NOT EXISTS ${OUT}/table/O1_Phi4.res)
  message(FATAL_ERROR "the generator failed (${rc}) in ${OUT}/table")
endif()
set(table ${OUT}/table/O1_Phi4.res)

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${OUT}/prefix)
foreach(f include/o1_phi4/sampler.h include/o1_phi4/o1_sampler_c.h include/o1_phi4/table_format.h lib/pkgconfig/o1_phi4.pc)
  if(NOT EXISTS ${OUT}/prefix/${f})
    message(FATAL_ERROR "cmake --install did not place ${f}")
  endif()
endforeach()

set(outputs "")
foreach(lang CXX C)
  run("configuring the ${lang} consumer" ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${OUT}/${lang} -G ${GENERATOR}
      -DO1_CONSUMER_LANG=${lang} -DCMAKE_PREFIX_PATH=${OUT}/prefix -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_C_FLAGS=${FLAGS}"
      "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
  run("building the ${lang} consumer" ${CMAKE_COMMAND} --build ${OUT}/${lang})
  run("the ${lang} consumer" ${OUT}/${lang}/draw ${table})
  list(APPEND outputs "${run_output}")
endforeach()

# The C consumer by hand, as a Makefile would build it with pkg-config.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${OUT}/prefix/lib/pkgconfig ${PKG_CONFIG} --cflags --libs o1_phi4)
  string(STRIP "${run_output}" pc)
  separate_arguments(pc UNIX_COMMAND "${pc}")
  separate_arguments(flags UNIX_COMMAND "${FLAGS}")
  run("building the C consumer with pkg-config" ${C_COMPILER} ${flags} -o ${OUT}/draw_pc ${SOURCE_DIR}/draw.c ${pc})
  run("the C consumer built with pkg-config" ${OUT}/draw_pc ${table})
  list(APPEND outputs "${run_output}")
endif()

list(REMOVE_DUPLICATES outputs)
list(LENGTH outputs n)
if(NOT n EQUAL 1 OR NOT outputs MATCHES "^-?[0-9]+\\.[0-9]+ -?[0-9]+\\.[0-9]+ -?[0-9]+\\.[0-9]+\n$")
  message(FATAL_ERROR "the consumers disagree or print no numbers:\n${outputs}")
endif()
file(REMOVE_RECURSE ${OUT})
