#include "engine/tset.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/ansi.h"
#include "platform/common.h"

namespace engine {

bool TSet::Less::operator()(const char* a, const char* b) const {
    return platform::AnsiCompareNoCase(a, b) < 0;
}

TSet::~TSet() {
    for (char* s : items_) std::free(s);
}

uint32_t TSet::Insert(const char* text) {
    if (text == nullptr) return platform::kErrorInvalidParameter;
    if (items_.count(const_cast<char*>(text)) != 0) return 0;
    char* copy = strdup(text);
    if (copy == nullptr) return platform::kErrorNotEnoughMemory;
    // The tree node is a second allocation; failing it must neither leak the copy nor
    // let an exception out of the engine.
    try {
        items_.insert(copy);
    } catch (const std::bad_alloc&) {
        std::free(copy);
        return platform::kErrorNotEnoughMemory;
    }
    return 0;
}

TSet& TSet::AddAll(TSet& other) {
    if (&other == this) return *this;
    const char* s = nullptr;
    for (uint32_t r = other.First(&s); r == 0; r = other.Next(&s)) {
        (void)Insert(s);
    }
    const char* ignored = nullptr;
    (void)First(&ignored);
    (void)Last(&ignored);
    return *this;
}

bool TSet::Contains(const char* text) const {
    return text != nullptr && items_.count(const_cast<char*>(text)) != 0;
}

uint32_t TSet::First(const char** out) {
    forward_ = items_.begin();
    if (forward_ == items_.end()) return kNoMoreItems;
    *out = *forward_;
    return 0;
}

uint32_t TSet::Next(const char** out) {
    if (forward_ == items_.end()) return kNoMoreItems;
    if (++forward_ == items_.end()) return kNoMoreItems;
    *out = *forward_;
    return 0;
}

uint32_t TSet::Last(const char** out) {
    if (items_.empty()) {
        reverse_ = items_.end();
        reverseValid_ = false;
        return kNoMoreItems;
    }
    reverse_ = std::prev(items_.end());
    reverseValid_ = true;
    *out = *reverse_;
    return 0;
}

uint32_t TSet::Previous(const char** out) {
    if (!reverseValid_) return kNoMoreItems;
    if (reverse_ == items_.begin()) {
        reverseValid_ = false;
        return kNoMoreItems;
    }
    --reverse_;
    *out = *reverse_;
    return 0;
}

uint32_t TSet::RemoveCurrent(const char** out) {
    if (forward_ == items_.end()) return kNoMoreItems;
    // The reverse cursor must not be left on the freed string.
    if (reverseValid_ && reverse_ == forward_) reverseValid_ = false;
    char* doomed = *forward_;
    forward_ = items_.erase(forward_);
    std::free(doomed);
    if (forward_ == items_.end()) return kNoMoreItems;
    *out = *forward_;
    return 0;
}

}  // namespace engine
