#pragma once

#include "core/base/bytes.h"
#include "core/base/failure.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// A broken property is a finding, like a crash.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                     \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// What the action gives, "ok " and the bytes as text, or "failure " and the
// reason: two ways to the same result compare whole, failures included.
template <class Action> std::string outcome(Action&& action)
{
    try {
        const varnook::Bytes bytes = action();
        return "ok " + std::string(bytes.begin(), bytes.end());
    } catch (const varnook::Failure& e) {
        return std::string("failure ") + e.what();
    }
}
