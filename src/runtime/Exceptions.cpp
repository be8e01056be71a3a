#include "runtime/Exceptions.h"

namespace runtime {

EZeroDivide::EZeroDivide() : Exception(kZeroDivideMessage) {}
EInvalidOp::EInvalidOp() : Exception(kInvalidOpMessage) {}
EOverflow::EOverflow() : Exception(kOverflowMessage) {}

std::optional<std::string> caughtErrorText()
{
    try {
        throw;
    } catch (const EAbort&) {
        return std::nullopt;
    } catch (const Exception& e) {
        return e.message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return std::string();
    }
}

}  // namespace runtime
