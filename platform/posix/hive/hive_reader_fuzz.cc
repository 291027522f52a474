// libFuzzer target for the hive reader: any bytes are read as a hive, the
// whole tree walked and a subkey looked up, and the check that a hive passes
// before it is served run on it; a crash, a leak or a read outside the input
// is a fault.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_check.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_walk.h"

namespace {

using orvik::posix::hive::HiveReader;
using orvik::posix::hive::HiveVisitor;
using orvik::posix::hive::KeyNode;
using orvik::posix::hive::ValueNode;

class Visitor : public HiveVisitor {
 public:
  explicit Visitor(const HiveReader& reader) : reader_(reader) {}
  LONG EnterKey(const KeyNode& key, const std::u16string& class_name,
                const std::string& security) override {
    total_ += key.name.size() + class_name.size() + security.size();
    uint32_t found = 0;
    reader_.FindSubkey(key, u"Select", &found);
    return ERROR_SUCCESS;
  }
  LONG Value(const ValueNode& value, const std::string& data) override {
    total_ += value.name.size() + data.size();
    return ERROR_SUCCESS;
  }
  LONG LeaveKey(const KeyNode&) override { return ERROR_SUCCESS; }

 private:
  const HiveReader& reader_;
  size_t total_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<HiveReader> reader;
  if (HiveReader::FromBytes(data, size, &reader) != ERROR_SUCCESS) return 0;
  Visitor visitor(*reader);
  orvik::posix::hive::WalkHive(*reader, visitor);
  std::vector<orvik::posix::hive::HashRepair> repairs;
  orvik::posix::hive::CheckHiveTree(*reader, &repairs);
  return 0;
}
