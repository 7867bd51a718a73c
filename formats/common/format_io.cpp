#include "formats/common/format_io.h"

#include "runtime/log.h"

namespace rv {

void ReadContext::warn(std::string line) {
    logText(line);
    warnings.push_back(std::move(line));
}

}  // namespace rv
