# The peers of the mesh benchmark: meshoptimizer from Debian's
# libmeshoptimizer-dev, and fast_obj from its source folder when given
# (-DORVANDEL_FAST_OBJ_DIR, as for bench_obj).
target_link_libraries(bench_mesh PRIVATE meshoptimizer)
if(ORVANDEL_FAST_OBJ_DIR AND EXISTS ${ORVANDEL_FAST_OBJ_DIR}/fast_obj.c)
  target_sources(bench_mesh PRIVATE ${ORVANDEL_FAST_OBJ_DIR}/fast_obj.c)
  set_source_files_properties(${ORVANDEL_FAST_OBJ_DIR}/fast_obj.c TARGET_DIRECTORY bench_mesh PROPERTIES COMPILE_OPTIONS -w)
  target_include_directories(bench_mesh SYSTEM PRIVATE ${ORVANDEL_FAST_OBJ_DIR})
  target_compile_definitions(bench_mesh PRIVATE ORVANDEL_HAVE_FAST_OBJ)
endif()
