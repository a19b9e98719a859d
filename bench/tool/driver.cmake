# The benchmark driver: the real window of the tool, run headless.
set(r9_bench_tool_dir ${CMAKE_CURRENT_LIST_DIR})
add_executable(r9-bench-tool
    ${r9_bench_tool_dir}/main.cpp
    ${r9_bench_tool_dir}/benchoptions.h ${r9_bench_tool_dir}/benchoptions.cpp
    ${r9_bench_tool_dir}/windowdriver.h ${r9_bench_tool_dir}/windowdriver.cpp
    ${r9_bench_tool_dir}/resourcemeter.h ${r9_bench_tool_dir}/resourcemeter.cpp
    ${r9_bench_tool_dir}/messageboxcloser.h ${r9_bench_tool_dir}/messageboxcloser.cpp
)
target_link_libraries(r9-bench-tool PRIVATE r9core)

# Preloaded for the diagnostic row that measures the tool without its syncs.
add_library(r9-bench-nofsync SHARED ${r9_bench_tool_dir}/nofsync.cpp)
