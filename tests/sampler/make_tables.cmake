# Runs the table generator (EXE) once per test table, each in its own folder
# under OUT: cmake -DEXE=... -DOUT=... -P make_tables.cmake
function(make_table name input)
  set(dir ${OUT}/${name})
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/input.txt "${input}")
  execute_process(COMMAND ${EXE} INPUT_FILE ${dir}/input.txt OUTPUT_FILE ${dir}/stdout.txt
                  ERROR_FILE ${dir}/stderr.txt WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc TIMEOUT 600)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${dir}/O1_Phi4.res)
    message(FATAL_ERROR "the generator failed for ${name} (status ${rc}), see ${dir}")
  endif()
endfunction()

# Landa, H0, H_max, loss in per cent, answer 1.
make_table(h5 "1\n0\n5\n10\n1\n")
make_table(h200 "1\n0\n200\n10\n1\n")
# H_max off the coarse step: the last histogram serves 195 to 199.
make_table(h199 "1
0
199
10
1
")
# Both grid values quantised to 305: the last histogram serves 307.9 to 307.985.
make_table(h307 "1
307.9
307.985
10
1
")
# Quantisation puts histogram 153 below its predecessor: no field value
# reaches it, and its majorant does not bound the weight at its own H.
make_table(h16 "1
0
200
16
1
")
# Few short blocks: the base of the loader's fuzz test.
make_table(small "1\n0\n1\n50\n1\n")
