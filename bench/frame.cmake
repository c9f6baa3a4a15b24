# The frame benchmark draws against the GL double instead of a real context.
if(NOT TARGET gldouble)
  add_library(gldouble STATIC ${PROJECT_SOURCE_DIR}/tests/gldouble/gldouble.cpp)
  target_include_directories(gldouble PUBLIC ${PROJECT_SOURCE_DIR}/tests/gldouble)
endif()
target_link_libraries(bench_${name} PRIVATE gldouble)
