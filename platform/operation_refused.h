#pragma once

#include <stdexcept>

namespace zrq406 {

// Stops a device operation for a reason that the user is told in plain words (what()): not a fault of the
// program, but a refusal to go on, such as a key that would go to a device not known to be the right one.
class OperationRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace zrq406
