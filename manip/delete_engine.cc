// Stand-in until the engine is built: the operation reports that it is not
// available yet.
#include "manip/delete_engine.h"
#include "registry/exception.h"

namespace orvik {

int DeleteEntry(const std::string&, const std::string&) {
  throw Exception("Error: This operation is not available yet");
}

}  // namespace orvik

namespace orvik {
bool DeleteAllValues(TRegistry&) { return false; }
}  // namespace orvik
