#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace err {

// The record every failure of the agent travels as: where it was raised, what failed, a
// code chosen by the raising component and the operating-system error current at that
// moment. Copies are cheap and never throw, so an error can be caught, copied and raised
// again under another kind of the family without losing a field.
class CGeneralError {
public:
    // The texts are kept as pointers: pass literals or storage that outlives the error.
    CGeneralError(const char* source, const char* message, int line, int value,
                  std::uint32_t systemError) noexcept;
    // A message composed at run time is owned by the error and by all its copies.
    CGeneralError(const char* source, std::string message, int line, int value,
                  std::uint32_t systemError);

    const char* Source() const noexcept { return source_; }
    const char* Message() const noexcept { return message_; }
    int Line() const noexcept { return line_; }
    int Value() const noexcept { return value_; }
    std::uint32_t SystemError() const noexcept { return systemError_; }

private:
    std::shared_ptr<const std::string> ownedMessage_;
    const char* source_;
    const char* message_;
    int line_;
    int value_;
    std::uint32_t systemError_;
};

// The operating system's error code for the call that just failed: errno on Linux, the
// thread's last error on Windows.
std::uint32_t LastSystemError() noexcept;

}  // namespace err

// Declares one kind of the family. A kind adds nothing to its base but its name, so a catch
// site can select by it; it can also be built from any member of the family, which is how
// an error is raised again as another kind with its five fields kept.
#define WARDEX_ERROR_KIND(Name, Base)                                                    \
    class Name : public Base {                                                           \
    public:                                                                              \
        using BaseKind = Base;                                                           \
        using BaseKind::BaseKind;                                                        \
        explicit Name(const ::err::CGeneralError& fields) noexcept : BaseKind(fields) {} \
    }
