# The peer: tinyobjloader from Debian's libtinyobjloader-dev.
target_link_libraries(bench_obj PRIVATE tinyobjloader)
