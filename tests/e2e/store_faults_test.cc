// End-to-end tests of orvik on a registry that cannot be read, with an
// output that cannot be written, on a chain of keys as deep as keys may be,
// and deleting a tree while another process adds to it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

namespace fs = std::filesystem;

std::string Chain(int levels) {
  std::string path;
  for (int i = 0; i < levels; ++i) path += (i == 0 ? "" : "\\") + std::string("k");
  return path;
}

class StoreFaultsTest : public ::testing::Test {
 protected:
  ProcessResult Orvik(const std::vector<std::string>& args, RunOptions options = {}) {
    if (options.unset_env.empty()) options.env.push_back({"ORVIK_REGISTRY", registry_.path()});
    return RunProgram(OrvikPath(), args, options);
  }
  ProcessResult Tool(const std::vector<std::string>& args) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    return RunProgram(BuildDir() + "/orvik-registry-tool", args, options);
  }
  // Runs orvik through the shell, with `redirection` after its arguments.
  ProcessResult OrvikRedirected(const std::vector<std::string>& args,
                                const std::string& redirection) {
    std::vector<std::string> sh = {"-c", "exec \"$0\" \"$@\" " + redirection, OrvikPath()};
    sh.insert(sh.end(), args.begin(), args.end());
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    return RunProgram("/bin/sh", sh, options);
  }

  TempDir registry_;
};

// ---- A registry that cannot be read -----------------------------------------------------

TEST_F(StoreFaultsTest, AReaderReportsARegistryItCannotReadWithThePlatformsText) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  constexpr uid_t kUserWithoutEntry = 54321;
  if (getpwuid(kUserWithoutEntry) != nullptr) GTEST_SKIP() << "uid 54321 has an entry";
  const std::string denied = "Error: Access is denied.";
  struct Case {
    const char* what;
    std::string expected;
    bool as_nobody;
  };
  const Case cases[] = {
      {"corrupted database",
       "Error: The registry is corrupted. The structure of one of the files containing registry "
       "data is corrupted, or the system's memory image of the file is corrupted, or the file "
       "could not be recovered because the alternate copy or log was absent or corrupted.",
       false},
      {"store the user may not read", denied, true},
      {"directory that is a regular file", "Error: The directory name is invalid.", false},
      {"read-only directory without -wal and -shm", denied, true},
      {"no home directory",
       "Error: There is no home directory for the registry; set HOME or ORVIK_REGISTRY.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir parent;
    std::string dir = parent.File("reg");
    RunOptions options;
    options.as_unprivileged_user = c.as_nobody;
    const std::string what = c.what;
    auto add = [&](const std::string& umask) {
      RunOptions setup;
      setup.env = {{"ORVIK_REGISTRY", dir}};
      const ProcessResult r = RunProgram(
          "/bin/sh",
          {"-c", "umask " + umask + "; exec \"$0\" ADD 'HKCU\\Software\\x'", OrvikPath()}, setup);
      ASSERT_EQ(r.exit_code, 0) << r.out;
    };
    if (what == "corrupted database") {
      add("022");
      fs::remove(dir + "/registry.db-wal");
      fs::remove(dir + "/registry.db-shm");
      WriteFileBytes(dir + "/registry.db", std::string(8192, 'x'));
    } else if (what == "store the user may not read") {
      add("077");
      chmod(dir.c_str(), 0755);  // the directory itself may be entered
    } else if (what == "directory that is a regular file") {
      dir = parent.File("file");
      WriteFileBytes(dir, "not a directory");
    } else if (what == "read-only directory without -wal and -shm") {
      add("022");
      fs::remove(dir + "/registry.db-wal");
      fs::remove(dir + "/registry.db-shm");
      chmod(dir.c_str(), 0555);
    } else {
      options.unprivileged_uid = kUserWithoutEntry;
      options.unset_env = {"HOME", "XDG_DATA_HOME", "ORVIK_REGISTRY"};
    }
    if (options.unset_env.empty()) options.env = {{"ORVIK_REGISTRY", dir}};
    // Neither a missing key nor, for COMPARE, a difference.
    const std::vector<std::vector<std::string>> commands = {
        {"QUERY", "HKCU\\Software\\x"},
        {"QUERY", "HKCU\\Software\\missing"},
        {"COMPARE", "HKCU\\Software\\x", "HKCU\\Software\\missing"},
        {"COMPARE", "HKCU\\Software\\x", "HKCU\\Software\\x", "/v", "v"},
        {"COPY", "HKCU\\Software\\x", "HKCU\\Software\\y"},
    };
    for (const std::vector<std::string>& args : commands) {
      const ProcessResult r = RunProgram(OrvikPath(), args, options);
      EXPECT_EQ(r.exit_code, 1) << args[0] << " " << args[1];
      EXPECT_EQ(r.out, Report(c.expected)) << args[0] << " " << args[1];
    }
  }
}

