#include "session/host_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "sdk/smart_render_sdk.h"
#include "sdk/suites_sdk.h"
#include "session/cancellation.h"
#include "session/program_errors.h"

namespace {

// The suite broker's own error codes ('S!Fd' and 'Parm').
constexpr SPErr suiteNotFoundError = 0x53214664;
constexpr SPErr badSuiteParameterError = 0x5061726D;

HostSession& sessionOf(PF_ProgPtr effect_ref) { return *reinterpret_cast<HostSession*>(effect_ref); }

PF_ProgPtr effectRefOf(HostSession& session) { return reinterpret_cast<PF_ProgPtr>(&session); }

// A host time in ticks of the session's clock. Keys are whole ticks too, so the fraction
// between two keys is a ratio of integers: exactly 0.5 halfway, at any frame rate.
double clockTicks(const HostSession& session, A_long time, A_u_long timeScale) {
  if (timeScale == session.clock.timeScale) {
    return static_cast<double>(time);
  }
  return timeScale == 0 ? 0.0 : static_cast<double>(time) * session.clock.timeScale / timeScale;
}


// ---- Suites ----

PF_Err setOptionsButtonName(PF_ProgPtr effect_ref, const A_char* nameZ) {
  if (!effect_ref || !nameZ) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  try {
    sessionOf(effect_ref).optionsButtonName = nameZ;
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  }
  return PF_Err_NONE;
}

PF_Err appBackgroundColor(PF_App_Color* bg_colorP) {
  if (!bg_colorP) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *bg_colorP = PF_App_Color{0x2323, 0x2323, 0x2323};
  return PF_Err_NONE;
}

PF_Err appColor(PF_App_ColorType color_type, PF_App_Color* app_colorP) {
  if (!app_colorP) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *app_colorP = color_type == PF_App_Color_TEXT ? PF_App_Color{0xC3C3, 0xC3C3, 0xC3C3}
                                                : PF_App_Color{0x2323, 0x2323, 0x2323};
  return PF_Err_NONE;
}

std::atomic<void*> hostMainWindow{nullptr};

// A host without a main window is a render engine: it has no user interface for dialogs.
PF_Err isRenderEngine(PF_Boolean* render_enginePB) {
  if (!render_enginePB) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *render_enginePB = hostMainWindow.load() == nullptr;
  return PF_Err_NONE;
}

// The effect redraws a control: the panel takes over its flags (greyed or not) and, for a control
// without keyframes, its value (the hue dials). A keyframed value stays the track's.
PF_Err updateParamUi(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef* defP) {
  if (!effect_ref || !defP) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  HostSession& session = sessionOf(effect_ref);
  if (param_index <= 0 || param_index >= static_cast<PF_ParamIndex>(session.params.size()) ||
      defP->param_type != session.params[param_index].def.param_type) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  try {
    session.params[param_index].def.ui_flags = defP->ui_flags;
    std::optional<double> value = paramValue(*defP);
    if (value && !session.tracks[param_index].animated) {
      session.tracks[param_index].keys = {Keyframe{0.0, *value}};
    }
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  }
  return PF_Err_NONE;
}

const PF_EffectUISuite1 effectUiSuite{setOptionsButtonName};
const PF_ParamUtilsSuite3 paramUtilsSuite{updateParamUi};
const PFAppSuite1 appSuite{appBackgroundColor, appColor, nullptr, nullptr, nullptr, nullptr, isRenderEngine};

std::atomic<DrawingSuiteLookup> drawingSuites{nullptr};

SPErr acquireSuite(const char* name, A_long version, const void** suite) {
  if (!name || !suite) {
    return badSuiteParameterError;
  }
  if (std::strcmp(name, kPFEffectUISuite) == 0 && version == kPFEffectUISuiteVersion1) {
    *suite = &effectUiSuite;
    return 0;
  }
  if (std::strcmp(name, kPFParamUtilsSuite) == 0 && version == kPFParamUtilsSuiteVersion3) {
    *suite = &paramUtilsSuite;
    return 0;
  }
  if (std::strcmp(name, kPFAppSuite) == 0 && version == kPFAppSuiteVersion1) {
    *suite = &appSuite;
    return 0;
  }
  const DrawingSuiteLookup drawingSuite = drawingSuites.load();
  if (const void* table = drawingSuite ? drawingSuite(name, version) : nullptr) {
    *suite = table;
    return 0;
  }
  *suite = nullptr;
  return suiteNotFoundError;
}

SPErr releaseSuite(const char* name, A_long) { return name ? 0 : badSuiteParameterError; }

PF_Boolean sameToken(const char* token1, const char* token2) {
  return token1 && token2 && std::strcmp(token1, token2) == 0;
}

SPErr allocateBlock(size_t size, void** block) {
  if (!block) {
    return badSuiteParameterError;
  }
  *block = std::malloc(size);
  return *block ? 0 : PF_Err_OUT_OF_MEMORY;
}

SPErr freeBlock(void* block) {
  std::free(block);
  return 0;
}

SPErr reallocateBlock(void* block, size_t new_size, void** new_block) {
  if (!new_block) {
    return badSuiteParameterError;
  }
  void* moved = std::realloc(block, new_size);
  if (!moved) {
    return PF_Err_OUT_OF_MEMORY;
  }
  *new_block = moved;
  return 0;
}

SPErr undefinedSuiteFunction() { return badSuiteParameterError; }

SPBasicSuite basicSuite{acquireSuite, releaseSuite, sameToken, allocateBlock, freeBlock, reallocateBlock,
                        undefinedSuiteFunction};

// ---- Interaction callbacks ----

PF_Err checkoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long, A_u_long time_scale,
                     PF_ParamDef* param) {
  if (!effect_ref || !param) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  HostSession& session = sessionOf(effect_ref);
  if (index < 0 || index >= static_cast<PF_ParamIndex>(session.params.size())) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *param = definitionAt(session, index, what_time, time_scale);
  return PF_Err_NONE;
}

