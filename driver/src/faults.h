// Fault table: rules armed by the description and by the test API, consulted at each point
// where the driver can be made to fail.
//
// Thread rule: thread-safe (one internal mutex, never held while calling out).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "model.h"

namespace kvcam {

class FaultTable {
public:
    // Returns 0 when the call passes, else the code it fails with.
    int32_t Check(int32_t point, int32_t id = -1);

    // Test-API rules replace an earlier rule for the same point and id.
    void Arm(const FaultRule& rule);
    // Description rules are replaced as a set when a new description is taken.
    void SetDescriptionRules(const std::vector<FaultRule>& rules);
    void Clear();

    static int32_t DefaultCode(int32_t point);

private:
    struct Armed {
        FaultRule rule;
        int32_t seen = 0;   // matching calls passed during the skip
        int32_t fired = 0;  // failures reported
    };
    static bool Fire(Armed& a, int32_t point, int32_t id, int32_t& code);

    std::mutex mu_;
    std::vector<Armed> api_;
    std::vector<Armed> description_;
};

}  // namespace kvcam
