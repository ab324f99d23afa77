// A demo sheet file's bytes, decoded and checked as --demo does before recording.
// Every refusal is a DemoSheet::Failure; anything else thrown is a fault.

#include "sheets/DemoSheet.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        auto sheet = vanto::DemoSheet::decode(bytes);
        for (auto index : sheet.takes())
            if (index >= sheet.scenes.size()) std::abort();
        sheet.validate();
    } catch (const vanto::DemoSheet::Failure& failure) {
        (void)failure.what();
    }
    return 0;
}
