#include "transport/frametrace.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

TFrameTrace &TFrameTrace::Instance()
{
    static TFrameTrace trace;
    return trace;
}

TFrameTrace::~TFrameTrace()
{
    Close();
}

bool TFrameTrace::Open(const std::string &path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (path.empty())
        return true;
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

void TFrameTrace::OpenFromEnvironment()
{
    if (IsOn())
        return;
    const char *path = std::getenv("KEST_TRACE");
    if (path && *path)
        Open(path);
}

void TFrameTrace::Close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

bool TFrameTrace::IsOn() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != nullptr;
}

void TFrameTrace::Write(const std::string &port, const char *direction, const std::string &text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_)
        return;
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::fprintf(file_, "%s.%03d %s %s %s\n", stamp, static_cast<int>(ms), port.c_str(), direction, text.c_str());
    // Flushed per line: the trace matters most when the program is about to be killed.
    std::fflush(file_);
}
