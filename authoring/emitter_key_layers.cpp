#include "authoring/emitter_key_layers.h"

#include <cstring>
#include <string>

namespace {

// The choices of "Source" that take a layer.
constexpr int layerAlphaChoice = 2;
constexpr int layerLumaChoice = 3;

int sourcePosition(const HostSession& session) {
  for (int position = 1; position < static_cast<int>(session.params.size()); ++position) {
    const PF_ParamDef& def = session.params[position].def;
    if (def.param_type == PF_Param_POPUP && std::string(def.name) == "Source") {
      return position;
    }
  }
  return -1;
}

}  // namespace

std::optional<EmitterChannel> emitterChannelOf(const HostSession& session) {
  const int source = sourcePosition(session);
  if (source < 0) {
    return std::nullopt;
  }
  std::vector<double> choices;
  for (const Keyframe& key : session.tracks[source].keys) {
    choices.push_back(key.value);
  }
  if (choices.empty()) {
    choices.push_back(session.params[source].def.u.pd.value);
  }
  for (double choice : choices) {
    if (choice == layerAlphaChoice) {
      return EmitterChannel::alpha;
    }
    if (choice == layerLumaChoice) {
      return EmitterChannel::luma;
    }
  }
  return std::nullopt;
}

void keyEmitterLayers(HostSession& session, const FinishingValues& finishing) {
  const std::optional<EmitterChannel> channel = emitterChannelOf(session);
  const int emitter = layerParamNamed(session, "Emitter Layer");
  if (!keysEmitter(finishing) || !channel || emitter < 0 || session.layers.empty()) {
    return;
  }
  size_t index = 0;
  const auto assigned = session.layerAssignments.find(emitter);
  if (assigned != session.layerAssignments.end()) {
    index = static_cast<size_t>(assigned->second);
  } else if (session.params[emitter].def.u.ld.dephault != PF_LayerDefault_MYSELF) {
    return;
  }
  const HostWorld& original = *session.layers.at(index);
  HostWorld keyed = makeHostWorld(original.world.width, original.world.height, original.bitDepth);
  copyWorldInto(original.world, keyed.world, 0, 0, original.bitDepth);
  keyEmitterLayer(keyed, finishing, *channel);
  session.layers[index] = std::make_shared<const HostWorld>(std::move(keyed));
}

double finishingLayerHeight(const HostSession& session) { return static_cast<double>(scaledHeight(session)); }
