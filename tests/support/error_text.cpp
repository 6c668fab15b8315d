#include "support/error_text.h"

#include "service/common/exception.h"

namespace ZORVIK::test {

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.what();
    }
    return "(no error)";
}

}  // namespace ZORVIK::test
