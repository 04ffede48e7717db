// The dataset layer's base exception: every error a dataset raises, and the base of the
// table engine's own exception. A plain std::exception with a message; no toolkit behind it.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace kura {

class EDatabaseError : public std::exception {
 public:
  explicit EDatabaseError(std::string message) : message_(std::move(message)) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

}  // namespace kura
