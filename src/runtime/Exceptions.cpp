#include "runtime/Exceptions.h"

namespace runtime {

EZeroDivide::EZeroDivide() : Exception(kZeroDivideMessage) {}
EInvalidOp::EInvalidOp() : Exception(kInvalidOpMessage) {}
EOverflow::EOverflow() : Exception(kOverflowMessage) {}

}  // namespace runtime
