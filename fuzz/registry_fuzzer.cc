// Feeds arbitrary bytes to the registry file reader as the machine's hive. Any crash, leak,
// out-of-bounds access or undefined behaviour is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/posix/regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<RegValue> values;
  for (const char* key :
       {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1",
        "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\A"}) {
    if (!ReadRegistryKey(text, key, &values)) continue;
    for (const RegValue& value : values) {
      // A string value's data is what RegQueryValueExA would copy out; touch all of it.
      volatile char sink = 0;
      for (char c : value.data) sink = sink ^ c;
      (void)sink;
    }
  }
  return 0;
}
