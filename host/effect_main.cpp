#include "host/effect_main.h"

#include "gpu/gpu_context.h"
#include "host/failure_guard.h"
#include "host/param_ui_state.h"
#include "host/parameter_set.h"
#include "host/registration.h"
#include "host/render_commands.h"
#include "sdk/smart_render_sdk.h"
#include "ui/about.h"
#include "ui/banner_control.h"

namespace {

PF_Err globalSetup(PF_OutData* out_data) {
  if (out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  out_data->my_version = kEffectVersion;
  out_data->out_flags = kGlobalOutFlags;
  out_data->out_flags2 = kGlobalOutFlags2;
  return PF_Err_NONE;
}

PF_Err dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, void* extra) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
    case PF_Cmd_DO_DIALOG:
      return showAboutDialog(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
      return globalSetup(out_data);
    case PF_Cmd_GLOBAL_SETDOWN:
      releaseSharedGpuContext();
      return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP:
      return setupParameters(in_data, out_data);
    case PF_Cmd_RENDER:
      return handleRender(in_data, params, output);
    case PF_Cmd_USER_CHANGED_PARAM:
      return onUserChangedParam(in_data, params, static_cast<const PF_UserChangedParamExtra*>(extra));
    case PF_Cmd_UPDATE_PARAMS_UI:
      return syncParamsUi(in_data, params);
    case PF_Cmd_EVENT:
      return drawBanner(in_data, static_cast<PF_EventExtra*>(extra));
    case PF_Cmd_SMART_PRE_RENDER:
      return handleSmartPreRender(in_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
      return handleSmartRender(in_data, static_cast<PF_SmartRenderExtra*>(extra));
    default:
      return PF_Err_NONE;
  }
}

}  // namespace

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                             PF_LayerDef* output, void* extra) {
  return reportFailures(out_data, [&] { return dispatch(cmd, in_data, out_data, params, output, extra); });
}
