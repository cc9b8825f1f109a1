// Event properties: a function together with the object it is called on.
//
// Two events are equal when both parts are equal; SameFunction compares the
// function part alone (the device controller's property writes rely on it).
// An unset event is not raised: callers test it before calling.
#pragma once

#include <utility>

template <class Signature>
class Event;

template <class R, class... A>
class Event<R(A...)> {
 public:
  using Thunk = R (*)(void*, A...);

  Event() = default;

  // Binds a member function; the thunk is unique per member function, so it
  // serves as the "function part" for comparisons.
  template <auto Method, class C>
  static Event Bind(C* object) {
    Event e;
    e.object_ = object;
    e.thunk_ = [](void* o, A... args) -> R {
      return (static_cast<C*>(o)->*Method)(std::forward<A>(args)...);
    };
    return e;
  }

  // Binds a plain function taking a context pointer first (tests, C code).
  static Event FromFunction(Thunk function, void* context) {
    Event e;
    e.object_ = context;
    e.thunk_ = function;
    return e;
  }

  explicit operator bool() const { return thunk_ != nullptr; }
  R operator()(A... args) const { return thunk_(object_, std::forward<A>(args)...); }

  bool SameFunction(const Event& other) const { return thunk_ == other.thunk_; }
  bool operator==(const Event& other) const {
    return thunk_ == other.thunk_ && object_ == other.object_;
  }
  bool operator!=(const Event& other) const { return !(*this == other); }
  void* Object() const { return object_; }

 private:
  void* object_ = nullptr;
  Thunk thunk_ = nullptr;
};

class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = Event<void(TObject* Sender)>;
