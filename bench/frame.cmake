# The frame benchmark draws against the GL double instead of a real context.
target_link_libraries(bench_frame PRIVATE gldouble)
