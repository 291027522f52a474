// Stand-in until the engine is built: the operation reports that it is not
// available yet.
#include "manip/add_engine.h"
#include "registry/exception.h"

namespace orvik {

int AddValue(const std::string&, const std::string&, const std::string&, const std::string&,
             const std::string&) {
  throw Exception("Error: This operation is not available yet");
}

}  // namespace orvik
