# The About box's registry look-up: GetKeyValue's cut of the value buffer.
tarvex_fuzzer(fuzz_getkeyvalue fuzz_getkeyvalue.cpp ${TOP}/core/about/Registry.cpp)
