# The list sources' parsers and the status reply parser.
find_package(Qt6 6.4 REQUIRED COMPONENTS Network)
tarvex_fuzzer(fuzz_listsources fuzz_listsources.cpp
  ${TOP}/core/sources/ServerAddress.cpp ${TOP}/core/status/StatusReply.cpp)
target_link_libraries(fuzz_listsources PRIVATE Qt6::Network)
