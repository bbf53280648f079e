#include "base/build_constants.h"

namespace talvoro {

const char* const version = TALVORO_VERSION;
const char* const buildNumber = TALVORO_BUILD_NUMBER;

} // namespace talvoro