PF_Err checkinParam(PF_ProgPtr effect_ref, PF_ParamDef* param) {
  return effect_ref && param ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err addParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
  if (!effect_ref || !def) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  HostSession& session = sessionOf(effect_ref);
  // -1 appends; an explicit index must be the next position.
  if (index != -1 && index != static_cast<PF_ParamIndex>(session.params.size())) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  try {
    DeclaredParam declared;
    declared.def = *def;
    declared.def.name[sizeof declared.def.name - 1] = '\0';
    if (def->param_type == PF_Param_POPUP) {
      declared.choices = def->u.pd.u.namesptr ? def->u.pd.u.namesptr : "";
      declared.def.u.pd.u.namesptr = nullptr;
    } else if (def->param_type == PF_Param_CHECKBOX) {
      declared.choices = def->u.bd.u.nameptr ? def->u.bd.u.nameptr : "";
      declared.def.u.bd.u.nameptr = nullptr;
    } else if (def->param_type == PF_Param_FLOAT_SLIDER) {
      declared.def.u.fs_d.value_desc = nullptr;
    }
    // The group a control sits in: the innermost group start not yet ended.
    int depth = 0;
    for (int position = static_cast<int>(session.params.size()) - 1; position > 0; --position) {
      PF_ParamType type = session.params[position].def.param_type;
      if (type == PF_Param_GROUP_END) {
        ++depth;
      } else if (type == PF_Param_GROUP_START && depth-- == 0) {
        declared.group = session.params[position].def.name;
        break;
      }
    }
    session.params.push_back(std::move(declared));
    session.tracks.emplace_back();
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  }
  return PF_Err_NONE;
}

bool stopWanted(PF_ProgPtr effect_ref) {
  return effect_ref ? stopWanted(sessionOf(effect_ref)) : cancellationSignal() != 0;
}

