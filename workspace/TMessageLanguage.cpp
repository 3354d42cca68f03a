#include "TMessageLanguage.h"

#include <atomic>

namespace torvane {

namespace {

// Set before any work and only read after, but the loader's threads may read it: atomic, at no cost.
std::atomic<bool> English{false};

} // namespace

void setEnglishMessages(bool english)
{
    English.store(english, std::memory_order_relaxed);
}

bool englishMessages()
{
    return English.load(std::memory_order_relaxed);
}

QString say(QStringView japanese, QStringView english)
{
    return (englishMessages() ? english : japanese).toString();
}

} // namespace torvane
