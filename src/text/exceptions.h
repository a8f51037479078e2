#pragma once

#include <cstdint>
#include <string>
#include <utility>

// The error classes of camfix. Every failure is raised as one of these and
// travels unhandled to the fatal error report at the top of the program, which
// prints the class name, where it was raised and the message.

class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual ~Exception() = default;

  // The class's own name as printed in the fatal error report.
  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }

  // The code address just after the call that raised the error.
  std::uintptr_t FailureAddress() const { return failure_address_; }
  void SetFailureAddress(std::uintptr_t address) { failure_address_ = address; }

 private:
  std::string message_;
  std::uintptr_t failure_address_ = 0;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EStreamError"; }
};

class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  const char* ClassName() const override { return "EFileStreamError"; }
};

class EFOpenError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
  const char* ClassName() const override { return "EFOpenError"; }
};

class EFCreateError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
  const char* ClassName() const override { return "EFCreateError"; }
};

class EFilerError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  const char* ClassName() const override { return "EFilerError"; }
};

class EReadError : public EFilerError {
 public:
  using EFilerError::EFilerError;
  const char* ClassName() const override { return "EReadError"; }
};

class EWriteError : public EFilerError {
 public:
  using EFilerError::EFilerError;
  const char* ClassName() const override { return "EWriteError"; }
};

class EStringListError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EStringListError"; }
};

class EInOutError : public Exception {
 public:
  EInOutError(std::string message, std::int32_t code)
      : Exception(std::move(message)), code_(code) {}
  const char* ClassName() const override { return "EInOutError"; }
  std::int32_t ErrorCode() const { return code_; }

 private:
  std::int32_t code_;
};

class EHeapException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EHeapException"; }
};

class EOutOfMemory : public EHeapException {
 public:
  EOutOfMemory() : EHeapException("Out of memory") {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};

// Raises `error` as raised from `address`.
template <class Error>
[[noreturn]] void RaiseAt(Error error, std::uintptr_t address) {
  error.SetFailureAddress(address);
  throw error;
}

// Raises `error` as raised just after the call of Raise in the caller.
template <class Error>
[[noreturn]] [[gnu::noinline]] void Raise(Error error) {
  RaiseAt(std::move(error), reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}