PF_Err abortCheck(PF_ProgPtr effect_ref) {
  if (effect_ref && sessionOf(effect_ref).progress) {
    drawProgress(*sessionOf(effect_ref).progress, false);
  }
  return stopWanted(effect_ref) ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err reportProgress(PF_ProgPtr effect_ref, A_long current, A_long total) {
  if (effect_ref && sessionOf(effect_ref).progress && total > 0) {
    ProgressDisplay& progress = *sessionOf(effect_ref).progress;
    progress.frameFraction = std::clamp(static_cast<double>(current) / total, 0.0, 1.0);
    drawProgress(progress, false);
  }
  return stopWanted(effect_ref) ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err registerUi(PF_ProgPtr effect_ref, PF_CustomUIInfo* cust_info) {
  if (!effect_ref || !cust_info) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  sessionOf(effect_ref).customUi = *cust_info;
  return PF_Err_NONE;
}

PF_Err platformData(PF_ProgPtr, PF_PlatDataID which, void* data) {
  if (!data || which != PF_PlatData_MAIN_WND) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *static_cast<void**>(data) = hostMainWindow.load();
  return PF_Err_NONE;
}

PF_UtilCallbacks utilCallbacks{platformData};

// ---- Smart render callbacks ----

const HostWorld* layerWorldOf(const HostSession& session, int position) {
  if (position == 0) {
    return session.layers.empty() ? nullptr : session.layers[0].get();
  }
  auto assigned = session.layerAssignments.find(position);
  if (assigned != session.layerAssignments.end()) {
    return session.layers.at(static_cast<size_t>(assigned->second)).get();
  }
  bool myself = session.params[position].def.u.ld.dephault == PF_LayerDefault_MYSELF;
  return myself && !session.layers.empty() ? session.layers[0].get() : nullptr;
}

PF_Err checkoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id, const PF_RenderRequest* req,
                     A_long, A_long, A_u_long, PF_CheckoutResult* checkout_result) {
  if (!effect_ref || !req || !checkout_result) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  HostSession& session = sessionOf(effect_ref);
  if (!session.checkouts || index < 0 || index >= static_cast<PF_ParamIndex>(session.params.size()) ||
      session.params[index].def.param_type != PF_Param_LAYER) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  session.checkouts->layerOfCheckout[checkout_id] = index;
  *checkout_result = PF_CheckoutResult{};
  if (const HostWorld* layer = layerWorldOf(session, index)) {
    const PF_LRect bounds{0, 0, layer->world.width, layer->world.height};
    checkout_result->max_result_rect = bounds;
    checkout_result->result_rect = PF_LRect{std::max(req->rect.left, bounds.left), std::max(req->rect.top, bounds.top),
                                            std::min(req->rect.right, bounds.right),
                                            std::min(req->rect.bottom, bounds.bottom)};
    if (checkout_result->result_rect.right < checkout_result->result_rect.left ||
        checkout_result->result_rect.bottom < checkout_result->result_rect.top) {
      checkout_result->result_rect = PF_LRect{};
    }
    checkout_result->ref_width = layer->world.width;
    checkout_result->ref_height = layer->world.height;
  }
  checkout_result->par = session.pixelAspect;
  return PF_Err_NONE;
}

PF_Err checkoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
  if (!effect_ref || !pixels) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  HostSession& session = sessionOf(effect_ref);
  if (!session.checkouts) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  auto checkout = session.checkouts->layerOfCheckout.find(checkout_id);
  if (checkout == session.checkouts->layerOfCheckout.end()) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const HostWorld* layer = layerWorldOf(session, checkout->second);
  // The effect only reads the layer; the world is shared by every checkout of the run.
  *pixels = layer ? const_cast<PF_EffectWorld*>(&layer->world) : nullptr;
  session.checkouts->pixelsCheckedOut.insert(checkout_id);
  return PF_Err_NONE;
}

