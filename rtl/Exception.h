// The error classes of the whole program.
//
// Every error carries a message and the name of its class as text: some
// answers (the CGI server-error answer, SOAP faults) print that name, so it
// must be the declared class name, not a mangled type name.
#pragma once

#include <exception>
#include <string>

#include "rtl/Format.h"

namespace vv {

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  Exception(std::string_view fmt, std::initializer_list<TVarRec> args)
      : Message(Format(fmt, args)) {}
  ~Exception() override = default;

  // The declared class name ("Exception", "EListError", ...).
  virtual const char *ClassName() const noexcept { return "Exception"; }
  // True when this error is of class `name` or derives from it.
  virtual bool InheritsFrom(std::string_view name) const noexcept { return name == "Exception"; }
  const char *what() const noexcept override { return Message.c_str(); }

  std::string Message;
};

// Declares an error class `Name` deriving from `Base` with the base's
// constructors and its own class name.
#define VV_EXCEPTION(Name, Base)                                                                   \
  class Name : public Base {                                                                       \
  public:                                                                                          \
    using Base::Base;                                                                              \
    const char *ClassName() const noexcept override { return #Name; }                              \
    bool InheritsFrom(std::string_view name) const noexcept override {                             \
      return name == #Name || Base::InheritsFrom(name);                                            \
    }                                                                                              \
  }

VV_EXCEPTION(EAbort, Exception);
VV_EXCEPTION(EListError, Exception);
VV_EXCEPTION(EConvertError, Exception);
VV_EXCEPTION(EOutOfMemory, Exception);
VV_EXCEPTION(EInvalidPointer, Exception);
VV_EXCEPTION(EInvalidOperation, Exception);
VV_EXCEPTION(EStreamError, Exception);
VV_EXCEPTION(EReadError, EStreamError);
VV_EXCEPTION(EWriteError, EStreamError);
VV_EXCEPTION(EIntfCastError, Exception);
VV_EXCEPTION(EOSError, Exception);

// The message of any caught error; a foreign std::exception keeps its what().
inline std::string ErrorMessage(const std::exception &e) { return e.what(); }
// The class name of any caught error; foreign errors print as "Exception".
inline const char *ErrorClassName(const std::exception &e) {
  auto *own = dynamic_cast<const Exception *>(&e);
  return own ? own->ClassName() : "Exception";
}

} // namespace vv
