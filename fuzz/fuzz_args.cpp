// krx3's arguments: any command line is taken or refused as a usage error,
// and one that is taken names what its command needs.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The arguments, separated by NUL bytes (at most 16).
    std::vector<std::string> args{"krx3"};
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size) + '\0');
    for (std::string arg; args.size() < 17 && std::getline(in, arg, '\0');) args.push_back(arg);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    Options o;
    const int status = parse(static_cast<int>(argv.size()), argv.data(), &o);
    FUZZ_CHECK(status == kDone || status == kUsage);
    if (status != kDone) return 0;
    FUZZ_CHECK(!o.to.empty());
    if (o.command == "pull") FUZZ_CHECK(o.all_new != !o.names.empty());
    if (o.command == "delete") FUZZ_CHECK(!o.saved_in.empty() && !o.names.empty());
    if (o.command != "pull" && o.command != "delete") FUZZ_CHECK(o.names.empty() && !o.all_new);
    for (const std::string& name : o.names) FUZZ_CHECK(name.empty() || name[0] != '-');
    return 0;
}
