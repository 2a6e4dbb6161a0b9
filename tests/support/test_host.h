// A stand-in for the compositing host that drives EffectMain the way the host does: it owns the
// PF_InData/PF_OutData pair, answers every callback and suite the effect uses, keeps the
// parameter values, hands out real pixel buffers and counts what was checked out and released.
//
// Callbacks find their TestHost through effect_ref. Suite functions receive no effect_ref, so
// they reach the most recently constructed live TestHost.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/effect_main.h"
#include "host/parameter_set.h"
#include "sdk/effect_sdk.h"
#include "sdk/smart_render_sdk.h"
#include "sdk/suites_sdk.h"

using EffectEntry = PF_Err (*)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*,
                               void*);

// Every host service whose calls are counted and can be made to fail.
enum class HostCallback {
  AddParam,
  CheckoutParam,
  CheckinParam,
  RegisterUi,
  SetOptionsButtonName,
  Abort,
  CheckoutLayer,
  CheckoutLayerPixels,
  CheckinLayerPixels,
  CheckoutOutput,
  GetPlatformData,
};

// Returned by AcquireSuite for a suite the host does not offer.
inline constexpr SPErr kSuiteNotFound = 0x53214664;  // 'S!Fd'

// A host pixel buffer with its own storage: 4 channels of 8, 16 or 32 bits per pixel.
struct HostWorld {
  PF_EffectWorld world{};
  std::vector<uint8_t> storage;

  uint8_t* row(int y) const { return reinterpret_cast<uint8_t*>(world.data) + y * world.rowbytes; }
};

struct WorldLayout {
  int width = 0;
  int height = 0;
  int bitsPerChannel = 8;  // 8, 16 or 32
  bool bottomUp = false;   // rows stored last-first: data points at the last row, rowbytes < 0
  int rowPadding = 0;      // extra bytes after each row
  int originX = 0;
  int originY = 0;
};

HostWorld makeHostWorld(const WorldLayout& layout);

struct ParamCheckout {
  PF_ParamIndex position;
  A_long what_time;
  A_long time_step;
  A_u_long time_scale;
};

struct LayerCheckout {
  PF_ParamIndex position;
  A_long checkout_id;
  PF_RenderRequest request;
  A_long what_time;
  A_long time_step;
  A_u_long time_scale;
};

struct PreRenderResult {
  PF_Err err;
  PF_PreRenderOutput output;
};

// A parameter value as a function of the checkout time.
using ValueAtTime = std::function<double(A_long what_time, A_long time_step, A_u_long time_scale)>;

class TestHost {
 public:
  // The default entry is the effect linked into the test; a loaded module's entry works too.
  explicit TestHost(EffectEntry entry = &EffectMain);
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Commands, sent like the host sends them.
  PF_Err globalSetup();
  PF_Err globalSetdown();
  PF_Err paramsSetup();
  // Any other command, with the parameter array at the current time and no output world.
  PF_Err command(PF_Cmd cmd, void* extra = nullptr);
  PF_Err plainRender(HostWorld& output);
  // Keeps the pre-render data for the next smartRender, freeing any earlier unused block.
  PreRenderResult smartPreRender(PF_LRect request, A_short bitdepth);
  // Passes back the kept pre-render data (none if there is none) and frees it afterwards.
  PF_Err smartRender(HostWorld& output, A_short bitdepth);

  // Parameter values: the recorded definitions, position-indexed, 0 being the input layer.
  // A value is set in the definition's own unit (16.16 fixed point for angles).
  void setValue(PF_ParamIndex position, double value);
  void setValueOverTime(PF_ParamIndex position, ValueAtTime value);
  // The array a plain command receives, evaluated at in_data.current_time; the effect's writes
  // into it land in `values`.
  PF_ParamDef** paramArray();

  // Failure injection: the nth call (counted from 1) of the callback returns code.
  void failCall(HostCallback callback, int nth, PF_Err code);
  int callCount(HostCallback callback) const;
  // abort answers "stop" from its nth call on.
  void abortFromCall(int nth) { abortFrom_ = nth; }

  // Suites: name and version to function table. Removing one makes AcquireSuite fail.
  void provideSuite(const std::string& name, A_long version, const void* table);
  void removeSuite(const std::string& name, A_long version);
  int acquireCount(const std::string& name) const;
  int releaseCount(const std::string& name) const;
  bool suitesBalanced() const;

  PF_InData in_data{};
  PF_OutData out_data{};
  SPBasicSuite basicSuite{};
  PF_UtilCallbacks utilCallbacks{};
  PF_PreRenderCallbacks preRenderCallbacks{};
  PF_SmartRenderCallbacks smartRenderCallbacks{};
  PF_EffectUISuite1 effectUiSuite{};

  // Recorded by the callbacks.
  std::vector<PF_ParamDef> definitions;  // in add_param order, strings owned by the host
  std::vector<PF_ParamIndex> addParamPositions;
  std::vector<PF_ParamDef> values;  // kParamCount entries
  std::vector<ParamCheckout> paramCheckouts;
  int paramsCheckedOut = 0;  // successful checkouts minus check-ins
  std::vector<PF_CustomUIInfo> registeredUi;
  std::vector<std::string> optionsButtonNames;
  std::vector<std::string> releasedSuites;  // names, in the order of release
  // What get_platform_data(PF_PlatData_MAIN_WND) hands out: none, as for a host without windows.
  void* mainWindow = nullptr;
  std::vector<LayerCheckout> layerCheckouts;
  int layerPixelsCheckedOut = 0;  // successful checkouts minus check-ins
  int outputCheckouts = 0;

  // Worlds handed out: position 0 and 7 of the parameter array, and the smart layer checkout.
  std::optional<HostWorld> inputLayer;
  std::optional<HostWorld> emitterLayer;

 private:
  friend struct TestHostCallbacks;
  PF_Err countCall(HostCallback callback);
  void applyTimedValue(PF_ParamIndex position, A_long what_time, A_long time_step,
                       A_u_long time_scale);
  void freePreRenderData();

  EffectEntry entry_;
  TestHost* previousHost_;
  std::map<HostCallback, int> calls_;
  std::map<HostCallback, std::pair<int, PF_Err>> failures_;
  int abortFrom_ = 0;
  std::map<std::pair<std::string, A_long>, const void*> suites_;
  std::map<std::string, int> acquires_;
  std::map<std::string, int> releases_;
  std::vector<std::unique_ptr<std::string>> strings_;
  std::map<PF_ParamIndex, ValueAtTime> timedValues_;
  std::vector<PF_ParamDef*> paramPointers_;
  PF_PreRenderOutput preRender_{};
  HostWorld* output_ = nullptr;
};
