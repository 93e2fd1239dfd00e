#include "faults.h"

#include <kvcam/kvcam_sim.h>

#include <algorithm>

namespace kvcam {

int32_t FaultTable::DefaultCode(int32_t point) {
    switch (point) {
        case KVCAMSIM_FAULT_LOAD:
            return KVCAM_ERR_ALREADY_LOADED;
        case KVCAMSIM_FAULT_SEND_REGION:
            return KVCAM_ERR_REFUSED;
        case KVCAMSIM_FAULT_GRAB:
            return KVCAM_ERR_GRAB_TRANSIENT;
        default:
            return KVCAM_ERR_FAILED;
    }
}

bool FaultTable::Fire(Armed& a, int32_t point, int32_t id, int32_t& code) {
    const FaultRule& r = a.rule;
    if (r.point != point || (r.id != -1 && r.id != id)) return false;
    if (a.seen < r.skip) {
        ++a.seen;
        return false;
    }
    if (r.count != KVCAMSIM_ALWAYS && a.fired >= r.count) return false;
    ++a.fired;
    code = r.code != 0 ? r.code : DefaultCode(point);
    return true;
}

int32_t FaultTable::Check(int32_t point, int32_t id) {
    std::lock_guard lock(mu_);
    int32_t code = 0;
    // Every matching rule sees the call, so skips count calls, not earlier failures.
    for (auto* list : {&api_, &description_}) {
        for (Armed& a : *list) {
            int32_t c;
            if (Fire(a, point, id, c) && code == 0) code = c;
        }
    }
    return code;
}

void FaultTable::Arm(const FaultRule& rule) {
    std::lock_guard lock(mu_);
    std::erase_if(
        api_, [&](const Armed& a) { return a.rule.point == rule.point && a.rule.id == rule.id; });
    if (rule.count != 0) api_.push_back(Armed{rule});
}

void FaultTable::SetDescriptionRules(const std::vector<FaultRule>& rules) {
    std::lock_guard lock(mu_);
    description_.clear();
    for (const FaultRule& r : rules) description_.push_back(Armed{r});
}

void FaultTable::Clear() {
    std::lock_guard lock(mu_);
    api_.clear();
    description_.clear();
}

}  // namespace kvcam
