#pragma once
// First-in first-out queue of frames waiting to be sent.

#include "transport/frame.h"

#include <vector>

class TFrameQueue {
public:
    TFrameQueue() = default;
    ~TFrameQueue();
    TFrameQueue(const TFrameQueue &) = delete;
    TFrameQueue &operator=(const TFrameQueue &) = delete;

    void Add(TFramePtr item);
    // The frame at the head, removed from the queue; nullptr when empty.
    TFramePtr Get();
    bool IsEmpty() const { return head == nullptr; }
    // Forgets every element. A frame still referenced elsewhere (the last command sent, a window's copy)
    // stays alive through its shared owner.
    void Clear();
    int Count() const { return count_; }
    // The frames waiting, first first (for the trace and for tests; the queue is unchanged).
    std::vector<TFramePtr> Snapshot() const;

private:
    struct TElement {
        TElement *next = nullptr;
        TFramePtr value;
    };
    TElement *head = nullptr;
    TElement *tail = nullptr;
    int count_ = 0;
};
