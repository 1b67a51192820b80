#include "common/err/GeneralError.h"

namespace err {

CGeneralError::CGeneralError(const char* source, const char* message, int line, int value,
                             std::uint32_t systemError) noexcept
    : source_(source ? source : ""),
      message_(message ? message : ""),
      line_(line),
      value_(value),
      systemError_(systemError) {}

CGeneralError::CGeneralError(const char* source, std::string message, int line, int value,
                             std::uint32_t systemError)
    : ownedMessage_(std::make_shared<const std::string>(std::move(message))),
      source_(source ? source : ""),
      message_(ownedMessage_->c_str()),
      line_(line),
      value_(value),
      systemError_(systemError) {}

}  // namespace err
