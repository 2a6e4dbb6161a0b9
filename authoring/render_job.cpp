#include "authoring/render_job.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <ostream>

#include "authoring/emitter_image_file.h"
#include "authoring/emitter_key_layers.h"
#include "authoring/emitter_placement.h"
#include "authoring/settings_file.h"
#include "media/frame_output.h"
#include "media/frame_writer.h"
#include "media/image_files.h"
#include "media/movie_file.h"
#include "session/host_session.h"
#include "session/number_text.h"
#include "session/program_errors.h"

namespace {

int chooseBitDepth(const RenderOptions& options, std::optional<ImageFormat> format) {
  if (options.bitDepth != 0) {
    return options.bitDepth;
  }
  if (format != ImageFormat::exr) {
    return 8;
  }
  // An EXR is expected to hold the effect's own float values; 16 bits only when asked for.
  if (options.path == RenderPath::plain) {
    throw UsageError("the plain path renders 8 or 16 bits; add --depth 16 or use --path smart");
  }
  return 32;
}

// A movie is written whole, by one run, from its first frame: it has no shares and nothing to
// resume.
void checkMovieOptions(const RenderOptions& options) {
  if (options.task.count > 1) {
    throw UsageError("--task splits the frames among tasks, but a movie cannot be written in shares: render the "
                     "tasks' frames into PNG files and join them into a movie with ffmpeg (see the README)");
  }
  if (options.skipExisting) {
    throw UsageError("--skip-existing resumes a sequence of frame files, but a movie is written whole: render "
                     "PNG files to resume, or leave --skip-existing out");
  }
}

void checkOptions(const RenderOptions& options, std::optional<ImageFormat> format, int bitDepth) {
  if (format && (!options.movieCodec.codec.empty() || options.movieCodec.quality)) {
    throw UsageError("--codec and --quality are for movie files (.mov, .mkv, .webm, .mp4)");
  }
  if (!format) {
    checkMovieOptions(options);
  }
  if (format == ImageFormat::png && bitDepth == 32) {
    throw UsageError("PNG holds 8 or 16 bits per channel; write .exr for --depth 32");
  }
  if (options.path == RenderPath::plain && bitDepth == 32) {
    throw UsageError("the plain render path renders 8 or 16 bits; use --path smart for --depth 32");
  }
  const long lastFrame = options.frames.back();
  if (format && options.frames.size() > 1 && !patternNamesFrames(options.outputPattern)) {
    throw UsageError("several frames need a # (or %04d) in the output name for the frame number, such as "
                     "out/flames_####.png");
  }
  if (options.loop.length > 0 && lastFrame >= options.loop.length) {
    throw UsageError("the frames of --loop " + std::to_string(options.loop.length) + " are 0 to " +
                     std::to_string(options.loop.length - 1) + ", but frame " + std::to_string(lastFrame) +
                     " is asked for");
  }
  // The effect renders pixel aspects up to 100; a larger one would fail only at the first frame.
  if (static_cast<double>(options.pixelAspect.num) > 100.0 * options.pixelAspect.den) {
    throw UsageError("--pixel-aspect " + std::to_string(options.pixelAspect.num) +
                     (options.pixelAspect.den == 1 ? "" : "/" + std::to_string(options.pixelAspect.den)) +
                     " is wider than the effect renders: up to 100");
  }
  if (lastFrame > lastFrameInTimeRange(options.clock)) {
    throw UsageError("frame " + std::to_string(lastFrame) + " is beyond the host's time range at this --fps");
  }
}

void checkEffectSupports(const HostSession& session, const RenderOptions& options, int bitDepth) {
  if (options.path == RenderPath::smart && !(session.outFlags2 & PF_OutFlag2_SUPPORTS_SMART_RENDER)) {
    throw UsageError("the effect does not support smart rendering; use --path plain");
  }
  if (bitDepth == 16 && !effectRendersDepth(session, 16)) {
    throw UsageError("the effect does not render 16 bits per channel");
  }
  if (bitDepth == 32 && !effectRendersDepth(session, 32)) {
    throw UsageError("the effect does not render 32-bit float channels");
  }
}

// The layer's pixels at the render's resolution and depth; transparent when no image is given.
std::shared_ptr<const HostWorld> layerWorld(const HostSession& session, const RgbaImage* image) {
  if (!image) {
    return std::make_shared<const HostWorld>(makeHostWorld(scaledWidth(session), scaledHeight(session), session.bitDepth));
  }
  return std::make_shared<const HostWorld>(
      hostWorldFromImage(downsampleImage(*image, session.downsample), session.bitDepth));
}

// The "Source" popup, which chooses the built-in volume (its first choice) or a layer to take the
// flames from; -1 when the effect has no such control.
int sourcePopupPosition(const HostSession& session) { return popupParamNamed(session, "Source"); }

// Whether the "Source" popup at position source picks a layer at any key.
bool usesLayerSource(const HostSession& session, int source) {
  const std::vector<Keyframe>& keys = session.tracks[source].keys;
  if (keys.empty()) {
    return session.params[source].def.u.pd.value != 1;
  }
  return std::any_of(keys.begin(), keys.end(), [](const Keyframe& key) { return key.value != 1.0; });
}

// A value set for a control that the effect greys out has no effect on the frames; say so, with
// the choice of the "Source" popup at position source (-1: none) that makes it so.
void noteGreyedOutSettings(const HostSession& session, const std::vector<int>& setPositions, int source,
                           long frame) {
  std::string because;
  if (source >= 0) {
    std::vector<std::string> choices = splitChoices(session.params[source].choices);
    long choice = definitionAt(session, source, static_cast<A_long>(frame * session.clock.timeStep),
                               session.clock.timeScale)
                      .u.pd.value;
    if (choice >= 1 && choice <= static_cast<long>(choices.size())) {
      because = " while \"Source\" is \"" + choices[choice - 1] + "\"";
    }
  }
  std::set<int> noted;
  for (int position : setPositions) {
    if (isGreyedOut(session, position) && noted.insert(position).second) {
      std::cerr << "vortelline: note: the effect greys out \"" << qualifiedName(session.params, position) << "\""
                << because << ", so its setting changes nothing\n";
    }
  }
}

// The effect clamps a slider's value to its valid range without a word; say so for --set values
// beyond it, so that "Density=3" does not look like a value that does something.
void noteClampedSettings(const HostSession& session, const std::vector<int>& setPositions) {
  std::set<int> noted;
  for (int position : setPositions) {
    const PF_ParamDef& def = session.params[position].def;
    if (def.param_type != PF_Param_FLOAT_SLIDER || !noted.insert(position).second) {
      continue;
    }
    for (const Keyframe& key : session.tracks[position].keys) {
      // A value that is not finite is no value at all: the effect refuses it with a message.
      if (std::isfinite(key.value) &&
          (key.value < def.u.fs_d.valid_min || key.value > def.u.fs_d.valid_max)) {
        std::cerr << "vortelline: note: \"" << qualifiedName(session.params, position) << "\" takes "
                  << def.u.fs_d.valid_min << " to " << def.u.fs_d.valid_max << "; the effect clamps "
                  << key.value << " to " << std::clamp<double>(key.value, def.u.fs_d.valid_min, def.u.fs_d.valid_max)
                  << "\n";
        break;
      }
    }
  }
}

bool frameFileExists(const RenderOptions& options, long frame) {
  std::error_code unreadable;
  return std::filesystem::is_regular_file(expandFramePattern(options.outputPattern, frame), unreadable);
}

// The frames this run renders: the task's share of the frames less the skipped ones. Each
// frame's file is looked at once, before the first render, so the count on stderr and the frames
// rendered agree even when another run writes a file meanwhile. Says on stderr what it leaves to
// other tasks and what it skips, for the job's log.
std::vector<long> framesOfThisRun(const RenderOptions& options) {
  const long count = static_cast<long>(options.frames.size());
  const FrameRange share = taskFrames(FrameRange{0, count - 1}, options.task);
  std::vector<long> frames(options.frames.begin() + share.first, options.frames.begin() + share.last + 1);
  std::string task = std::to_string(options.task.index) + "/" + std::to_string(options.task.count);
  if (frames.empty()) {
    std::cerr << "vortelline: task " << task << " has no frames: " << options.task.count << " tasks share " << count
              << " frames\n";
  } else if (options.task.count > 1) {
    std::cerr << "vortelline: task " << task << ": frames " << frames.front() << "-" << frames.back();
    if (frames.back() - frames.front() + 1 != static_cast<long>(frames.size())) {
      std::cerr << " (" << frames.size() << " of them)";
    }
    std::cerr << "\n";
  }
  if (options.skipExisting) {
    const size_t inShare = frames.size();
    std::erase_if(frames, [&](long frame) { return frameFileExists(options, frame); });
    std::cerr << "vortelline: skipping " << inShare - frames.size() << " of " << inShare
              << " frames whose files already exist\n";
  }
  return frames;
}

std::string floatText(float value) {
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string typeText(const HostSession& session, int position) {
  const PF_ParamDef& def = session.params[position].def;
  switch (def.param_type) {
    case PF_Param_LAYER:
      return "layer";
    case PF_Param_CHECKBOX:
      return "checkbox";
    case PF_Param_ANGLE:
      return hueSliderEditedBy(session.params, position) >= 0 ? "angle (edits the hidden Hue)" : "angle";
    case PF_Param_POPUP:
      return "popup";
    case PF_Param_NO_DATA:
      return "custom control";
    case PF_Param_FLOAT_SLIDER:
      return (def.ui_flags & PF_PUI_NO_ECW_UI) ? "float (hidden, keyframable)" : "float";
    case PF_Param_GROUP_START:
      return "group start";
    case PF_Param_GROUP_END:
      return "group end";
    default:
      return "type " + std::to_string(def.param_type);
  }
}

std::string defaultText(const HostSession& session, int position) {
  const PF_ParamDef& def = session.params[position].def;
  switch (def.param_type) {
    case PF_Param_LAYER:
      return position == 0 ? "(the input)" : def.u.ld.dephault == PF_LayerDefault_MYSELF ? "this layer" : "none";
    case PF_Param_CHECKBOX:
      return def.u.bd.dephault ? "on" : "off";
    case PF_Param_ANGLE:
      return numberText(def.u.ad.dephault / 65536.0) + " deg";
    case PF_Param_POPUP: {
      std::vector<std::string> choices = splitChoices(session.params[position].choices);
      int choice = def.u.pd.dephault;
      return std::to_string(choice) +
             (choice >= 1 && choice <= static_cast<int>(choices.size()) ? " " + choices[choice - 1] : "");
    }
    case PF_Param_FLOAT_SLIDER:
      return floatText(def.u.fs_d.dephault) + ((def.u.fs_d.display_flags & PF_ValueDisplayFlag_PERCENT) ? " %" : "");
    default:
      return "";
  }
}

std::string rangeText(float minimum, float maximum) { return floatText(minimum) + " .. " + floatText(maximum); }

std::string choicesText(const HostSession& session, int position) {
  if (session.params[position].def.param_type != PF_Param_POPUP) {
    return "";
  }
  std::vector<std::string> choices = splitChoices(session.params[position].choices);
  std::string text;
  for (size_t i = 0; i < choices.size(); ++i) {
    text += (i ? ", " : "") + std::to_string(i + 1) + " " + choices[i];
  }
  return text;
}

}  // namespace

void runRender(const RenderOptions& options) {
  const std::optional<MovieContainer> container = movieContainerForPath(options.outputPattern);
  std::optional<ImageFormat> format;
  if (!container) {
    format = imageFormatForPath(options.outputPattern);
  }
  int bitDepth = chooseBitDepth(options, format);
  checkOptions(options, format, bitDepth);
  if (container) {
    chooseMovieCodec(*container, options.movieCodec);
  }

  std::optional<RgbaImage> input;
  std::optional<RgbaImage> emitter;
  // The layer is as large as its own pixels, unless --size says otherwise.
  FrameSize layer{options.width, options.height};
  if (!options.inputPath.empty()) {
    // Its size is checked before its pixels take memory.
    input = readImageFile(options.inputPath, [&](int width, int height) {
      if (layer.width != 0 && (width != layer.width || height != layer.height)) {
        throw UsageError("the input " + options.inputPath + " is " + std::to_string(width) + "x" +
                         std::to_string(height) + " but " + options.sizeOrigin + " is " + std::to_string(layer.width) +
                         "x" + std::to_string(layer.height));
      }
    });
    layer = FrameSize{input->width, input->height};
  }
  if (layer.width == 0) {
    layer = FrameSize{1920, 1080};
  }
  std::error_code unreadable;
  const bool textImageFits = layer.width == options.emitterTextLayerWidth && layer.height == options.emitterTextLayerHeight &&
                             std::filesystem::is_regular_file(options.emitterPath, unreadable);
  if (!options.emitterText.empty() && !textImageFits) {
    if (!options.drawEmitterText) {
      throw UsageError("the emitter text's image " + options.emitterPath + " is missing or of another size than the "
                       "layer, and this program has no fonts to draw the text");
    }
    emitter = options.drawEmitterText(
        options.emitterText, layer.width, layer.height,
        emitterTextStyleForLayer(options.emitterTextStyle, options.emitterTextLayerWidth, options.emitterTextLayerHeight,
                                 layer.width, layer.height));
  } else if (!options.emitterPath.empty()) {
    emitter = readPlacedEmitterImage(options.emitterPath, layer.width, layer.height, options.emitterPlacement,
                                     options.downsample);
  }

  std::unique_ptr<HostSession> session = startSession(options.modulePath);
  SessionScope scope{*session};
  session->clock = options.clock;
  // The whole sequence's, also for a task's share: the effect sees what a full run shows it.
  setLastFrame(*session, options.frames.back());
  session->layerWidth = layer.width;
  session->layerHeight = layer.height;
  session->downsample = options.downsample;
  session->pixelAspect = options.pixelAspect;
  session->bitDepth = bitDepth;
  checkEffectSupports(*session, options, bitDepth);

  const std::string savedFrom = options.presetName.empty() ? options.settingsPath : "--preset " + options.presetName;
  std::vector<int> changed = applyAssignments(*session, options.savedSettings, savedFrom);
  FinishingValues finishing = options.finishing;
  std::vector<int> setPositions =
      applyAssignmentTexts(*session, takeFinishingAssignments(options.settings, finishing, "--set"), "--set");
  if (options.processing) {
    setParamTrack(*session, parseAssignment(session->params, "Processing=" + *options.processing));
  }
  // As in a compositing host's panel, the effect hears of each change to a control it supervises.
  changed.insert(changed.end(), setPositions.begin(), setPositions.end());
  for (int position : changed) {
    if (isSupervised(*session, position)) {
      userChangedParam(*session, position, options.frames.front());
    }
  }
  const int source = sourcePopupPosition(*session);
  noteGreyedOutSettings(*session, setPositions, source, options.frames.front());
  noteClampedSettings(*session, setPositions);

  placeLayers(*session, input ? &*input : nullptr, emitter ? &*emitter : nullptr);
  keyEmitterLayers(*session, finishing);
  if (source >= 0) {
    const bool layerSource = usesLayerSource(*session, source);
    if (emitter && !layerSource) {
      std::cerr << "vortelline: note: the emitter is used with --set \"Source=Layer Alpha\" or \"Source=Layer Luma\"\n";
    }
    if (!emitter && !input && layerSource) {
      std::cerr << "vortelline: note: \"Source\" takes the flames from a layer, but neither --emitter nor --input "
                   "gives one, so those frames are transparent\n";
    }
  }

  const std::vector<long> frames = framesOfThisRun(options);
  FrameWriter writer = openFrameWriter(options.outputPattern, options.movieCodec, movieFramesOf(*session));
  writer.setOutputAlpha(options.outputAlpha);
  writer.setFinishing(finishing, session->clock, options.loop.length, finishingLayerHeight(*session));
  if (!writer.keepsAlpha()) {
    // The container keeps alpha with its own encoder, so the note names the encoder where one was chosen.
    const std::string without =
        options.movieCodec.codec.empty() ? options.outputPattern : "--codec " + options.movieCodec.codec;
    std::cerr << "vortelline: note: " << without << " keeps no alpha, so the flames are written over black; "
              << ".mov, .mkv and .webm keep it with their own encoders\n";
  }
  // A loop's cross-faded frames render twice, so the estimate counts renders.
  std::vector<int> frameRenders;
  for (long frame : frames) {
    frameRenders.push_back(loopMix(options.loop, frame).earlierWeight == 0.0f ? 1 : 2);
  }
  ProgressDisplay progress = startProgress(static_cast<int>(frames.size()), options.quiet, frameRenders);
  session->progress = &progress;
  try {
    renderFramesInto(*session, writer, frames, options.path, [&] { finishFrame(progress); }, options.loop);
  } catch (...) {
    endProgress(progress);
    session->progress = nullptr;
    throw;
  }
  endProgress(progress);
  session->progress = nullptr;
  if (writer.keepsAlpha() && writer.wroteAlphaFromLight()) {
    std::cerr << "vortelline: note: this look's own output is opaque (flames on black); it was written with alpha "
                 "from the light, to composite over anything (--alpha effect keeps it opaque)\n";
  }
  scope.end();
}

void placeLayers(HostSession& session, const RgbaImage* input, const RgbaImage* emitter) {
  session.layers.clear();
  session.layerAssignments.clear();
  session.layers.push_back(layerWorld(session, input));
  if (emitter) {
    int emitterParam = layerParamNamed(session, "Emitter Layer");
    if (emitterParam < 0) {
      throw UsageError("the effect has no \"Emitter Layer\" for the emitter image");
    }
    session.layers.push_back(layerWorld(session, emitter));
    session.layerAssignments[emitterParam] = 1;
  }
}

void printParams(const std::string& modulePath, std::ostream& out) {
  std::unique_ptr<HostSession> session = startSession(modulePath);
  SessionScope scope{*session};
  struct Row {
    std::string cells[8];
  };
  std::vector<Row> rows;
  rows.push_back(Row{{"Pos", "ID", "Name", "Type", "Default", "Valid range", "Slider range", "Choices"}});
  for (int position = 0; position < static_cast<int>(session->params.size()); ++position) {
    const PF_ParamDef& def = session->params[position].def;
    Row row;
    row.cells[0] = std::to_string(position);
    row.cells[1] = position == 0 ? "" : std::to_string(def.uu.id);
    if (position == 0) {
      row.cells[2] = "(input layer)";
    } else if (def.param_type == PF_Param_GROUP_END) {
      row.cells[2] = "(end of " + session->params[position].group + ")";
    } else {
      row.cells[2] = qualifiedName(session->params, position);
    }
    row.cells[3] = typeText(*session, position);
    row.cells[4] = defaultText(*session, position);
    if (def.param_type == PF_Param_FLOAT_SLIDER) {
      row.cells[5] = rangeText(def.u.fs_d.valid_min, def.u.fs_d.valid_max);
      row.cells[6] = rangeText(def.u.fs_d.slider_min, def.u.fs_d.slider_max);
    }
    row.cells[7] = choicesText(*session, position);
    rows.push_back(row);
  }
  // The host's finishing controls, which --set, settings files and presets take beside the effect's.
  for (int id = 0; id < finishingControlCount; ++id) {
    const FinishingControl& control = finishingControls[id];
    Row row;
    row.cells[2] = finishingControlName(id);
    const std::string unit = *control.unit ? std::string(" ") + control.unit : std::string();
    if (control.kind == FinishingKind::choice) {
      row.cells[3] = "host's popup";
      row.cells[4] = std::to_string(static_cast<int>(control.defaultValue)) + " " +
                     finishingValueText(id, control.defaultValue);
      std::vector<std::string> choices = splitChoices(control.choices);
      for (size_t i = 0; i < choices.size(); ++i) {
        row.cells[7] += (i ? ", " : "") + std::to_string(i + 1) + " " + choices[i];
      }
    } else {
      row.cells[3] = "host's float";
      row.cells[4] = numberText(control.defaultValue) + unit;
      row.cells[5] = numberText(control.validMin) + " .. " + numberText(control.validMax);
      row.cells[6] = numberText(control.sliderMin) + " .. " + numberText(control.sliderMax);
    }
    rows.push_back(row);
  }
  size_t widths[8] = {};
  for (const Row& row : rows) {
    for (int column = 0; column < 8; ++column) {
      widths[column] = std::max(widths[column], row.cells[column].size());
    }
  }
  for (const Row& row : rows) {
    std::string line;
    for (int column = 0; column < 8; ++column) {
      std::string cell = row.cells[column];
      if (column < 7) {
        cell.resize(widths[column], ' ');
        cell += "  ";
      }
      line += cell;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
  }
  scope.end();
}

void printAbout(const std::string& modulePath, std::ostream& out) {
  std::unique_ptr<HostSession> session = startSession(modulePath);
  SessionScope scope{*session};
  std::string text = aboutText(*session);
  if (text.empty()) {
    throw RunError("the effect gave no About information");
  }
  out << text << (text.back() == '\n' ? "" : "\n");
  scope.end();
}
