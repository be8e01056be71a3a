#pragma once
// Division that raises the arithmetic errors the user is shown, instead of yielding
// infinities or NaNs. The floating-point environment is never touched: the operands
// are tested before dividing, so no trap or signal is involved.

#include "runtime/Exceptions.h"

#include <cmath>
#include <limits>

namespace runtime {

// Dividend over divisor in x87 extended precision (the precision the results are
// defined in), rounded once to float32. Throws EZeroDivide for x/0 with x != 0,
// EInvalidOp for 0/0, EOverflow when the float32 result is out of range.
inline float divideToFloat(long double dividend, long double divisor)
{
    if (divisor == 0.0L) {
        if (dividend == 0.0L) throw EInvalidOp();
        throw EZeroDivide();
    }
    const float result = static_cast<float>(dividend / divisor);
    if (std::isinf(result)) throw EOverflow();
    return result;
}

}  // namespace runtime
