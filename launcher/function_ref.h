// A borrowed callable, for functions that call back during their own run
// (a handler for each configuration line, a printer for each result line).
// Unlike std::function it neither copies nor owns what it is given, so a
// use costs one small call thunk and nothing to construct or destroy; it
// must not outlive the call it is passed to, and it is never empty.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace qlx {

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  template <typename F,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef> &&
                                        std::is_invocable_r_v<R, F&, Args...>>>
  FunctionRef(F&& callable) {  // converts implicitly, as std::function does
    using Callable = std::remove_reference_t<F>;
    if constexpr (std::is_function_v<Callable>) {
      object_ = reinterpret_cast<void*>(&callable);
      call_ = [](void* object, Args... args) -> R {
        return reinterpret_cast<Callable*>(object)(std::forward<Args>(args)...);
      };
    } else {
      object_ = const_cast<void*>(static_cast<const void*>(std::addressof(callable)));
      call_ = [](void* object, Args... args) -> R {
        return (*static_cast<Callable*>(object))(std::forward<Args>(args)...);
      };
    }
  }

  R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void* object_;
  R (*call_)(void*, Args...);
};

}  // namespace qlx
