// The session and teardown the table fuzz targets share: a session on the process's own file
// list that never waits for a lock, and a quiet close of the in-memory directory after each
// input.
#pragma once

#include <cstdint>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "storage/file_list.h"

namespace kura::fuzzing {

// A session that tries a busy lock twice without pausing, so no input can make a target wait.
inline TDataSession* MakeNoWaitSession(TFileList& list) {
  auto* made = new TDataSession(false, list);
  TLockRetryRules rules;
  rules.FixedTries = 2;
  rules.Pause = [](std::uint32_t) {};
  made->SetLockRetryRules(rules);
  made->SetLockRetryCount(0);
  return made;
}

// Closes every table of the directory, then the directory; answers whether closing a table
// raised (a damaged table may refuse to write itself back).
inline bool CloseDirectoryQuietly(TDataSession& session, TDataDirectory& directory) {
  bool raised = false;
  try {
    directory.CloseAllTables();
  } catch (const EKuraEngineError&) {
    raised = true;
  }
  session.CloseDirectory(&directory);
  return raised;
}

}  // namespace kura::fuzzing
