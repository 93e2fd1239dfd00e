// libFuzzer target: Invoke on the toy dual interface, driven by dispatch_fuzz.h.
#include "dispatch_fuzz.h"
#include "fixtures/toy_dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto toy = bx::com::Make<toy::Toy>();
    bx::fuzz::FuzzDispatch(toy.Get(), data, size);
    return 0;
}
