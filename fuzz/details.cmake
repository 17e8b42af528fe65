# The details window's QStat output: the cut and the three parsers, over the in-memory
# grids and list.
tarvex_fuzzer(fuzz_details fuzz_details.cpp
  ${TOP}/core/details/Module2.cpp ${TOP}/core/grid/GridData.cpp)