PF_Err checkinLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id) {
  if (!effect_ref || !sessionOf(effect_ref).checkouts) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  return sessionOf(effect_ref).checkouts->pixelsCheckedOut.erase(checkout_id) == 1 ? PF_Err_NONE
                                                                                   : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err checkoutOutput(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
  if (!effect_ref || !output || !sessionOf(effect_ref).checkouts || !sessionOf(effect_ref).checkouts->output) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *output = &sessionOf(effect_ref).checkouts->output->world;
  return PF_Err_NONE;
}

// ---- Commands ----

PF_InData makeInData(HostSession& session, long frame) {
  PF_InData in{};
  in.inter.checkout_param = checkoutParam;
  in.inter.checkin_param = checkinParam;
  in.inter.add_param = addParam;
  in.inter.abort = abortCheck;
  in.inter.progress = reportProgress;
  in.inter.register_ui = registerUi;
  in.utils = &utilCallbacks;
  in.effect_ref = effectRefOf(session);
  in.current_time = static_cast<A_long>(frame * session.clock.timeStep);
  in.time_step = session.clock.timeStep;
  in.total_time = session.totalTime;
  in.time_scale = session.clock.timeScale;
  in.width = session.layerWidth;
  in.height = session.layerHeight;
  in.downsample_x = PF_RationalScale{1, static_cast<A_u_long>(session.downsample)};
  in.downsample_y = in.downsample_x;
  in.pixel_aspect_ratio = session.pixelAspect;
  in.pica_basicP = &basicSuite;
  return in;
}

std::string hexText(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string returnMessage(const PF_OutData& out) {
  return std::string(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg));
}

// Turns a command's result into the program's failure: the effect's own message when it gave
// one, otherwise the command and the code.
void raiseOnFailure(HostSession& session, PF_Err err, const PF_OutData& out, const std::string& what) {
  if (err == PF_Err_NONE) {
    return;
  }
  if (err == PF_Interrupt_CANCEL && stopWanted(effectRefOf(session))) {
    throw Cancelled{cancellationSignal()};
  }
  std::string message = returnMessage(out);
  if ((out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) && !message.empty()) {
    throw EffectFailure(message);
  }
  throw RunError("the effect failed " + what + " (error " + std::to_string(err) + ")");
}

struct CheckoutsScope {
  HostSession& session;
  explicit CheckoutsScope(HostSession& s, SmartRenderCheckouts& checkouts) : session(s) {
    session.checkouts = &checkouts;
  }
  ~CheckoutsScope() { session.checkouts = nullptr; }
};

struct PreRenderDataDeleter {
  PF_DeletePreRenderDataFunc deleteFunction = nullptr;
  void operator()(void* data) const {
    if (deleteFunction) {
      deleteFunction(data);
    }
  }
};

HostWorld renderSmart(HostSession& session, long frame, const PF_LRect& region) {
  const std::string what = "to render frame " + std::to_string(frame);
  PF_InData in = makeInData(session, frame);
  PF_RenderRequest request{};
  request.rect = region;
  request.channel_mask = PF_ChannelMask_ARGB;
  SmartRenderCheckouts checkouts;
  CheckoutsScope scope(session, checkouts);

  PF_PreRenderInput preRenderInput{request, static_cast<A_short>(session.bitDepth)};
  PF_PreRenderOutput preRenderOutput{};
  PF_PreRenderCallbacks preRenderCallbacks{checkoutLayer};
  PF_PreRenderExtra preRenderExtra{&preRenderInput, &preRenderOutput, &preRenderCallbacks};
  PF_OutData out{};
  PF_Err err = session.module.effectMain(PF_Cmd_SMART_PRE_RENDER, &in, &out, nullptr, nullptr, &preRenderExtra);
  raiseOnFailure(session, err, out, what);
  // From here the host owns the pre-render data and frees it with the effect's function.
  std::unique_ptr<void, PreRenderDataDeleter> preRenderData(
      preRenderOutput.pre_render_data, PreRenderDataDeleter{preRenderOutput.delete_pre_render_data_func});

  const PF_LRect result = preRenderOutput.result_rect;
  HostWorld output = makeHostWorld(std::max(result.right - result.left, 0), std::max(result.bottom - result.top, 0),
                                   session.bitDepth);
  output.world.origin_x = result.left;
  output.world.origin_y = result.top;
  checkouts.output = &output;

  PF_SmartRenderInput renderInput{request, static_cast<A_short>(session.bitDepth), preRenderData.get()};
  PF_SmartRenderCallbacks renderCallbacks{checkoutLayerPixels, checkinLayerPixels, checkoutOutput};
  PF_SmartRenderExtra renderExtra{&renderInput, &renderCallbacks};
  out = PF_OutData{};
  err = session.module.effectMain(PF_Cmd_SMART_RENDER, &in, &out, nullptr, nullptr, &renderExtra);
  raiseOnFailure(session, err, out, what);

  if (result.left == region.left && result.top == region.top && result.right == region.right &&
      result.bottom == region.bottom) {
    output.world.origin_x = 0;
    output.world.origin_y = 0;
    return output;
  }
  // The effect rendered part of the region; the rest is transparent.
  HostWorld regionWorld = makeHostWorld(region.right - region.left, region.bottom - region.top, session.bitDepth);
  copyWorldInto(output.world, regionWorld.world, result.left - region.left, result.top - region.top, session.bitDepth);
  return regionWorld;
}

// The parameter array of a command at the in-data's time; params points into definitions.
struct ParamArray {
  std::vector<PF_ParamDef> definitions;
  std::vector<PF_ParamDef*> params;
};

ParamArray paramArrayAt(const HostSession& session, const PF_InData& in) {
  ParamArray array;
  array.definitions.reserve(session.params.size());
  for (int position = 0; position < static_cast<int>(session.params.size()); ++position) {
    array.definitions.push_back(definitionAt(session, position, in.current_time, in.time_scale));
    // uu held the declared id at parameter set-up; in a command's array it is the change flags,
    // which only the effect sets. An odd id left there would read as "value changed".
    array.definitions.back().uu.change_flags = 0;
  }
  for (PF_ParamDef& definition : array.definitions) {
    array.params.push_back(&definition);
  }
  return array;
}

HostWorld renderPlain(HostSession& session, long frame) {
  PF_InData in = makeInData(session, frame);
  ParamArray array = paramArrayAt(session, in);
  HostWorld output = makeHostWorld(scaledWidth(session), scaledHeight(session), session.bitDepth);
  PF_OutData out{};
  PF_Err err = session.module.effectMain(PF_Cmd_RENDER, &in, &out, array.params.data(), &output.world, nullptr);
  raiseOnFailure(session, err, out, "to render frame " + std::to_string(frame));
  return output;
}

// The flags decide how the host drives the effect; a module whose code and resource disagree
// cannot be driven as either says.
void checkFlagsAgainstResource(const HostSession& session, const PF_OutData& out) {
  const RegistrationResource& resource = session.module.resource;
  if (resource.effectVersion != out.my_version || resource.outFlags != static_cast<uint32_t>(out.out_flags) ||
      resource.outFlags2 != static_cast<uint32_t>(out.out_flags2)) {
    throw RunError("the effect's global set-up reports version " + hexText(out.my_version) + ", flags " +
                   hexText(static_cast<uint32_t>(out.out_flags)) + " and " +
                   hexText(static_cast<uint32_t>(out.out_flags2)) + " but its registration resource says " +
                   hexText(resource.effectVersion) + ", " + hexText(resource.outFlags) + " and " +
                   hexText(resource.outFlags2));
  }
}

void declareParameters(HostSession& session) {
  // Position 0, the layer the effect is applied to, belongs to the host.
  DeclaredParam inputLayer;
  inputLayer.def.param_type = PF_Param_LAYER;
  inputLayer.def.u.ld.dephault = PF_LayerDefault_MYSELF;
  session.params.push_back(inputLayer);
  session.tracks.emplace_back();

  PF_InData in = makeInData(session, 0);
  PF_OutData out{};
  PF_Err err = session.module.effectMain(PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr, nullptr);
  raiseOnFailure(session, err, out, "to declare its parameters");
  session.numParams = out.num_params;
  if (session.numParams != static_cast<A_long>(session.params.size())) {
    throw RunError("the effect declared " + std::to_string(session.params.size() - 1) + " controls but reports " +
                   std::to_string(session.numParams) + " parameters");
  }
  // The panel starts as the effect draws it.
  if (session.outFlags & PF_OutFlag_SEND_UPDATE_PARAMS_UI) {
    updateParamsUi(session, 0);
  }
}

}  // namespace

