#include "tests/support/test_host.h"

#include <stdexcept>

namespace {

// Suite functions carry no effect_ref; they serve the most recently constructed live host.
TestHost* currentHost = nullptr;

TestHost& hostOf(PF_ProgPtr effect_ref) { return *reinterpret_cast<TestHost*>(effect_ref); }

// Host-owned copy of a string the effect passed, so definitions outlive the effect's buffers.
const char* keepString(std::vector<std::unique_ptr<std::string>>& strings, const char* text) {
  if (text == nullptr) {
    return nullptr;
  }
  strings.push_back(std::make_unique<std::string>(text));
  return strings.back()->c_str();
}

void applyValue(PF_ParamDef& def, double value) {
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: def.u.fs_d.value = value; break;
    case PF_Param_POPUP: def.u.pd.value = A_long(value); break;
    case PF_Param_CHECKBOX: def.u.bd.value = A_long(value); break;
    case PF_Param_ANGLE: def.u.ad.value = PF_Fixed(value); break;
    default: throw std::invalid_argument("TestHost: this parameter type holds no value");
  }
}

// Puts a world into a layer parameter, keeping the parameter's declared default.
void placeLayer(PF_ParamDef& def, const std::optional<HostWorld>& layer) {
  A_long dephault = def.u.ld.dephault;
  def.u.ld = layer ? layer->world : PF_LayerDef{};
  def.u.ld.dephault = dephault;
}

}  // namespace

struct TestHostCallbacks {
  static PF_Err addParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::AddParam)) {
      return err;
    }
    if (def == nullptr) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_ParamDef copy = *def;
    if (copy.param_type == PF_Param_POPUP) {
      copy.u.pd.u.namesptr = keepString(host.strings_, copy.u.pd.u.namesptr);
    } else if (copy.param_type == PF_Param_CHECKBOX) {
      copy.u.bd.u.nameptr = keepString(host.strings_, copy.u.bd.u.nameptr);
    }
    host.addParamPositions.push_back(index);
    host.definitions.push_back(copy);
    if (host.definitions.size() < host.values.size()) {
      host.values[host.definitions.size()] = copy;
    }
    return PF_Err_NONE;
  }

  static PF_Err checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time,
                              A_long time_step, A_u_long time_scale, PF_ParamDef* param) {
    TestHost& host = hostOf(ref);
    host.paramCheckouts.push_back({index, what_time, time_step, time_scale});
    if (PF_Err err = host.countCall(HostCallback::CheckoutParam)) {
      return err;
    }
    if (param == nullptr || index < 0 || index >= PF_ParamIndex(host.values.size())) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    host.applyTimedValue(index, what_time, time_step, time_scale);
    *param = host.values[index];
    ++host.paramsCheckedOut;
    return PF_Err_NONE;
  }

  static PF_Err checkinParam(PF_ProgPtr ref, PF_ParamDef*) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::CheckinParam)) {
      return err;
    }
    --host.paramsCheckedOut;
    return PF_Err_NONE;
  }

  static PF_Err abort(PF_ProgPtr ref) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::Abort)) {
      return err;
    }
    bool stop = host.abortFrom_ > 0 && host.callCount(HostCallback::Abort) >= host.abortFrom_;
    return stop ? PF_Interrupt_CANCEL : PF_Err_NONE;
  }

  static PF_Err registerUi(PF_ProgPtr ref, PF_CustomUIInfo* info) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::RegisterUi)) {
      return err;
    }
    host.registeredUi.push_back(info != nullptr ? *info : PF_CustomUIInfo{});
    return PF_Err_NONE;
  }

  static PF_Err setOptionsButtonName(PF_ProgPtr ref, const A_char* name) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::SetOptionsButtonName)) {
      return err;
    }
    host.optionsButtonNames.push_back(name != nullptr ? name : "");
    return PF_Err_NONE;
  }

  static PF_Err getPlatformData(PF_ProgPtr ref, PF_PlatDataID which, void* data) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::GetPlatformData)) {
      return err;
    }
    if (which == PF_PlatData_MAIN_WND && data != nullptr) {
      *static_cast<void**>(data) = host.mainWindow;
    }
    return PF_Err_NONE;
  }

  static SPErr acquireSuite(const char* name, A_long version, const void** suite) {
    TestHost& host = *currentHost;
    auto found = host.suites_.find({name, version});
    if (found == host.suites_.end()) {
      if (suite != nullptr) {
        *suite = nullptr;
      }
      return kSuiteNotFound;
    }
    ++host.acquires_[name];
    if (suite != nullptr) {
      *suite = found->second;
    }
    return 0;
  }

  static SPErr releaseSuite(const char* name, A_long) {
    ++currentHost->releases_[name];
    currentHost->releasedSuites.push_back(name);
    return 0;
  }

  static PF_Err checkoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkout_id,
                              const PF_RenderRequest* req, A_long what_time, A_long time_step,
                              A_u_long time_scale, PF_CheckoutResult*) {
    TestHost& host = hostOf(ref);
    host.layerCheckouts.push_back({index, checkout_id, req != nullptr ? *req : PF_RenderRequest{},
                                   what_time, time_step, time_scale});
    return host.countCall(HostCallback::CheckoutLayer);
  }

  static PF_Err checkoutLayerPixels(PF_ProgPtr ref, A_long checkout_id, PF_EffectWorld** pixels) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::CheckoutLayerPixels)) {
      return err;
    }
    bool requested = false;
    for (const LayerCheckout& checkout : host.layerCheckouts) {
      requested = requested || checkout.checkout_id == checkout_id;
    }
    if (!requested || pixels == nullptr) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    *pixels = host.emitterLayer ? &host.emitterLayer->world : nullptr;
    ++host.layerPixelsCheckedOut;
    return PF_Err_NONE;
  }

  static PF_Err checkinLayerPixels(PF_ProgPtr ref, A_long) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::CheckinLayerPixels)) {
      return err;
    }
    --host.layerPixelsCheckedOut;
    return PF_Err_NONE;
  }

  static PF_Err checkoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
    TestHost& host = hostOf(ref);
    if (PF_Err err = host.countCall(HostCallback::CheckoutOutput)) {
      return err;
    }
    if (output == nullptr) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    *output = host.output_ != nullptr ? &host.output_->world : nullptr;
    ++host.outputCheckouts;
    return PF_Err_NONE;
  }
};

