# The details window's QStat output: the cut and the three parsers, over the in-memory
# grids and list. The list's header also declares the window's list box, so the Widgets
# headers are needed to compile; nothing of Widgets runs.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)
tarvex_fuzzer(fuzz_details fuzz_details.cpp
  ${TOP}/details/Module2.cpp ${TOP}/grid/GridData.cpp)
target_link_libraries(fuzz_details PRIVATE Qt6::Widgets)
