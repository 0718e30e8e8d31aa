#include "base/Error.h"

#include <cstring>

namespace tandem {

Error posixError(const std::string& what, int errnum) {
    return Error{"NSPOSIXErrorDomain", errnum, what + ": " + std::strerror(errnum)};
}

} // namespace tandem
