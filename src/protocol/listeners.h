#pragma once
// Several listeners of one kind of change. A listener stays as long as the subscription it was given:
// destroying the subscription removes it, and a subscription that outlives the source does nothing.
// A listener may add or remove listeners (itself included) while it is told.

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

template<typename... Args> class TListeners {
    struct TState {
        std::map<int, std::function<void(Args...)>> handlers;
        int nextId = 0;
    };

public:
    class TSubscription {
    public:
        TSubscription() = default;
        TSubscription(TSubscription &&other) noexcept { *this = std::move(other); }
        TSubscription &operator=(TSubscription &&other) noexcept
        {
            if (this != &other) {
                Reset();
                state_ = std::exchange(other.state_, {});
                id_ = other.id_;
            }
            return *this;
        }
        TSubscription(const TSubscription &) = delete;
        TSubscription &operator=(const TSubscription &) = delete;
        ~TSubscription() { Reset(); }

        bool Empty() const { return state_.expired(); }

        void Reset()
        {
            if (const std::shared_ptr<TState> state = state_.lock())
                state->handlers.erase(id_);
            state_.reset();
        }

    private:
        friend class TListeners;
        TSubscription(const std::shared_ptr<TState> &state, int id) : state_(state), id_(id) { }

        std::weak_ptr<TState> state_;
        int id_ = 0;
    };

    [[nodiscard]] TSubscription Add(std::function<void(Args...)> handler)
    {
        const int id = state_->nextId++;
        state_->handlers.emplace(id, std::move(handler));
        return TSubscription(state_, id);
    }

    void Notify(Args... args) const
    {
        // The ids first: a listener removed by an earlier one is not told, one added is told next time.
        std::vector<int> ids;
        ids.reserve(state_->handlers.size());
        for (const auto &entry : state_->handlers)
            ids.push_back(entry.first);
        const std::shared_ptr<TState> keep = state_; // a listener may destroy the source
        for (const int id : ids) {
            const auto it = keep->handlers.find(id);
            if (it == keep->handlers.end())
                continue;
            const std::function<void(Args...)> handler = it->second; // it may remove itself
            handler(args...);
        }
    }

private:
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
};
