// The simulator's control text: what a reader takes from any text, written
// again and read again, is the same.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "sim/wire.h"

namespace wire = krx3sim::wire;

namespace {

template <class T, class Write, class Read>
void RoundTrip(std::istringstream& in, Write write, Read read) {
    T value{};
    if (!read(in, &value)) return;
    const std::string text = write(value);
    std::istringstream again(text);
    T second{};
    FUZZ_CHECK(read(again, &second));
    FUZZ_CHECK(write(second) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    switch (data[0] % 4) {
        case 0:
            RoundTrip<std::string>(
                in, [](const std::string& s) { return wire::Text(s); },
                [](std::istream& i, std::string* s) { return wire::Text(i, s); });
            break;
        case 1:
            RoundTrip<std::vector<krx3sim::Log>>(
                in, [](const auto& l) { return wire::Logs(l); },
                [](std::istream& i, auto* l) { return wire::Logs(i, l); });
            break;
        case 2:
            RoundTrip<krx3sim::Behaviour>(
                in, [](const auto& b) { return wire::Behaviours(b); },
                [](std::istream& i, auto* b) { return wire::Behaviours(i, b); });
            break;
        default:
            RoundTrip<std::vector<wire::AgedCommand>>(
                in, [](const auto& c) { return wire::Commands(c); },
                [](std::istream& i, auto* c) { return wire::Commands(i, c); });
            break;
    }
    return 0;
}
