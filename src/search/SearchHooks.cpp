#include "search/SearchHooks.h"

std::function<void()> &SearchHooks::AfterYield()
{
    static std::function<void()> hook;
    return hook;
}
