#include "platform/startup.h"

namespace tarvel::platform {

void prepare_process() {}

}  // namespace tarvel::platform
