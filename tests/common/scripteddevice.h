#pragma once
// A device played on the master side of a pseudo-terminal, in its own thread: each request (bytes
// followed by 20 ms of silence) is logged and answered by the next scripted reply. For tests of the
// engine and of what is built on it, with the exact bytes and timing a test needs.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pty.h"
#include "transport/crc16.h"
#include "transport/frame.h"

using Bytes = std::vector<uint8_t>;

inline Bytes WithCrc(Bytes body)
{
    const uint16_t crc = ModbusCrc16(body.data(), body.size());
    body.push_back(static_cast<uint8_t>(crc >> 8));
    body.push_back(static_cast<uint8_t>(crc & 0xFF));
    return body;
}

inline Bytes FrameBytes(const TFrame &f)
{
    return Bytes(f.data.begin(), f.data.begin() + f.size);
}

// One way of answering a request: bursts of bytes, each after a pause.
struct Burst {
    int delayMs;
    Bytes bytes;
};
using Reply = std::vector<Burst>;

// Plays the device on the master side of a pty in its own thread. Each request (bytes followed by 20 ms
// of silence) is logged and answered by the next scripted reply; an empty reply is silence.
class ScriptedDevice {
public:
    explicit ScriptedDevice(TestPty &pty) : pty_(pty), thread_([this] { Run(); }) { }
    ~ScriptedDevice()
    {
        stop_ = true;
        thread_.join();
    }
    void Script(std::initializer_list<Reply> replies)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Reply &r : replies)
            replies_.push_back(r);
    }
    // When set, every request without a scripted reply gets this answer.
    void AnswerAlways(Reply reply)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        always_ = std::move(reply);
    }
    // When set, every request without a scripted reply is answered by what this gives for it.
    void SetResponder(std::function<Reply(const Bytes &)> responder)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        responder_ = std::move(responder);
    }
    // Close the line right after the next request arrives.
    void HangUpOnNextRequest() { hangUp_ = true; }
    std::vector<Bytes> Requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    size_t RequestCount()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_.size();
    }
    // When each burst so far began to be written, oldest first: no byte of it can have reached the
    // program earlier, so a time measured from here is never too long.
    std::vector<std::chrono::steady_clock::time_point> BurstTimes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return burstTimes_;
    }

private:
    void Run()
    {
        Bytes pending;
        auto lastByte = std::chrono::steady_clock::now();
        while (!stop_) {
            if (pty_.Master() < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            pollfd pfd{pty_.Master(), POLLIN, 0};
            ::poll(&pfd, 1, 2);
            uint8_t buf[512];
            const ssize_t n = ::read(pty_.Master(), buf, sizeof buf);
            if (n > 0) {
                pending.insert(pending.end(), buf, buf + n);
                lastByte = std::chrono::steady_clock::now();
                continue;
            }
            if (pending.empty() || std::chrono::steady_clock::now() - lastByte < std::chrono::milliseconds(20))
                continue;
            Reply reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(pending);
                if (!replies_.empty()) {
                    reply = replies_.front();
                    replies_.pop_front();
                } else if (responder_) {
                    reply = responder_(pending);
                } else {
                    reply = always_;
                }
            }
            pending.clear();
            if (hangUp_) {
                hangUp_ = false;
                pty_.CloseMaster();
                continue;
            }
            for (const Burst &b : reply) {
                std::this_thread::sleep_for(std::chrono::milliseconds(b.delayMs));
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    burstTimes_.push_back(std::chrono::steady_clock::now());
                }
                pty_.Send(b.bytes);
            }
        }
    }

    TestPty &pty_;
    std::mutex mutex_;
    std::deque<Reply> replies_;
    Reply always_;
    std::function<Reply(const Bytes &)> responder_;
    std::vector<Bytes> requests_;
    std::vector<std::chrono::steady_clock::time_point> burstTimes_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> hangUp_{false};
    std::thread thread_;
};
