# dr_json_bench: records as JSON both ways, dr_json beside protobuf's JSON, on the records
# of the side-by-side suite (dr_bench_records, dr_bench_protobuf). Left out when either
# is missing.
if(NOT TARGET dr_json OR NOT TARGET dr_bench_protobuf)
  message(STATUS "bench: dr_json or the protobuf peer missing, dr_json_bench left out")
  return()
endif()
add_executable(dr_json_bench json_bench.cc)
target_include_directories(dr_json_bench PRIVATE ${CMAKE_CURRENT_BINARY_DIR})  # peers.pb.h
target_link_libraries(dr_json_bench PRIVATE dr_json dr_bench_protobuf benchmark::benchmark)
