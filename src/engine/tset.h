// The engine's one container: an ordered, duplicate-free set of owned narrow strings,
// compared without regard to letter case in the ANSI code page, read through a forward
// and a reverse cursor. A call that yields a string returns 0; 259 ends a walk.
#pragma once

#include <cstdint>
#include <set>

namespace engine {

constexpr uint32_t kNoMoreItems = 259;

class TSet {
public:
    TSet() = default;
    TSet(const TSet&) = delete;
    TSet& operator=(const TSet&) = delete;
    virtual ~TSet();

    [[nodiscard]] uint32_t Insert(const char* text);
    TSet& AddAll(TSet& other);
    uint32_t Count() const { return static_cast<uint32_t>(items_.size()); }
    bool IsEmpty() const { return items_.empty(); }
    bool Contains(const char* text) const;

    uint32_t First(const char** out);
    uint32_t Next(const char** out);
    uint32_t Last(const char** out);
    uint32_t Previous(const char** out);
    uint32_t RemoveCurrent(const char** out);

private:
    struct Less {
        bool operator()(const char* a, const char* b) const;
    };
    using Items = std::set<char*, Less>;
    Items items_;
    // Both cursors point at the string they stand on. The forward cursor is at its end
    // when it equals end(); the reverse cursor, which can also run off the front, carries
    // a flag instead.
    Items::iterator reverse_ = items_.end();
    Items::iterator forward_ = items_.end();
    bool reverseValid_ = false;
};

}  // namespace engine
