#include "transport/framequeue.h"

TFrameQueue::~TFrameQueue()
{
    Clear();
}

void TFrameQueue::Add(TFramePtr item)
{
    auto *node = new TElement{nullptr, std::move(item)};
    if (tail)
        tail->next = node;
    else
        head = node;
    tail = node;
    ++count_;
}

TFramePtr TFrameQueue::Get()
{
    if (!head)
        return nullptr;
    TElement *node = head;
    head = node->next;
    if (!head)
        tail = nullptr;
    TFramePtr value = std::move(node->value);
    delete node;
    --count_;
    return value;
}

void TFrameQueue::Clear()
{
    while (head) {
        TElement *next = head->next;
        delete head;
        head = next;
    }
    tail = nullptr;
    count_ = 0;
}

std::vector<TFramePtr> TFrameQueue::Snapshot() const
{
    std::vector<TFramePtr> out;
    out.reserve(static_cast<size_t>(count_));
    for (const TElement *e = head; e; e = e->next)
        out.push_back(e->value);
    return out;
}
