# The peer of the welding benchmark: meshoptimizer from Debian's libmeshoptimizer-dev.
target_link_libraries(bench_ops PRIVATE meshoptimizer)
