# The details window's QStat output: the cut and the three parsers.
tarvex_fuzzer(fuzz_details fuzz_details.cpp ${TOP}/core/details/QStatOutput.cpp)
