// One libFuzzer program per entry of hardening/fuzz_entries.h, chosen by QUENVOL_FUZZ_TARGET.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hardening/fuzz_entries.h"

#ifndef QUENVOL_FUZZ_TARGET
#error "QUENVOL_FUZZ_TARGET names the entry to fuzz"
#endif

namespace {

fuzzentry::Entry chosenEntry() {
    for (const fuzzentry::Target& target : fuzzentry::kTargets) {
        if (std::strcmp(target.name, QUENVOL_FUZZ_TARGET) == 0) return target.entry;
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzzentry::Entry entry = chosenEntry();
    const std::string fault = entry(fuzzentry::Bytes(data, size));
    if (!fault.empty()) {
        // A wrong result counts as a crash, so that libFuzzer keeps the input.
        std::fprintf(stderr, "%s: %s\n", QUENVOL_FUZZ_TARGET, fault.c_str());
        std::abort();
    }
    return 0;
}