TEST_F(StoreFaultsTest, AKeyThatIsNotThereIsStillMissing) {
  const ProcessResult r = Orvik({"QUERY", "HKCU\\Software\\NotHere"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Report("Error: Key: software\\nothere does not exist!"));
}

// ---- Output that cannot be written ------------------------------------------------------

TEST_F(StoreFaultsTest, OutputThatCannotBeWrittenFailsTheRun) {
  const struct {
    const char* redirection;
    const char* reason;
  } cases[] = {
      {"> /dev/full", "No space left on device"},
      {">&-", "Bad file descriptor"},
  };
  ASSERT_EQ(Orvik({"ADD", "HKCU\\Software\\Out", "/v", "v", "/d", "1"}).exit_code, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.redirection);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"QUERY", "HKCU\\Software", "/s"},
                                               {"QUERY", "HKCU\\Software\\Missing"},
                                               {"ADD", "/?"}}) {
      const ProcessResult r = OrvikRedirected(args, c.redirection);
      EXPECT_EQ(r.exit_code, 1) << args[0];
      EXPECT_EQ(r.err, std::string("Error: cannot write to standard output: ") + c.reason + "\r\n")
          << args[0];
    }
    // A run that prints nothing has nothing to lose.
    const ProcessResult quiet = OrvikRedirected({"ADD", "HKCU\\Software\\Out"}, c.redirection);
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");
  }
}

// ---- The deepest keys -------------------------------------------------------------------

TEST_F(StoreFaultsTest, KeysAre512LevelsDeepAtMost) {
  const std::string deepest = "HKCU\\" + Chain(512);
  ASSERT_EQ(Orvik({"ADD", deepest, "/v", "v", "/d", "deep"}).exit_code, 0);
  const ProcessResult refused = Orvik({"ADD", deepest + "\\k"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.out, Report("Error: The parameter is incorrect."));
  // The whole chain lists and deletes.
  const ProcessResult listed = Orvik({"QUERY", "HKCU\\k", "/s"});
  ASSERT_EQ(listed.exit_code, 0);
  size_t headers = 0;
  for (size_t at = listed.out.find("HKEY_CURRENT_USER\\k"); at != std::string::npos;
       at = listed.out.find("HKEY_CURRENT_USER\\k", at + 1)) {
    ++headers;
  }
  EXPECT_EQ(headers, 512u);
  EXPECT_NE(listed.out.find(" deep\r\n"), std::string::npos);
  EXPECT_EQ(Orvik({"DELETE", "HKCU\\k"}).exit_code, 0);
  EXPECT_EQ(Orvik({"QUERY", "HKCU\\k"}).exit_code, 1);
}

// ---- DELETE while another process adds -------------------------------------------------

TEST_F(StoreFaultsTest, DeleteFinishesWhileASlowWriterAddsSubkeys) {
  ASSERT_EQ(Tool({"--per-run", "create-many", "HKCU\\Software\\Race\\Tree", "k", "1500", "0"}).out,
            "0\n");
  ProcessResult writer;
  std::thread adding([&] {
    // Names after every other, so that a removal running from the last
    // subkey down has passed them.
    writer = Tool({"create-many", "HKCU\\Software\\Race", "zzz", "8", "25"});
  });
  const ProcessResult removed = Orvik({"DELETE", "HKCU\\Software\\Race"});
  adding.join();
  // The writer ends when the key it adds to is gone.
  EXPECT_TRUE(writer.out == "0\n" || writer.out == std::to_string(ERROR_KEY_DELETED) + "\n")
      << writer.out;
  EXPECT_EQ(removed.exit_code, 0) << removed.out;
  EXPECT_EQ(removed.out, "");
}

}  // namespace
}  // namespace orvik::test
