// A first-in first-out queue over one vector. std::deque's block map costs
// the stub more code per element type than its queues are worth: they hold
// a few messages at a time and are emptied often.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace qlx {

template <typename T>
class Fifo {
 public:
  bool empty() const { return head_ == items_.size(); }
  size_t size() const { return items_.size() - head_; }
  T& front() { return items_[head_]; }

  template <typename... Args>
  void emplace_back(Args&&... args) {
    items_.emplace_back(std::forward<Args>(args)...);
  }
  void push_back(T item) { items_.push_back(std::move(item)); }

  // The element goes at once (a message's bytes are freed here); the room
  // before the head is given back when the queue runs empty, or when it is
  // most of the vector of a queue that never does.
  void pop_front() {
    items_[head_++] = T();
    if (head_ == items_.size()) {
      items_.clear();
      head_ = 0;
    } else if (head_ >= 16 && head_ * 2 >= items_.size()) {
      items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
  }

 private:
  std::vector<T> items_;
  size_t head_ = 0;
};

}  // namespace qlx
