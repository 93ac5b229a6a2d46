#pragma once

#include <cstdint>

namespace varnook {

// Long loops report the index of the item they have reached. The window
// stores it in ProgressCount and yields; the command line shows a percentage.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void reached(std::int32_t index) = 0;
};

// Nothing reads the position between two yields, so loops report once per
// stretch of this many items instead of once per item.
inline constexpr std::int32_t kProgressStride = 64 * 1024;

// Reports the first position of a loop and then at least once per stride.
class ProgressTicker {
public:
    explicit ProgressTicker(Progress* progress) : progress_(progress) { }

    void at(std::int64_t index)
    {
        if (progress_ != nullptr && index >= next_) {
            progress_->reached(static_cast<std::int32_t>(index));
            next_ = index + kProgressStride;
        }
    }

private:
    Progress* progress_;
    std::int64_t next_ = -1;
};

} // namespace varnook
