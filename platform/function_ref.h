// FunctionRef: a non-owning reference to a callable, for callbacks that run only during the call
// they are passed to. Unlike std::function it never allocates, so it suits calls made once per
// key or value of a registry walk. The callable must outlive the FunctionRef.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace hm {

template <typename Signature>
class FunctionRef;

template <typename Result, typename... Args>
class FunctionRef<Result(Args...)> {
 public:
  template <typename Callable,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<Callable>, FunctionRef>>>
  FunctionRef(Callable&& callable)  // NOLINT: converts implicitly, like std::function
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
        call_([](void* object, Args... args) -> Result {
          return (*static_cast<std::add_pointer_t<Callable>>(object))(std::forward<Args>(args)...);
        }) {}

  Result operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void* object_;
  Result (*call_)(void*, Args...);
};

}  // namespace hm
