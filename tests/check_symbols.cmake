# Fails unless the library's dynamic symbol table exports exactly the tarn_
# functions and imports nothing beyond the libc calls it makes and what the
# toolchain itself adds. Run as: cmake -DLIB=<path> -DNM=<nm> -P check_symbols.cmake
# (-DCHECKED=ON for the checked build, which writes its message to stderr)
cmake_minimum_required(VERSION 3.20)
set(expected_exports
  tarn_delete tarn_delete_node tarn_get_first_node tarn_get_first_node_in_range
  tarn_get_first_node_in_range2 tarn_get_first_user_data tarn_get_next_from_node
  tarn_get_next_node tarn_get_next_node_from_key tarn_get_next_node_in_range
  tarn_get_next_user_data tarn_get_prev_from_node tarn_get_previous_node
  tarn_get_previous_node_from_key tarn_init tarn_init_iterator tarn_init_new tarn_insert
  tarn_is_empty tarn_lookup tarn_lookup_exact tarn_lookup_ge tarn_lookup_le
  tarn_lookup_user_data tarn_pre_sched_yield tarn_print_tree tarn_replicate_head_node
  tarn_search_for_node tarn_verify_balance_factors tarn_walk_tree tarn_walk_tree_v2)
set(allowed_imports memset memcpy memcmp printf abort
  # toolchain boilerplate
  __cxa_finalize __gmon_start__ _ITM_deregisterTMCloneTable _ITM_registerTMCloneTable
  __stack_chk_fail)
if(CHECKED)
  list(APPEND allowed_imports fprintf stderr)
endif()

execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE defined RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${defined}")
set(exports "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* ([^ ]+)$" "\\1" name "${line}")
  string(REGEX REPLACE "@.*$" "" name "${name}")
  list(APPEND exports ${name})
endforeach()
list(SORT exports)
list(SORT expected_exports)
if(NOT exports STREQUAL expected_exports)
  message(FATAL_ERROR "exported symbols differ.\n got: ${exports}\n want: ${expected_exports}")
endif()

execute_process(COMMAND ${NM} -D --undefined-only ${LIB} OUTPUT_VARIABLE undefined)
string(REGEX MATCHALL "[^\n]+" lines "${undefined}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* ([^ ]+)$" "\\1" name "${line}")
  string(REGEX REPLACE "@.*$" "" name "${name}")
  if(NOT name IN_LIST allowed_imports)
    message(FATAL_ERROR "unexpected import: ${name}")
  endif()
endforeach()
execute_process(COMMAND ${READELF} -d ${LIB} OUTPUT_VARIABLE dynamic)
string(REGEX MATCHALL "NEEDED[^\n]*" needed "${dynamic}")
foreach(entry IN LISTS needed)
  if(NOT entry MATCHES "\\[libc\\.so")
    message(FATAL_ERROR "needs more than libc at load time: ${entry}")
  endif()
endforeach()
list(LENGTH exports n)
message(STATUS "${n} tarn_ functions exported; imports within libc's memset, memcpy, memcmp, printf, abort")
