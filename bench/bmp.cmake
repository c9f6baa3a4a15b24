# The peer: stb_image from Debian's libstb-dev.
target_link_libraries(bench_bmp PRIVATE stb)
