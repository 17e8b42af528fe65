# The Ping control's pure parts: address texts and property conversions, and the decoding
# of what an ICMP socket receives.
tarvex_fuzzer(fuzz_dottedip fuzz_dottedip.cpp
  ${TOP}/ping/Address.cpp ${TOP}/ping/Conversions.cpp ${TOP}/core/text/TextRules.cpp)
tarvex_fuzzer(fuzz_icmpreply fuzz_icmpreply.cpp
  ${TOP}/ping/icmp/Checksum.cpp ${TOP}/ping/icmp/IcmpEcho.cpp ${TOP}/ping/icmp/IpStatus.cpp
  ${TOP}/core/net/IcmpErrors.cpp)
