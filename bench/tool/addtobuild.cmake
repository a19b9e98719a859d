# Read by the "bench" preset right after the tool's project() call. The
# driver links the tool's own library, which the rest of the top-level list
# defines, so its target is made once that list has run to its end, with the
# same settings as the tool.
set(R9_BENCH_DRIVER_LIST ${CMAKE_CURRENT_LIST_DIR}/driver.cmake)
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${R9_BENCH_DRIVER_LIST})
