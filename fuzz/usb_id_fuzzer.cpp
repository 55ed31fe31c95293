// Arbitrary text as a USB device's idVendor or idProduct attribute in sysfs, from which the
// drive-mode device is recognised: taken only as exactly four hexadecimal digits (with the line
// break sysfs adds, or without), and then read as exactly the number they spell.

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "platform/linux/UdevUsbDeviceList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = tarvex::ParseUsbIdAttribute(text);

    std::string_view digits = text;
    if (digits.ends_with('\n')) {
        digits.remove_suffix(1);
    }
    const bool wellFormed =
        digits.size() == 4 && std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        });
    FUZZ_CHECK(parsed.has_value() == wellFormed);
    FUZZ_CHECK(!parsed || *parsed == std::stoul(std::string(digits), nullptr, 16));
    return 0;
}
