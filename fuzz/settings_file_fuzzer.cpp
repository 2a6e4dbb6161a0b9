// Settings files through the reader and onto a host session of the real effect, then every
// control's value read back at a few frames, as a render would.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "authoring/settings_file.h"
#include "fuzz/memory_file.h"
#include "session/program_errors.h"

namespace {

HostSession& session() {
  static std::unique_ptr<HostSession> started = startSession(VORTELLINE_MODULE_PATH);
  return *started;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  HostSession& host = session();
  host.tracks.assign(host.tracks.size(), ParamTrack{});
  try {
    SettingsFile settings = readSettingsFile(file.holding(data, size));
    host.clock = settings.scene.clock;
    applyAssignments(host, settings.assignments, "fuzz.json");
    for (int position = 1; position < static_cast<int>(host.params.size()); ++position) {
      for (long frame : {0L, 1L, settings.scene.frame}) {
        definitionAt(host, position, static_cast<A_long>(frame * host.clock.timeStep), host.clock.timeScale);
      }
    }
  } catch (const UsageError&) {
  } catch (const RunError&) {
  }
  return 0;
}
