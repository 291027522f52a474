// Stand-in until the engine is built: the operation reports that it is not
// available yet.
#include "manip/query_engine.h"
#include "registry/exception.h"

namespace orvik {

int QueryKey(Console&, const std::string&, const std::string&, const std::string&) {
  throw Exception("Error: This operation is not available yet");
}

}  // namespace orvik
