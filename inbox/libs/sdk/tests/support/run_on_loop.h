#pragma once

#include <future>
#include <memory>
#include <type_traits>

#include "loop/loop.h"

namespace corvane {
namespace test {

// Runs the function on the loop thread and returns its result once it has run.
template <typename Function>
auto runOnLoop(Loop& loop, Function function) -> decltype(function()) {
    using Result = decltype(function());
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    loop.post([promise, function]() mutable {
        if constexpr (std::is_void_v<Result>) {
            function();
            promise->set_value();
        } else {
            promise->set_value(function());
        }
    });
    return future.get();
}

}  // namespace test
}  // namespace corvane
