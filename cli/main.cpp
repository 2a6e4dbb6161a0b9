// vortelline: renders the flame effect to image files, as a command-line host for its module.
#include <CLI/CLI.hpp>

#include <iostream>
#include <new>
#include <numeric>

#include "authoring/presets.h"
#include "authoring/render_job.h"
#include "authoring/settings_file.h"
#include "cli/banner_image.h"
#include "cli/library_commands.h"
#include "cli/usage_hints.h"
#include "drawing/emitter_text.h"
#include "media/frame_output.h"
#include "media/movie_file.h"
#include "session/cancellation.h"
#include "session/effect_module.h"
#include "session/program_errors.h"
#include "session/program_version.h"

namespace {

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

void addModuleOption(CLI::App& command, std::string& modulePath) {
  command.add_option("--module", modulePath,
                     "The effect module to load (default: the installed module, found from this program's "
                     "folder, else the one built with it)")
      ->type_name("PATH");
}

// An empty value, as an unset shell variable gives, is refused rather than read as the option's
// default: `--frames "$FRAMES"` would render frame 0 alone and `--preset "$LOOK"` the plain look,
// both reporting success.
void refuseEmptyValues(const CLI::App& command) {
  for (const CLI::Option* option : command.get_options()) {
    if (option->get_expected_min() == 0) {
      continue;
    }
    for (const std::string& value : option->results()) {
      if (value.empty()) {
        throw UsageError(option->get_name() + " is empty; give it a value or leave the option out");
      }
    }
  }
}

// "--frames=" with nothing after the sign is an empty value, as an unset variable in
// `--frames="$FRAMES"` gives; the parser would take the next argument for its value instead.
void refuseEmptyAssignedValues(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "--") {
      return;
    }
    if (argument.size() > 3 && argument.rfind("--", 0) == 0 && argument.back() == '=' &&
        argument.find('=') == argument.size() - 1) {
      throw UsageError(argument.substr(0, argument.size() - 1) + " is empty; give it a value or leave the option out");
    }
  }
}

