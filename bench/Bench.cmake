# The benchmark's programs (bash bench/run.sh runs them); one test runs the
# smallest case once to show that the bench works. It times nothing.
add_executable(bench_bare WIN32 ${CMAKE_SOURCE_DIR}/bench/bare.cpp ${CMAKE_SOURCE_DIR}/res/setup.rc)
setup_target_options(bench_bare)
target_link_libraries(bench_bare PRIVATE comctl32 advapi32 user32 gdi32)
# Without symbols, as SetUp.exe is shipped: both load as much from disk.
target_link_options(bench_bare PRIVATE -s)

add_executable(bench_driver ${CMAKE_SOURCE_DIR}/bench/driver.cpp)
setup_target_options(bench_driver)
target_link_libraries(bench_driver PRIVATE testsupport psapi)
add_dependencies(bench_driver bench_bare SetUp)

add_test(NAME BenchSmoke COMMAND bench_driver install 100 4096 1 1.20)
set_tests_properties(BenchSmoke PROPERTIES TIMEOUT 120)
add_test(NAME BenchSmokeOverCadFiles COMMAND bench_driver e2e-own 10 4096 1 1.10)
set_tests_properties(BenchSmokeOverCadFiles PROPERTIES TIMEOUT 120)
