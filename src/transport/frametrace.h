#pragma once
// The frame trace: one line per frame written, answer read, time-out, re-send or error, with a millisecond
// time stamp, the port and the bytes in hex. Off unless a file is named (KEST_TRACE=FILE or --trace FILE).
// It is what a service engineer sends when a bench misbehaves.

#include <cstdio>
#include <mutex>
#include <string>

class TFrameTrace {
public:
    static TFrameTrace &Instance();

    // Starts writing to path (appending); an empty path switches the trace off. False when the file
    // cannot be opened.
    bool Open(const std::string &path);
    // Opens the file named by KEST_TRACE, if set and nothing is open yet.
    void OpenFromEnvironment();
    void Close();
    bool IsOn() const;

    // direction: "TX", "RX", "TIMEOUT", "RESEND", "ERROR", "LINE".
    void Write(const std::string &port, const char *direction, const std::string &text);

    ~TFrameTrace();

private:
    TFrameTrace() = default;
    mutable std::mutex mutex_;
    std::FILE *file_ = nullptr;
};
