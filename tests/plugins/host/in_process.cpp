// The host and graphics tests drive the fixture plug-ins in their own process, where a test can
// read a fixture's call trace and count its blocks: every module of these programs goes through
// the in-process runner.  The helper runner has tests of its own (tests/plugins/helper).
#include <memory>

#include "runner/runner.h"

namespace {
const bool g_inProcess = [] {
  spirun::SetCurrent(std::make_unique<spirun::TInProcessRunner>());
  return true;
}();
}  // namespace
