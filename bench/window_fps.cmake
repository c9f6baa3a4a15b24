# The real GL, GLU and GLUT in a real window. Exported symbols let the
# benchmark name the functions of ours that its samples land in.
target_link_libraries(bench_window_fps PRIVATE OpenGL::GL OpenGL::GLU GLUT::GLUT ${CMAKE_DL_LIBS})
set_target_properties(bench_window_fps PROPERTIES ENABLE_EXPORTS ON)