void setHostMainWindow(void* window) { hostMainWindow.store(window); }

std::unique_ptr<HostSession> startSession(const std::string& modulePath) {
  auto session = std::make_unique<HostSession>();
  session->module = loadEffectModule(modulePath, &basicSuite);

  PF_InData in = makeInData(*session, 0);
  PF_OutData out{};
  PF_Err err = session->module.effectMain(PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr, nullptr);
  raiseOnFailure(*session, err, out, "global set-up");
  session->effectVersion = out.my_version;
  session->outFlags = out.out_flags;
  session->outFlags2 = out.out_flags2;
  try {
    checkFlagsAgainstResource(*session, out);
    declareParameters(*session);
  } catch (...) {
    // Global set-up succeeded, so the effect gets its set-down whatever failed after it.
    PF_OutData setdownOut{};
    session->module.effectMain(PF_Cmd_GLOBAL_SETDOWN, &in, &setdownOut, nullptr, nullptr, nullptr);
    throw;
  }
  return session;
}

void endSession(HostSession& session) {
  PF_InData in = makeInData(session, 0);
  PF_OutData out{};
  PF_Err err = session.module.effectMain(PF_Cmd_GLOBAL_SETDOWN, &in, &out, nullptr, nullptr, nullptr);
  raiseOnFailure(session, err, out, "global set-down");
}

