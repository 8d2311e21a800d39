# Makes the table of the simulation tests with the built generator (EXE) in
# the folder OUT: cmake -DEXE=... -DOUT=... -P make_table.cmake
# Landa 1.1, H0 0, H_max 6 (above every |h| the test lattices reach), 10 % loss.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
file(WRITE ${OUT}/input.txt "1.1\n0\n6\n10\n1\n")
execute_process(COMMAND ${EXE} INPUT_FILE ${OUT}/input.txt OUTPUT_FILE ${OUT}/stdout.txt ERROR_FILE ${OUT}/stderr.txt
                WORKING_DIRECTORY ${OUT} RESULT_VARIABLE rc TIMEOUT 300)
if(NOT rc EQUAL 0 OR NOT EXISTS ${OUT}/O1_Phi4.res)
  message(FATAL_ERROR "the generator failed (status ${rc}), see ${OUT}")
endif()
