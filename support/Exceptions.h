// The program's exception model: one base class carrying a class name and a
// message. The class name is what a bug report shows, so every class states
// its own (never a compiler-mangled type name).
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

#define QEX_DECLARE_EXCEPTION(Name, Base)                        \
  class Name : public Base {                                     \
   public:                                                       \
    using Base::Base;                                            \
    const char* ClassName() const override { return #Name; }     \
  }

// A text that is not a number ("'%s' is not a valid integer value").
QEX_DECLARE_EXCEPTION(EConvertError, Exception);
// A refused registry operation ("Failed to set data for '%s'", ...).
QEX_DECLARE_EXCEPTION(ERegistryException, Exception);
// A failed platform call, with the platform's error text.
QEX_DECLARE_EXCEPTION(EOSError, Exception);
// Silent abort: never reported.
QEX_DECLARE_EXCEPTION(EAbort, Exception);