void setParamTrack(HostSession& session, const ParamAssignment& assignment) {
  ParamTrack track = assignment.track;
  for (Keyframe& key : track.keys) {
    key.time *= session.clock.timeStep;
  }
  session.tracks.at(static_cast<size_t>(assignment.position)) = track;
}

namespace {

int paramNamed(const HostSession& session, PF_ParamType type, const std::string& name) {
  for (int position = 1; position < static_cast<int>(session.params.size()); ++position) {
    const PF_ParamDef& def = session.params[position].def;
    if (def.param_type == type && name == def.name) {
      return position;
    }
  }
  return -1;
}

}  // namespace

int layerParamNamed(const HostSession& session, const std::string& name) {
  return paramNamed(session, PF_Param_LAYER, name);
}

int popupParamNamed(const HostSession& session, const std::string& name) {
  return paramNamed(session, PF_Param_POPUP, name);
}

PF_ParamDef definitionAt(const HostSession& session, int position, A_long time, A_u_long timeScale) {
  double ticks = clockTicks(session, time, timeScale);
  const DeclaredParam& declared = session.params[position];
  const ParamTrack& track = session.tracks[position];
  PF_ParamDef def = declared.def;
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      if (!track.keys.empty()) {
        def.u.fs_d.value = trackValueAt(track, ticks, true);
      }
      break;
    case PF_Param_POPUP:
      def.u.pd.u.namesptr = declared.choices.c_str();
      if (!track.keys.empty()) {
        def.u.pd.value = static_cast<A_long>(trackValueAt(track, ticks, false));
      }
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.u.nameptr = declared.choices.c_str();
      if (!track.keys.empty()) {
        def.u.bd.value = static_cast<A_long>(trackValueAt(track, ticks, false));
      }
      break;
    case PF_Param_ANGLE:
      if (!track.keys.empty()) {
        def.u.ad.value = degreesToFixed(trackValueAt(track, ticks, true));
      }
      break;
    case PF_Param_LAYER: {
      A_long dephault = def.u.ld.dephault;
      const HostWorld* layer = layerWorldOf(session, position);
      def.u.ld = layer ? layer->world : PF_LayerDef{};
      def.u.ld.dephault = dephault;
      break;
    }
    default:
      break;
  }
  return def;
}

