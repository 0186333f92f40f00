// Values kept a while under a key, so that asking again soon costs less than making them
// again: each with the time it was last used, at most so many of them and so many bytes
// together (the least recently used goes first to make room), and a timer of the program's
// loop that forgets those nobody asked for during the keep time and gives their memory back.
// What a value is, how it is made and when it no longer stands is the keeper's own.
// For the loop's thread only.
#pragma once

#include "platform/ExpiryTimer.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <unordered_map>
#include <utility>

namespace quenloft {

// Gives the memory of forgotten values back to the system: a large value's pages would
// otherwise stay with the process.
void GiveMemoryBack();

template <typename Key, typename Value>
class KeptCache {
public:
    using Clock = ExpiryTimer::Clock;
    // Told of each value that goes to make room or for the keep time (not of one the keeper
    // replaces or forgets itself).
    using OnDrop = std::function<void(const Key&)>;

    explicit KeptCache(size_t mostValues, size_t mostBytes = SIZE_MAX, OnDrop onDrop = {})
        : mostValues_(mostValues), mostBytes_(mostBytes), onDrop_(std::move(onDrop)) {}
    KeptCache(const KeptCache&) = delete;
    KeptCache& operator=(const KeptCache&) = delete;

    // The value kept for `key`, or null. Finding it is not using it.
    Value* Find(const Key& key) {
        auto found = values_.find(key);
        return found == values_.end() ? nullptr : &found->second.Kept;
    }

    // The value kept for `key` when `stands(value)` says it still stands for what it was
    // made from; its keep time starts again. Else null, and the value stays.
    template <typename Stands>
    Value* Use(const Key& key, Stands&& stands) {
        auto found = values_.find(key);
        if (found == values_.end() || !stands(std::as_const(found->second.Kept))) {
            return nullptr;
        }
        found->second.Used = Clock::now();
        return &found->second.Kept;
    }

    // Keeps `value`, of `bytes` bytes, for `key` in place of any value kept for it.
    Value& Keep(const Key& key, Value value, size_t bytes) {
        Forget(key);
        MakeRoom(bytes);
        auto kept = values_.emplace(key, Entry{std::move(value), bytes, Clock::now()}).first;
        bytes_ += bytes;
        expiry_.CallAt(Clock::now() + keepFor_);
        return kept->second.Kept;
    }

    void Forget(const Key& key) {
        if (auto found = values_.find(key); found != values_.end()) {
            bytes_ -= found->second.Bytes;
            values_.erase(found);
        }
    }

    void Clear() {
        values_.clear();
        bytes_ = 0;
    }

    template <typename Visit>
    void ForEach(Visit&& visit) {
        for (auto& [key, entry] : values_) {
            visit(entry.Kept);
        }
    }

    // Values are forgotten once nobody has used them for this long (10 s unless set).
    void KeepFor(std::chrono::milliseconds time) {
        keepFor_ = time;
        if (!values_.empty()) {
            expiry_.CallAt(Clock::now()); // the new time applies to what is kept already
        }
    }

    size_t Kept() const { return values_.size(); }
    size_t Bytes() const { return bytes_; }

private:
    struct Entry {
        Value Kept;
        size_t Bytes;
        Clock::time_point Used;
    };
    using Entries = std::unordered_map<Key, Entry>;

    // The least recently used go until `bytes` more and one more value fit.
    void MakeRoom(size_t bytes) {
        while (!values_.empty() && (bytes_ + bytes > mostBytes_ || values_.size() >= mostValues_)) {
            Drop(std::min_element(values_.begin(), values_.end(), [](const auto& a, const auto& b) {
                return a.second.Used < b.second.Used;
            }));
        }
    }

    void Drop(typename Entries::iterator entry) {
        if (onDrop_) {
            onDrop_(entry->first);
        }
        bytes_ -= entry->second.Bytes;
        values_.erase(entry);
    }

    void Expire() {
        auto now = Clock::now();
        size_t before = values_.size();
        auto next = Clock::time_point::max();
        for (auto it = values_.begin(); it != values_.end();) {
            auto entry = it++;
            if (now - entry->second.Used >= keepFor_) {
                Drop(entry);
            } else {
                next = std::min(next, entry->second.Used + keepFor_);
            }
        }
        if (values_.size() < before) {
            GiveMemoryBack();
        }
        if (!values_.empty()) {
            expiry_.CallAt(next);
        }
    }

    size_t mostValues_;
    size_t mostBytes_;
    OnDrop onDrop_;
    Entries values_;
    size_t bytes_ = 0;
    std::chrono::milliseconds keepFor_ = std::chrono::seconds(10);
    // When it fires, the values not used during the keep time are forgotten.
    ExpiryTimer expiry_{[this] { Expire(); }};
};

} // namespace quenloft
