// Opening and closing the process's registry session.
#include "platform/posix/handles/registry_session.h"

#include <cstdlib>
#include <memory>

#include "platform/posix/loaded/registry_tree.h"
#include "platform/posix/store/store_location.h"

namespace orvik::posix {

namespace {

constexpr int kDefaultBusyTimeoutMs = 10000;

struct Session {
  std::unique_ptr<RegistryTree> tree;
  HandleTable handles;
  CommitPolicy policy = CommitPolicy::kPerCall;
  int busy_timeout_ms = kDefaultBusyTimeoutMs;
  bool grouping = false;
  bool exit_hook = false;
};

// Never destroyed, so the exit hook can run after static destructors began.
Session& State() {
  static Session* state = new Session;
  return *state;
}

void SetRoots(Session& state) {
  const bool writable = state.tree->Writable();
  const struct {
    HKEY handle;
    KeyId key;
  } roots[] = {
      {HKEY_CLASSES_ROOT, SqliteStore::kClassesRoot},
      {HKEY_CURRENT_USER, SqliteStore::kCurrentUser},
      {HKEY_LOCAL_MACHINE, SqliteStore::kLocalMachine},
      {HKEY_USERS, SqliteStore::kUsers},
      {HKEY_CURRENT_CONFIG, SqliteStore::kCurrentConfig},
  };
  for (const auto& root : roots) {
    KeyHandle entry;
    entry.tree = state.tree.get();
    entry.key = root.key;
    entry.access = writable ? KEY_ALL_ACCESS : KEY_READ;
    entry.predefined = true;
    state.handles.SetRoot(root.handle, entry);
  }
}

}  // namespace

LONG OpenSession(HandleTable** handles) {
  Session& state = State();
  if (!state.tree) {
    RegistryPlace place;
    if (const LONG rc = FindRegistryDirectory(&place); rc != ERROR_SUCCESS) return rc;
    std::unique_ptr<SqliteStore> store;
    const LONG rc = SqliteStore::Open(place, state.policy, state.busy_timeout_ms, &store);
    if (rc != ERROR_SUCCESS) return rc;
    state.tree = std::make_unique<RegistryTree>(std::move(store));
    if (state.grouping) state.tree->store().SetGrouping(true);
    SetRoots(state);
    if (!state.exit_hook) {
      state.exit_hook = true;
      std::atexit(CloseRegistryStore);
    }
  }
  *handles = &state.handles;
  return ERROR_SUCCESS;
}

HandleTable* OpenedHandles() {
  Session& state = State();
  return state.tree ? &state.handles : nullptr;
}

SqliteStore* OpenedStore() {
  Session& state = State();
  return state.tree ? &state.tree->store() : nullptr;
}

void CloseRegistryStore() {
  Session& state = State();
  state.handles.Clear();
  state.tree.reset();  // commits, syncs and closes
}

void SetCommitPolicy(CommitPolicy policy) { State().policy = policy; }

void SetBusyTimeout(int milliseconds) { State().busy_timeout_ms = milliseconds; }

LONG SetChangeGrouping(bool on) {
  Session& state = State();
  state.grouping = on;
  return state.tree ? state.tree->store().SetGrouping(on) : ERROR_SUCCESS;
}

}  // namespace orvik::posix
