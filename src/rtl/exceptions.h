// The exception family.  Every failure the system reports is one of these classes carrying the
// message the user sees; ClassName() is what the fatal error box names.
#ifndef KORVALE_RTL_EXCEPTIONS_H
#define KORVALE_RTL_EXCEPTIONS_H

#include <exception>
#include <string>
#include <utility>

#include "rtl/format.h"

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  // A message with names from the system in it (see MixedText): they are shown from their own
  // code page.
  explicit Exception(MixedText message)
      : message_(std::move(message.text)), names_(std::move(message.names)) {}
  const std::string& Message() const noexcept { return message_; }
  // The message with the places of the names it holds.
  MixedText Mixed() const { return MixedText{message_, names_}; }
  void SetMessage(std::string message) {
    message_ = std::move(message);
    names_.clear();
  }
  void SetMessage(MixedText message) {
    message_ = std::move(message.text);
    names_ = std::move(message.names);
  }
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
  std::vector<std::pair<size_t, size_t>> names_;
};

// Name and Base are class names, which cannot stand in parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define KOR_DECLARE_EXCEPTION(Name, Base)                                   \
  class Name : public Base {                                                \
   public:                                                                  \
    using Base::Base;                                                       \
    const char* ClassName() const noexcept override { return #Name; }       \
  }
// NOLINTEND(bugprone-macro-parentheses)

// An exception with a system error code (EOSError, EInOutError).
class ECodedError : public Exception {
 public:
  ECodedError(std::string message, int code) : Exception(std::move(message)), code_(code) {}
  ECodedError(MixedText message, int code) : Exception(std::move(message)), code_(code) {}
  int ErrorCode() const noexcept { return code_; }
  const char* ClassName() const noexcept override { return "ECodedError"; }

 private:
  int code_;
};

// The silent abort: a progress listener raises it to ask a running decode to stop.
KOR_DECLARE_EXCEPTION(EAbort, Exception);
KOR_DECLARE_EXCEPTION(EOutOfMemory, Exception);
KOR_DECLARE_EXCEPTION(EOutOfResources, EOutOfMemory);
KOR_DECLARE_EXCEPTION(EConvertError, Exception);
KOR_DECLARE_EXCEPTION(EOSError, ECodedError);
KOR_DECLARE_EXCEPTION(EInOutError, ECodedError);
KOR_DECLARE_EXCEPTION(EInvalidOperation, Exception);
KOR_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
KOR_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
KOR_DECLARE_EXCEPTION(EListError, Exception);
KOR_DECLARE_EXCEPTION(EStringListError, EListError);
KOR_DECLARE_EXCEPTION(EStreamError, Exception);
KOR_DECLARE_EXCEPTION(EFilerError, EStreamError);
KOR_DECLARE_EXCEPTION(EReadError, EFilerError);
KOR_DECLARE_EXCEPTION(EWriteError, EFilerError);
KOR_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
KOR_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);
KOR_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);

#endif