void describeRenderOptions(CLI::App& render, RenderOptions& options, std::string& size, std::string& frames,
                           std::string& frame, std::string& fps, std::string& pixelAspect, std::string& path,
                           std::string& processing, std::string& task, std::string& alpha) {
  render.add_option("-o,--output", options.outputPattern,
                    "Output file: .png (8 or 16 bits) or .exr (32-bit float); each run of # becomes the "
                    "zero-padded frame number. Or one movie: .mov (ProRes 4444), .mkv (FFV1, lossless), .webm "
                    "(VP9) or .mp4 (H.264, no alpha). Existing files are overwritten (see --skip-existing)")
      ->required();
  render.add_option("--size", size, "Layer size WIDTHxHEIGHT (default: the --input image's size, else 1920x1080)");
  auto* framesOption = render.add_option("--frames", frames,
                                         "Frames FIRST-LAST, every STEP-th FIRST-LAST:STEP, or a list of them and "
                                         "single frames, such as 0-47, 0-100:5 or 0-10,20,30-40");
  render.add_option("--frame", frame, "One frame (default 0)")->excludes(framesOption);
  render.add_option("--task", task,
                    "Render only share INDEX (from 0) of COUNT contiguous, nearly equal shares of the frames, "
                    "as a job-array task: --task $SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT");
  render.add_flag("--skip-existing", options.skipExisting,
                  "Do not render frames whose output file exists (files appear complete or not at all, so a "
                  "resubmitted job resumes where it stopped)");
  render.add_option("--fps", fps,
                    "Frames per second, such as 23.976 or 30000/1001 (default 24); frame N is at N / fps seconds");
  render.add_option("--set", options.settings,
                    "Set a control: \"Name=VALUE\", \"Group/Name=VALUE\" where a name repeats, or keyframes "
                    "\"Name=VALUE@FRAME,VALUE@FRAME\" (linear in between). Repeatable; `vortelline params` lists "
                    "the controls")
      ->allow_extra_args(false);
  auto* settingsOption = render.add_option("--settings", options.settingsPath,
                    "A settings file saved by vortelline-studio: its layer size, frame rate, frame, emitter and "
                    "controls; the other options override it");
  render.add_option("--preset", options.presetName,
                    "A look from the library (`vortelline presets` lists them): its controls and emitter; --set "
                    "and --emitter override it")
      ->excludes(settingsOption);
  render.add_option("--depth", options.bitDepth,
                    "Bits per channel: 8, 16 or 32 (default: 8 for .png, 32 for .exr); an .exr of 16 bits holds "
                    "the 16-bit values divided by 32768")
      ->check(CLI::IsMember({8, 16, 32}).description(""));
  render.add_option("--downsample", options.downsample, "Render at 1/N resolution, N from 1 (the default) to 64")
      ->check(CLI::Range(1, 64).description(""));
  render.add_option("--pixel-aspect", pixelAspect, "Pixel aspect ratio, such as 0.9 or 10/11 (default 1)");
  render.add_option("--processing", processing, "Sets the Processing control: auto, gpu or cpu");
  render.add_option("--path", path,
                    "Render commands: smart (pre-render and render, the default) or plain (8 or 16 bits: .exr "
                    "needs --depth 16)");
  render.add_option("--input", options.inputPath, "The layer's own pixels, PNG or EXR (default: transparent)");
  render.add_option("--emitter", options.emitterPath,
                    "The Emitter Layer's pixels, PNG or EXR, placed by --emitter-fit (default: this layer)");
  render.add_option("--codec", options.movieCodec.codec,
                    "A movie's FFmpeg encoder other than the container's own, such as qtrle or png in a .mov");
  render.add_option("--quality", options.movieCodec.quality,
                    "A movie's quality, lower is better: CRF for libx264 (default 18) and libvpx-vp9 (30), "
                    "quantiser 1-64 for prores_ks (default: the profile's data rate)");
  render.add_option("--alpha", alpha,
                    "The output's alpha: light (from the light: flames on black that composite over anything), effect "
                    "(the effect's own), or auto: light where the effect's own frame is opaque, else effect");
  render.add_flag("-q,--quiet", options.quiet, "No progress bar");
  // What each value is, as the README writes it; the parser's own TEXT and INT say nothing, and
  // its "TEXT=24" for a default reads as syntax, so defaults are in the descriptions.
  const std::pair<const char*, const char*> valueNames[] = {
      {"--output", "PATTERN"}, {"--size", "WxH"},      {"--frames", "LIST"},       {"--frame", "N"},
      {"--task", "I/N"},       {"--fps", "F"},         {"--set", "\"NAME=VALUE\""}, {"--settings", "FILE"},
      {"--preset", "NAME"},    {"--depth", "8|16|32"}, {"--downsample", "N"},      {"--pixel-aspect", "R"},
      {"--processing", "auto|gpu|cpu"}, {"--path", "smart|plain"}, {"--alpha", "auto|light|effect"},
      {"--input", "FILE"},     {"--emitter", "FILE"},
      {"--codec", "NAME"},     {"--quality", "Q"},
  };
  for (const auto& [name, valueName] : valueNames) {
    render.get_option(name)->type_name(valueName);
  }
  // As in most renderers, a repeated option overrides the earlier one; only --set accumulates.
  for (CLI::Option* option : render.get_options()) {
    if (option->get_name() != "--set") {
      option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
  }
}

// The emitter placement as typed; it overrides a settings file's or preset's, option by option.
struct EmitterPlacementTexts {
  std::string fit, offset, scale;
};

void describeEmitterPlacementOptions(CLI::App& render, EmitterPlacementTexts& texts) {
  render.add_option("--emitter-fit", texts.fit,
                    "Where the emitter image goes: none (its own size at the layer's top left, the default), fit "
                    "(inside the layer), fill (covering the layer) or centre (its own size, centred)");
  render.add_option("--emitter-scale", texts.scale,
                    "Scales the emitter image beyond its fit, from 0.01 to 100, such as 0.5 (default 1)");
  render.add_option("--emitter-offset", texts.offset,
                    "Moves the emitter image by X,Y layer pixels, such as 0,-40 (default 0,0)");
  render.get_option("--emitter-fit")->type_name("none|fit|fill|centre");
  render.get_option("--emitter-scale")->type_name("S");
  render.get_option("--emitter-offset")->type_name("X,Y");
  for (const char* name : {"--emitter-fit", "--emitter-scale", "--emitter-offset"}) {
    render.get_option(name)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
}

void finishEmitterPlacement(RenderOptions& options, const EmitterPlacementTexts& texts) {
  if (!texts.fit.empty()) {
    options.emitterPlacement.fit = parseEmitterFit(texts.fit);
  }
  if (!texts.scale.empty()) {
    options.emitterPlacement.scale = parseEmitterScale(texts.scale);
  }
  if (!texts.offset.empty()) {
    parseEmitterOffset(texts.offset, options.emitterPlacement);
  }
}

// --loop and --loop-fade as typed.
struct LoopTexts {
  std::string length, fade;
};

void describeLoopOptions(CLI::App& render, LoopTexts& texts) {
  auto* loop = render.add_option("--loop", texts.length,
                                 "Make the frames 0 to N-1 a seamless loop: the last frames cross-fade into the "
                                 "frames one loop earlier, so frame N-1 runs into frame 0 (renders 0 to N-1 "
                                 "unless --frame(s) says otherwise)");
  render.add_option("--loop-fade", texts.fade,
                    "Frames of the loop's cross-fade (default: one second, at most half the loop); each renders "
                    "twice")
      ->needs(loop);
  loop->type_name("N");
  render.get_option("--loop-fade")->type_name("K");
  for (const char* name : {"--loop", "--loop-fade"}) {
    render.get_option(name)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
}

void finishLoop(RenderOptions& options, const LoopTexts& texts, bool framesGiven) {
  if (texts.length.empty()) {
    return;
  }
  options.loop = parseLoop(texts.length, texts.fade, options.clock);
  if (!framesGiven) {
    options.frames.resize(options.loop.length);
    std::iota(options.frames.begin(), options.frames.end(), 0L);
  }
}

// A settings file's timeline, as the studio's Render dialog renders it: frame 0 to its last frame,
// within its loop if it has one. Empty for files saved before the timeline was kept (and without a
// loop): they have only the frame on show.
std::vector<long> settingsFileTimeline(const SettingsScene& scene) {
  long last = scene.lastFrame.value_or(scene.loopLength - 1);
  if (scene.loopLength > 0) {
    last = std::min(last, scene.loopLength - 1);
  }
  std::vector<long> frames(static_cast<size_t>(std::max(last + 1, 0L)));
  std::iota(frames.begin(), frames.end(), 0L);
  return frames;
}

std::string framesText(const std::vector<long>& frames) {
  if (frames.size() == 1) {
    return "frame " + std::to_string(frames.front());
  }
  return "frames " + std::to_string(frames.front()) + "-" + std::to_string(frames.back());
}

// Says which frames a settings file made the run render, and which its timeline holds.
void noteSettingsFileFrames(const RenderOptions& options, const std::vector<long>& timeline) {
  std::cerr << "vortelline: " << options.settingsPath << ": rendering " << framesText(options.frames);
  if (options.frames.size() > 1) {
    std::cerr << ", its timeline";
  } else {
    std::cerr << ", the frame on show";
    if (timeline.size() > 1) {
      std::cerr << " (its timeline, " << framesText(timeline) << ", needs a # in the output name or a movie)";
    }
  }
  if (options.loop.length > 0) {
    std::cerr << ", in a seamless loop of " << options.loop.length << " frames";
  }
  std::cerr << "\n";
}

// A settings file's or look's emitter, image or text, unless --emitter gives one; its placement.
void takeSavedEmitter(const SettingsScene& scene, RenderOptions& options) {
  if (options.emitterPath.empty()) {
    options.emitterPath = scene.emitterPath;
    options.emitterText = scene.emitterText;
    options.emitterTextStyle = scene.emitterTextStyle;
    options.emitterTextLayerWidth = scene.width;
    options.emitterTextLayerHeight = scene.height;
  }
  options.emitterPlacement = scene.emitterPlacement;
}

RenderOptions finishRenderOptions(RenderOptions options, const std::string& size, const std::string& frames,
                                  const std::string& frame, const std::string& fps, const std::string& pixelAspect,
                                  const std::string& path, const std::string& processing,
                                  const std::string& task, const std::string& alpha,
                                  std::vector<long>& settingsTimeline) {
  if (!options.settingsPath.empty()) {
    SettingsFile file = readSettingsFile(options.settingsPath);
    settingsTimeline = settingsFileTimeline(file.scene);
    options.width = file.scene.width;
    options.height = file.scene.height;
    options.sizeOrigin = "the layer size of " + options.settingsPath;
    options.clock = file.scene.clock;
    // Where the command line names no frames: the timeline into an output that holds several
    // frames, else the frame on show.
    const bool severalFrames = movieContainerForPath(options.outputPattern) || patternNamesFrames(options.outputPattern);
    options.frames = severalFrames && !settingsTimeline.empty() ? settingsTimeline : std::vector<long>{file.scene.frame};
    if (file.scene.loopLength > 0) {
      options.loop = LoopSettings{file.scene.loopLength, defaultLoopFade(file.scene.loopLength, file.scene.clock)};
    }
    takeSavedEmitter(file.scene, options);
    options.savedSettings = file.assignments;
    options.finishing = file.scene.finishing;
  }
  if (!options.presetName.empty()) {
    std::optional<PresetInfo> shadowed;
    const PresetInfo look = findLook(presetFolder(), userLookFolderPath(), options.presetName, shadowed);
    if (shadowed) {
      std::cerr << "vortelline: note: your own look " << shadowed->file.string() << " has the name of the library's \""
                << look.name << "\", which --preset renders; render yours with --settings " << shadowed->file.string()
                << "\n";
    }
    SettingsFile preset = readSettingsFile(look.file.string());
    options.savedSettings = preset.assignments;
    options.finishing = preset.scene.finishing;
    takeSavedEmitter(preset.scene, options);
  }
  if (!size.empty()) {
    FrameSize parsed = parseFrameSize(size);
    options.width = parsed.width;
    options.height = parsed.height;
    options.sizeOrigin = "--size";
  }
  if (!frames.empty() || !frame.empty()) {
    options.frames = parseFrameList(frames.empty() ? frame : frames);
  }
  if (!task.empty()) {
    options.task = parseFrameTask(task);
  }
  if (!fps.empty() || options.settingsPath.empty()) {
    PF_RationalScale rate = parseRate(fps.empty() ? "24" : fps, "--fps", "24, 23.976 or 30000/1001");
    options.clock = FrameClock{static_cast<A_u_long>(rate.num), static_cast<A_long>(rate.den)};
  }
  options.pixelAspect = parseRate(pixelAspect.empty() ? "1" : pixelAspect, "--pixel-aspect", "1, 0.9 or 10/11");
  options.path = !path.empty() && parseChoice("--path", path, {"smart", "plain"}) == "plain" ? RenderPath::plain
                                                                                          : RenderPath::smart;
  if (!processing.empty()) {
    options.processing = parseChoice("--processing", processing, {"auto", "gpu", "cpu"});
  }
  if (!alpha.empty()) {
    options.outputAlpha = *parseOutputAlpha(parseChoice("--alpha", alpha, {"auto", "light", "effect"}));
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  installCancellationHandlers();

  CLI::App app{"vortelline: renders procedural volumetric flames into image files or movies"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vortelline ") + programVersion);
  std::string modulePath;

  CLI::App* render = app.add_subcommand("render", "Render frames into PNG or EXR files or one movie");
  RenderOptions options;
  options.drawEmitterText = drawEmitterText;
  std::string size, frames, frame, fps, pixelAspect, path, processing, task, alpha;
  describeRenderOptions(*render, options, size, frames, frame, fps, pixelAspect, path, processing, task, alpha);
  EmitterPlacementTexts placementTexts;
  describeEmitterPlacementOptions(*render, placementTexts);
  LoopTexts loopTexts;
  describeLoopOptions(*render, loopTexts);
  addModuleOption(*render, modulePath);

  CLI::App* params = app.add_subcommand("params", "List the effect's controls as it declares them");
  addModuleOption(*params, modulePath);
  CLI::App* about = app.add_subcommand("about", "Show the effect's About information");
  addModuleOption(*about, modulePath);
  CLI::App* presets = app.add_subcommand("presets", "List the library of looks for render --preset");
  CLI::App* controls = app.add_subcommand("controls", "Describe what each control does to the picture");
  bool markdown = false;
  controls->add_flag("--markdown", markdown, "As the README's Markdown table");
  CLI::App* banner = app.add_subcommand("banner", "Draw the effect's banner control into a PNG file");
  std::string bannerSize, bannerPath;
  banner->add_option("--size", bannerSize, "Control size WIDTHxHEIGHT (default: the size the control declares, 240x60)")
      ->type_name("WxH");
  banner->add_option("-o,--output", bannerPath, "Output .png file (overwritten if it exists)")->type_name("FILE")->required();
  addModuleOption(*banner, modulePath);

  try {
    refuseEmptyAssignedValues(std::vector<std::string>(argv + 1, argv + argc));
    app.parse(argc, argv);
  } catch (const UsageError& error) {
    std::cerr << "vortelline: " << error.what() << "\n";
    return exitUsage;
  } catch (const CLI::ParseError& error) {
    const std::string hint =
        error.get_exit_code() == 0 ? "" : unknownArgumentHint(app, std::vector<std::string>(argv + 1, argv + argc));
    if (!hint.empty()) {
      std::cerr << "vortelline: " << hint << "\n";
      return exitUsage;
    }
    int status = app.exit(error);
    return status == 0 ? 0 : exitUsage;
  }

  try {
    for (const CLI::App* command : app.get_subcommands()) {
      refuseEmptyValues(*command);
    }
    if (modulePath.empty()) {
      modulePath = defaultModulePath(VORTELLINE_BUILT_MODULE_PATH);
    }
    if (render->parsed()) {
      options.modulePath = modulePath;
      std::vector<long> settingsTimeline;
      RenderOptions finished = finishRenderOptions(options, size, frames, frame, fps, pixelAspect, path,
                                                   processing, task, alpha, settingsTimeline);
      finishEmitterPlacement(finished, placementTexts);
      const bool framesGiven = render->count("--frames") + render->count("--frame") > 0;
      finishLoop(finished, loopTexts, framesGiven);
      if (!finished.settingsPath.empty() && !framesGiven && loopTexts.length.empty()) {
        noteSettingsFileFrames(finished, settingsTimeline);
      }
      runRender(finished);
    } else if (params->parsed()) {
      printParams(modulePath, std::cout);
    } else if (presets->parsed()) {
      printPresets(std::cout);
    } else if (controls->parsed()) {
      printControlGuide(std::cout, markdown);
    } else if (banner->parsed()) {
      writeCustomControlImage(modulePath, bannerSize, bannerPath);
    } else {
      printAbout(modulePath, std::cout);
    }
  } catch (...) {
    return reportFailures(std::current_exception(), std::cerr);
  }
  std::cout.flush();
  return std::cout ? 0 : exitFailure;
}
