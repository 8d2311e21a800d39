# Makes the tables of the simulation tests with the built generator (EXE) in
# the folder OUT: cmake -DEXE=... -DOUT=... -P make_table.cmake
# Both Landa 1.1, H0 0, 10 % loss.
function(make_table name h_max)
  set(dir ${OUT}/${name})
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/input.txt "1.1\n0\n${h_max}\n10\n1\n")
  execute_process(COMMAND ${EXE} INPUT_FILE ${dir}/input.txt OUTPUT_FILE ${dir}/stdout.txt ERROR_FILE ${dir}/stderr.txt
                  WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc TIMEOUT 300)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${dir}/O1_Phi4.res)
    message(FATAL_ERROR "the generator failed (status ${rc}), see ${dir}")
  endif()
endfunction()

# H_max above every |h| the test lattices reach ...
make_table(table 6)
# ... and below a third of them, which the sampler's fallback then draws.
make_table(narrow 1)
