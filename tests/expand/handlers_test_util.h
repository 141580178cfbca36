// What the handler tests share: a simulated machine with an engine on it, and a list read
// back as a vector.
#pragma once

#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "platform/sim/sim_machine.h"

namespace handlers_test {

inline std::vector<std::string> Items(engine::TSet& set) {
    std::vector<std::string> out;
    const char* s = nullptr;
    for (uint32_t r = set.First(&s); r == 0; r = set.Next(&s)) out.emplace_back(s);
    return out;
}

// Handlers take the entry's data as a writable text.
struct Data {
    explicit Data(std::string text) : buffer(std::move(text)) {}
    char* get() { return &buffer[0]; }
    std::string buffer;
};

class HandlerTest {
public:
    platform::sim::SimMachine machine;
    engine::CNuke nuke{machine.platform()};
    engine::TSet list;

    // Runs one handler on `data` into `list`.
    uint32_t Handle(uint32_t (engine::CNuke::*handler)(engine::TSet&, char*), const std::string& data) {
        Data d(data);
        return (nuke.*handler)(list, d.get());
    }
    std::vector<std::string> Listed() { return Items(list); }
};

}  // namespace handlers_test
