#pragma once
// A minimal Modbus master for the simulator's tests: opens a pty slave raw, writes a request and
// collects the answer until the line has been silent for a while.

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "modbusslave.h"

namespace simtest {

using kestsim::Bytes;

inline Bytes Frame(std::initializer_list<uint8_t> head)
{
    Bytes b(head);
    kestsim::AppendCrc(b);
    return b;
}

inline Bytes Read(uint8_t addr, uint16_t reg, uint16_t count)
{
    return Frame({addr, 0x03, uint8_t(reg >> 8), uint8_t(reg), uint8_t(count >> 8), uint8_t(count)});
}

inline Bytes WriteOne(uint8_t addr, uint16_t reg, uint16_t value)
{
    return Frame({addr, 0x06, uint8_t(reg >> 8), uint8_t(reg), uint8_t(value >> 8), uint8_t(value)});
}

inline Bytes WriteWords(uint8_t addr, uint16_t reg, const std::vector<uint16_t> &words)
{
    Bytes b{addr, 0x10, uint8_t(reg >> 8), uint8_t(reg), 0, uint8_t(words.size()), uint8_t(words.size() * 2)};
    for (uint16_t w : words)
        kestsim::PutU16(b, w);
    kestsim::AppendCrc(b);
    return b;
}

inline Bytes WriteFloats(uint8_t addr, uint16_t reg, const std::vector<float> &values)
{
    std::vector<uint16_t> words;
    for (float v : values) {
        uint16_t hi, lo;
        kestsim::FloatToWords(v, hi, lo);
        words.push_back(hi);
        words.push_back(lo);
    }
    return WriteWords(addr, reg, words);
}

// Float k (1-based) of a read answer whose first float starts at data byte `firstByte` (0-based frame index).
inline float FloatAt(const Bytes &answer, size_t frameIndex)
{
    return answer.size() >= frameIndex + 4 ? kestsim::GetFloat(&answer[frameIndex]) : -1e30f;
}

class Line {
public:
    explicit Line(const std::string &path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool Send(const Bytes &b)
    {
        tcflush(fd_, TCIFLUSH);
        return write(fd_, b.data(), b.size()) == ssize_t(b.size());
    }

    // Bytes that arrive within `firstMs`, then until `silenceMs` pass without a byte.
    Bytes Collect(int firstMs = 1500, int silenceMs = 80, size_t limit = 1 << 20)
    {
        Bytes out;
        int wait = firstMs;
        while (out.size() < limit) {
            pollfd p{fd_, POLLIN, 0};
            const int r = poll(&p, 1, wait);
            if (r <= 0)
                break;
            if (p.revents & (POLLHUP | POLLERR)) {
                hungUp_ = true;
                break;
            }
            uint8_t buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) {
                hungUp_ = n < 0 && errno == EIO;
                break;
            }
            out.insert(out.end(), buf, buf + n);
            wait = silenceMs;
        }
        return out;
    }

    Bytes Exchange(const Bytes &request, int firstMs = 1500, int silenceMs = 80)
    {
        if (!Send(request))
            return {};
        return Collect(firstMs, silenceMs);
    }
    bool hungUp() const { return hungUp_; }

private:
    int fd_ = -1;
    bool hungUp_ = false;
};

inline bool ValidAnswer(const Bytes &b)
{
    return b.size() >= 4 && kestsim::HasValidCrc(b.data(), b.size());
}

} // namespace simtest