void setParamValue(HostSession& session, int position, long frame, double value) {
  ParamTrack& track = session.tracks.at(static_cast<size_t>(position));
  if (!track.animated) {
    track.keys = {Keyframe{0.0, value}};
    return;
  }
  double time = static_cast<double>(frame) * session.clock.timeStep;
  auto at = std::find_if(track.keys.begin(), track.keys.end(), [&](const Keyframe& key) { return key.time >= time; });
  if (at != track.keys.end() && at->time == time) {
    at->value = value;
  } else {
    track.keys.insert(at, Keyframe{time, value});
  }
}

void toggleKeyframe(HostSession& session, int position, long frame) {
  const A_long time = static_cast<A_long>(frame * session.clock.timeStep);
  std::optional<double> value = paramValue(definitionAt(session, position, time, session.clock.timeScale));
  if (!value) {
    return;
  }
  ParamTrack& track = session.tracks.at(static_cast<size_t>(position));
  if (!track.animated) {
    track = ParamTrack{{Keyframe{static_cast<double>(time), *value}}, true};
    return;
  }
  auto at = std::find_if(track.keys.begin(), track.keys.end(), [&](const Keyframe& key) { return key.time == time; });
  if (at == track.keys.end()) {
    setParamValue(session, position, frame, *value);
  } else if (track.keys.size() > 1) {
    track.keys.erase(at);
  } else {
    track = ParamTrack{{Keyframe{0.0, *value}}, false};
  }
}

void updateParamsUi(HostSession& session, long frame) {
  PF_InData in = makeInData(session, frame);
  ParamArray array = paramArrayAt(session, in);
  PF_OutData out{};
  PF_Err err = session.module.effectMain(PF_Cmd_UPDATE_PARAMS_UI, &in, &out, array.params.data(), nullptr, nullptr);
  raiseOnFailure(session, err, out, "to update its controls");
}

void userChangedParam(HostSession& session, int position, long frame) {
  PF_InData in = makeInData(session, frame);
  ParamArray array = paramArrayAt(session, in);
  PF_UserChangedParamExtra extra{position};
  PF_OutData out{};
  PF_Err err =
      session.module.effectMain(PF_Cmd_USER_CHANGED_PARAM, &in, &out, array.params.data(), nullptr, &extra);
  // What the effect changed in the array is the user's change too, even when it then failed.
  for (int changed = 1; changed < static_cast<int>(array.definitions.size()); ++changed) {
    const PF_ParamDef& def = array.definitions[changed];
    std::optional<double> value = paramValue(def);
    if ((def.uu.change_flags & PF_ChangeFlag_CHANGED_VALUE) && value) {
      setParamValue(session, changed, frame, *value);
    }
  }
  raiseOnFailure(session, err, out, "to take the change of " + qualifiedName(session.params, position));
}

bool effectRendersDepth(const HostSession& session, int bitDepth) {
  switch (bitDepth) {
    case 16:
      return (session.outFlags & PF_OutFlag_DEEP_COLOR_AWARE) != 0;
    case 32:
      return (session.outFlags2 & PF_OutFlag2_FLOAT_COLOR_AWARE) != 0;
    default:
      return bitDepth == 8;
  }
}

