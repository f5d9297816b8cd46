#pragma once
// A seam for tests: called after every yield the search command makes to the window system.

#include <functional>

namespace SearchHooks {
std::function<void()> &AfterYield();
} // namespace SearchHooks
