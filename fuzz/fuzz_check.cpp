// Bytes as a bank's Samples.xml, through the findings of oxsf check and the
// coverage map: whatever tree a description builds, they report, never crash.
#include "FuzzSupport.h"

#include "BankCheck.h"
#include "Coverage.h"
#include "CoverageMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    oxfuzz::MemoryBank bank(data, size);
    if (!oxfuzz::expectingDocumentedErrors([&] { bank.initialize(); })) {
        return 0;
    }
    oxsf::checkBank(bank, "", oxsf::CheckOptions{});
    oxsf::coverageMapSvg(bank, oxsf::coverageOf(bank), 2);
    return 0;
}