HostWorld makeHostWorld(const WorldLayout& layout) {
  HostWorld result;
  const int rowSize = layout.width * 4 * (layout.bitsPerChannel / 8) + layout.rowPadding;
  result.storage.assign(size_t(rowSize) * size_t(layout.height), 0);
  uint8_t* first = result.storage.data();
  if (layout.bottomUp && layout.height > 0) {
    first += size_t(rowSize) * size_t(layout.height - 1);
  }
  PF_EffectWorld& world = result.world;
  world.data = reinterpret_cast<PF_PixelPtr>(first);
  world.width = layout.width;
  world.height = layout.height;
  world.rowbytes = layout.bottomUp ? -rowSize : rowSize;
  world.world_flags = layout.bitsPerChannel == 16 ? PF_WorldFlag_DEEP : 0;
  world.extent_hint = {0, 0, layout.width, layout.height};
  world.origin_x = layout.originX;
  world.origin_y = layout.originY;
  return result;
}

TestHost::TestHost(EffectEntry entry) : entry_(entry), previousHost_(currentHost) {
  currentHost = this;
  in_data.inter.checkout_param = &TestHostCallbacks::checkoutParam;
  in_data.inter.checkin_param = &TestHostCallbacks::checkinParam;
  in_data.inter.add_param = &TestHostCallbacks::addParam;
  in_data.inter.abort = &TestHostCallbacks::abort;
  in_data.inter.register_ui = &TestHostCallbacks::registerUi;
  utilCallbacks.get_platform_data = &TestHostCallbacks::getPlatformData;
  in_data.utils = &utilCallbacks;
  in_data.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
  in_data.time_step = 1;
  in_data.time_scale = 24;
  in_data.total_time = 240;
  in_data.width = 64;
  in_data.height = 48;
  in_data.downsample_x = {1, 1};
  in_data.downsample_y = {1, 1};
  in_data.pixel_aspect_ratio = {1, 1};
  basicSuite.AcquireSuite = &TestHostCallbacks::acquireSuite;
  basicSuite.ReleaseSuite = &TestHostCallbacks::releaseSuite;
  in_data.pica_basicP = &basicSuite;

  effectUiSuite.PF_SetOptionsButtonName = &TestHostCallbacks::setOptionsButtonName;
  provideSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &effectUiSuite);

  preRenderCallbacks.checkout_layer = &TestHostCallbacks::checkoutLayer;
  smartRenderCallbacks.checkout_layer_pixels = &TestHostCallbacks::checkoutLayerPixels;
  smartRenderCallbacks.checkin_layer_pixels = &TestHostCallbacks::checkinLayerPixels;
  smartRenderCallbacks.checkout_output = &TestHostCallbacks::checkoutOutput;

  values.assign(kParamCount, PF_ParamDef{});
  values[kParamInput].param_type = PF_Param_LAYER;
}

TestHost::~TestHost() {
  freePreRenderData();
  currentHost = previousHost_;
}

PF_Err TestHost::globalSetup() {
  return entry_(PF_Cmd_GLOBAL_SETUP, &in_data, &out_data, nullptr, nullptr, nullptr);
}

