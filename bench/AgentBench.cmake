# The agent end to end: bench_agent drives a real agent, and a raw echo peer as its
# baseline, both run by agent_bench_peer, with the session toolbox of the tests: as it is
# usually built, and built to stay loaded once loaded.
foreach(toolbox benchtbx_session benchtbx_session_resident)
  add_library(${toolbox} MODULE ${PROJECT_SOURCE_DIR}/tests/support/SessionToolbox.cpp)
  set_target_properties(${toolbox} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden)
  target_link_libraries(${toolbox} PRIVATE wardex_sdk)
endforeach()
target_link_options(benchtbx_session_resident PRIVATE LINKER:-z,nodelete)

add_executable(agent_bench_peer AgentBenchPeer.cpp HandOffEcho.cpp)
target_link_libraries(agent_bench_peer PRIVATE wardex_engine)

add_executable(bench_agent AgentBench.cpp ${PROJECT_SOURCE_DIR}/tests/support/TestSockets.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/TestPeer.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/linux/TlsPeer.cpp)
target_link_libraries(bench_agent PRIVATE wardex_engine qxsim_certificates benchmark::benchmark)
target_include_directories(bench_agent PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/linux)
target_compile_definitions(bench_agent PRIVATE
  WARDEX_BENCH_PEER="$<TARGET_FILE:agent_bench_peer>"
  WARDEX_BENCH_TOOLBOX="$<TARGET_FILE:benchtbx_session>"
  WARDEX_BENCH_RESIDENT_TOOLBOX="$<TARGET_FILE:benchtbx_session_resident>")
add_dependencies(bench_agent agent_bench_peer benchtbx_session benchtbx_session_resident)

# The stop of the service from each of its states, timed against the stop of an idle session.
add_executable(stop_bench StopBench.cpp ${PROJECT_SOURCE_DIR}/tests/service/linux/ServiceTestSupport.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/AgentWorld.cpp ${PROJECT_SOURCE_DIR}/tests/support/ChildProcess.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/linux/Environment.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/TestSockets.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/TestPeer.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/linux/TlsPeer.cpp)
target_link_libraries(stop_bench PRIVATE wardex_engine qxsim_certificates)
target_include_directories(stop_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/linux)
target_compile_definitions(stop_bench PRIVATE WARDEX_PROGRAM="$<TARGET_FILE:wardex>"
  WARDEX_SESSION_TOOLBOX="$<TARGET_FILE:benchtbx_session>")
add_dependencies(stop_bench wardex benchtbx_session)
