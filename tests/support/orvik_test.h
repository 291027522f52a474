// A test of the built orvik against a fresh registry and a folder of files
// that is the program's current directory, with the calls such tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace orvik::test {

class OrvikTest : public ::testing::Test {
 protected:
  // Runs orvik in the files folder; `registry` names another registry.
  ProcessResult Orvik(const std::vector<std::string>& args, bool unprivileged = false,
                      const std::string& registry = "") {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry.empty() ? registry_.path() : registry}};
    options.cwd = files_.path();
    options.as_unprivileged_user = unprivileged;
    return RunProgram(OrvikPath(), args, options);
  }
  // Runs orvik and expects success without output.
  void Ok(const std::vector<std::string>& args) {
    const ProcessResult r = Orvik(args);
    ASSERT_EQ(r.exit_code, 0) << args.front() << ": " << r.out;
    ASSERT_EQ(r.out, "") << args.front();
  }
  // Writes a value byte for byte (data in hexadecimal) with orvik-rawreg.
  void RawSet(const std::string& key, const std::string& name, int type, const std::string& hex) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg",
                                       {"seta", key, name, std::to_string(type), hex}, options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  std::string Query(const std::string& key) { return Orvik({"QUERY", key, "/s"}).out; }
  // Values of every type under `key` (a string, the unnamed value, a DWORD,
  // a multi-string, big data over 16 KiB, a QWORD) and a nested key with a
  // name and data beyond ASCII.
  void AddEveryKindOfData(const std::string& key) {
    Ok({"ADD", key, "/v", "Name", "/d", "text"});
    Ok({"ADD", key, "/ve", "/d", "unnamed"});
    Ok({"ADD", key, "/v", "Count", "/t", "REG_DWORD", "/d", "42"});
    Ok({"ADD", key, "/v", "Paths", "/t", "REG_MULTI_SZ", "/d", "C:\\a\\0C:\\b"});
    std::string blob;
    for (int i = 0; i < 12000; ++i) blob += "0a1b";
    Ok({"ADD", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob});
    Ok({"ADD", key + "\\Sub\\Deeper", "/v", "\xc3\xa9t\xc3\xa9", "/d", "\xe6\x97\xa5"});
    RawSet(key, "Qword", 11, "0102030405060708");
  }
  std::string File(const std::string& name) const { return files_.File(name); }

  TempDir registry_;
  TempDir files_;
};

}  // namespace orvik::test