PF_Err TestHost::globalSetdown() {
  return entry_(PF_Cmd_GLOBAL_SETDOWN, &in_data, &out_data, nullptr, nullptr, nullptr);
}

PF_Err TestHost::paramsSetup() {
  return entry_(PF_Cmd_PARAMS_SETUP, &in_data, &out_data, nullptr, nullptr, nullptr);
}

PF_Err TestHost::command(PF_Cmd cmd, void* extra) {
  return entry_(cmd, &in_data, &out_data, paramArray(), nullptr, extra);
}

PF_Err TestHost::plainRender(HostWorld& output) {
  return entry_(PF_Cmd_RENDER, &in_data, &out_data, paramArray(), &output.world, nullptr);
}

PreRenderResult TestHost::smartPreRender(PF_LRect request, A_short bitdepth) {
  freePreRenderData();
  PF_PreRenderInput input{};
  input.output_request.rect = request;
  input.output_request.channel_mask = PF_ChannelMask_ARGB;
  input.bitdepth = bitdepth;
  PF_PreRenderExtra extra{&input, &preRender_, &preRenderCallbacks};
  PF_Err err = entry_(PF_Cmd_SMART_PRE_RENDER, &in_data, &out_data, nullptr, nullptr, &extra);
  return {err, preRender_};
}

PF_Err TestHost::smartRender(HostWorld& output, A_short bitdepth) {
  PF_SmartRenderInput input{};
  input.output_request.rect = preRender_.result_rect;
  input.output_request.channel_mask = PF_ChannelMask_ARGB;
  input.bitdepth = bitdepth;
  input.pre_render_data = preRender_.pre_render_data;
  PF_SmartRenderExtra extra{&input, &smartRenderCallbacks};
  output_ = &output;
  PF_Err err = entry_(PF_Cmd_SMART_RENDER, &in_data, &out_data, nullptr, nullptr, &extra);
  output_ = nullptr;
  freePreRenderData();
  return err;
}

void TestHost::freePreRenderData() {
  if (preRender_.pre_render_data != nullptr && preRender_.delete_pre_render_data_func != nullptr) {
    preRender_.delete_pre_render_data_func(preRender_.pre_render_data);
  }
  preRender_ = PF_PreRenderOutput{};
}

void TestHost::setValue(PF_ParamIndex position, double value) {
  timedValues_.erase(position);
  applyValue(values.at(position), value);
}

void TestHost::setValueOverTime(PF_ParamIndex position, ValueAtTime value) {
  values.at(position);  // rejects an unknown position now rather than at checkout
  timedValues_[position] = std::move(value);
}

void TestHost::applyTimedValue(PF_ParamIndex position, A_long what_time, A_long time_step,
                               A_u_long time_scale) {
  auto timed = timedValues_.find(position);
  if (timed != timedValues_.end()) {
    applyValue(values[position], timed->second(what_time, time_step, time_scale));
  }
}

PF_ParamDef** TestHost::paramArray() {
  paramPointers_.clear();
  for (PF_ParamIndex position = 0; position < PF_ParamIndex(values.size()); ++position) {
    applyTimedValue(position, in_data.current_time, in_data.time_step, in_data.time_scale);
    paramPointers_.push_back(&values[position]);
  }
  placeLayer(values[kParamInput], inputLayer);
  if (values[kParamEmitterLayer].param_type == PF_Param_LAYER) {
    placeLayer(values[kParamEmitterLayer], emitterLayer);
  }
  return paramPointers_.data();
}

void TestHost::failCall(HostCallback callback, int nth, PF_Err code) {
  failures_[callback] = {nth, code};
}

int TestHost::callCount(HostCallback callback) const {
  auto found = calls_.find(callback);
  return found == calls_.end() ? 0 : found->second;
}

PF_Err TestHost::countCall(HostCallback callback) {
  int call = ++calls_[callback];
  auto failure = failures_.find(callback);
  if (failure != failures_.end() && failure->second.first == call) {
    return failure->second.second;
  }
  return PF_Err_NONE;
}

void TestHost::provideSuite(const std::string& name, A_long version, const void* table) {
  suites_[{name, version}] = table;
}

void TestHost::removeSuite(const std::string& name, A_long version) {
  suites_.erase({name, version});
}

int TestHost::acquireCount(const std::string& name) const {
  auto found = acquires_.find(name);
  return found == acquires_.end() ? 0 : found->second;
}

int TestHost::releaseCount(const std::string& name) const {
  auto found = releases_.find(name);
  return found == releases_.end() ? 0 : found->second;
}

bool TestHost::suitesBalanced() const {
  for (const auto& [name, count] : acquires_) {
    if (releaseCount(name) != count) {
      return false;
    }
  }
  for (const auto& [name, count] : releases_) {
    if (acquireCount(name) != count) {
      return false;
    }
  }
  return true;
}