bool isSupervised(const HostSession& session, int position) {
  return (session.params.at(static_cast<size_t>(position)).def.flags & PF_ParamFlag_SUPERVISE) != 0;
}

bool isGreyedOut(const HostSession& session, int position) {
  return (session.params.at(static_cast<size_t>(position)).def.ui_flags & PF_PUI_DISABLED) != 0;
}

A_long scaledWidth(const HostSession& session) {
  return (session.layerWidth + session.downsample - 1) / session.downsample;
}

A_long scaledHeight(const HostSession& session) {
  return (session.layerHeight + session.downsample - 1) / session.downsample;
}

HostWorld renderFrame(HostSession& session, long frame, RenderPath path) {
  return path == RenderPath::smart ? renderSmart(session, frame, PF_LRect{0, 0, scaledWidth(session), scaledHeight(session)})
                                    : renderPlain(session, frame);
}

HostWorld renderRegion(HostSession& session, long frame, const PF_LRect& region) {
  return renderSmart(session, frame, region);
}

namespace {

std::string dialogText(HostSession& session, PF_Cmd command, const std::string& what) {
  PF_InData in = makeInData(session, 0);
  PF_OutData out{};
  PF_Err err = session.module.effectMain(command, &in, &out, nullptr, nullptr, nullptr);
  raiseOnFailure(session, err, out, what);
  std::string text = returnMessage(out);
  std::replace(text.begin(), text.end(), '\r', '\n');
  return text;
}

}  // namespace

std::string aboutText(HostSession& session) {
  return dialogText(session, PF_Cmd_ABOUT, "to show its About information");
}

std::string optionsDialogText(HostSession& session) {
  return dialogText(session, PF_Cmd_DO_DIALOG, "to show its options dialog");
}

int customControlPosition(const HostSession& session) {
  for (int position = 1; position < static_cast<int>(session.params.size()); ++position) {
    if (session.params[position].def.ui_flags & PF_PUI_CONTROL) {
      return position;
    }
  }
  return -1;
}

void setDrawingSuites(DrawingSuiteLookup lookup) { drawingSuites.store(lookup); }

PF_EventOutFlags sendCustomControlDraw(HostSession& session, PF_ContextH context, const PF_Rect& controlFrame,
                                       long frame) {
  const int position = customControlPosition(session);
  if (position < 0 || !session.customUi) {
    throw RunError("the effect has no custom control to draw");
  }
  PF_InData in = makeInData(session, frame);
  ParamArray array = paramArrayAt(session, in);
  PF_EventExtra event{};
  event.contextH = context;
  event.e_type = PF_Event_DRAW;
  event.effect_win.index = position;
  event.effect_win.area = PF_EA_CONTROL;
  event.effect_win.current_frame = controlFrame;
  PF_OutData out{};
  PF_Err err = session.module.effectMain(PF_Cmd_EVENT, &in, &out, array.params.data(), nullptr, &event);
  raiseOnFailure(session, err, out, "to draw its custom control");
  return event.evt_out_flags;
}

std::optional<double> paramValue(const PF_ParamDef& def) {
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      return def.u.fs_d.value;
    case PF_Param_POPUP:
      return def.u.pd.value;
    case PF_Param_CHECKBOX:
      return def.u.bd.value;
    case PF_Param_ANGLE:
      return def.u.ad.value / 65536.0;
    default:
      return std::nullopt;
  }
}

bool stopWanted(const HostSession& session) {
  return cancellationSignal() != 0 || (session.stopRequested && session.stopRequested->load()) ||
         (session.hostWantsStop && session.hostWantsStop(session.hostWantsStopContext));
}

void setLastFrame(HostSession& session, long lastFrame) {
  session.totalTime = static_cast<A_long>((lastFrame + 1) * session.clock.timeStep);
}

long lastFrameInTimeRange(const FrameClock& clock) { return INT32_MAX / clock.timeStep - 1; }
