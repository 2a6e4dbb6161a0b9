#include "authoring/control_guide.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>
#include <vector>

#include "finishing/finishing_controls.h"
#include "session/number_text.h"
#include "session/parameter_settings.h"

namespace {

// Figures are for the default look at 960 x 540; they move when the controls they name move.
constexpr ControlGuide kGuides[] = {
    {"About", "The effect's banner. It changes nothing in the picture.", "", ""},
    {"Quality", "How many samples each ray takes: 64, 128 or 256 along the same path. More samples give finer detail "
                "and smoother gradients; the look stays the same.",
     "Draft (64) to preview, Original (256) for final frames; each step up doubles the render time.",
     "Smooth Sampling hides most of Draft's banding."},
    {"Processing", "Where the frames are computed: the GPU when there is one, the GPU only, or the CPU. The picture "
                   "is the same.",
     "Auto (GPU preferred) unless a render must fail without a GPU.", ""},
    {"Smooth Sampling", "Averages the colour ramp over each step instead of reading it at one point: soft gradients "
                        "instead of contour bands.",
     "On, except to match a look made with it off.", "Matters most at Draft (64) and with a large Step Size."},
    {"Emitter", "Where the flames come from: a ball of noise seen through a camera, or another layer's shapes.", "",
     ""},
    {"Emitter/Source", "Original Volume: a noise-eaten ball of fire in front of a camera. Layer Alpha and Layer Luma: "
                       "flames rise from the Emitter Layer's opaque or bright pixels, over a transparent background.",
     "Layer Alpha for logos and text; Layer Luma for footage or grey mattes.",
     "Step Size, Sphere Radius and Camera Distance act only on the volume; Emitter Layer, Rise Height and Rise Speed "
     "only on layers."},
    {"Emitter/Emitter Layer", "The image the flames rise from. Matte values of 25% and more burn fully; weaker ones "
                              "fade out.",
     "White or opaque shapes on transparent or black; bold shapes burn better than thin lines.",
     "Source must be Layer Alpha or Layer Luma. `vortelline render` places it with --emitter-fit, "
     "--emitter-offset and --emitter-scale."},
    {"Emitter/Rise Height", "How far the flames climb above the emitter's shapes, in percent of the layer's height.",
     "10-20% for a lick of flame along text, 35% (default) for a fire, 60%+ for tall tongues.",
     "Noise Amplitude roughens the flames' edges; Zoom scales everything."},
    {"Emitter/Rise Speed", "How fast the flame pattern scrolls upward; negative values sink.",
     "0.5-3; 1.5 (default) reads as a lively fire, 0.5 as a slow one.",
     "Noise Flow/Y is subtracted from it; Animation Speed scales both."},
    {"Density", "How much every sample adds, squared: below about 0.6 the default volume is empty, above 1.3 it "
                "turns into solid blobs.",
     "0.7-1.6 for the volume; 0.5-1.5 for layers.",
     "Brightness and Contrast decide how much of it shows; Sphere Radius and Noise Amplitude decide where there is "
     "anything to add up."},
    {"Step Size", "Not a quality setting: it sets how far each ray travels (10 x Step Size units, shared among the "
                  "Quality's samples). Short rays stop in front of the fire; long ones see through the whole ball, "
                  "which looks fuller and softer.",
     "0.4-1.2; below 0.3 the default ball is out of reach.",
     "Camera Distance: the ray starts Camera Distance - 1 units from the centre. Quality does not change the "
     "distance, only the samples along it. Volume only."},
    {"Sphere Radius", "The size of the ball of fire before the noise eats into it.",
     "6.5-9 with the default Noise Amplitude: 5.5 and less leaves nothing, 10 and more fills the frame.",
     "Noise Amplitude works against it: keep the radius near 0.8 x Noise Amplitude to keep the flames' amount. "
     "Volume only."},
    {"Noise Amplitude", "How deeply the noise cuts into the ball: 0 is a smooth glowing ball, 3-6 a dense body "
                        "with ragged edges, 9 broken tongues of flame. For layers, how ragged the flames are.",
     "3-10; 12 and more leaves nothing with the default Sphere Radius.",
     "Raise Sphere Radius with it (about 0.8 x Noise Amplitude)."},
    {"Noise Frequency", "The size of the flames' detail: low values give large smooth lobes, high values fine, "
                        "fragmented flames.",
     "0.5-3.", "Zoom scales the whole picture instead; Noise Amplitude sets how deep the detail cuts."},
    {"Animation Speed", "How fast the flames change: the noise's time runs at 1.2 x this many units per second. 0 "
                        "freezes them, negative values run them backwards.",
     "0.3 (slow, smoky) to 2 (roaring).", "Noise Flow and Rise Speed are scaled by it."},
    {"Animation Offset", "Shifts the animation's time: another moment of the same motion.",
     "Any value; give copies of a look different offsets so that they do not flicker in step.", ""},
    {"Noise Flow", "The direction in which the noise drifts through the flames as time passes.", "", ""},
    {"Noise Flow/X", "Sideways drift of the noise, in noise units per animation second.", "-2 to 2.",
     "Animation Speed scales it."},
    {"Noise Flow/Y", "Vertical drift of the noise.", "-2 to 2.",
     "For layers it is subtracted from Rise Speed; Animation Speed scales it."},
    {"Noise Flow/Z", "Drift of the noise along the view: the flames boil in place instead of moving across.",
     "0.5-2 for the volume.", "Animation Speed scales it."},
    {"Color Adjustment", "Brightness, Contrast and Saturation of the accumulated flame colour.", "", ""},
    {"Color Adjustment/Brightness", "Adds to every channel: 1 leaves the colour as it is, the default 0.3 darkens "
                                    "so that only the dense parts glow.",
     "0.2-1; above about 1.15 the empty background turns grey or coloured.",
     "Contrast is applied first; Density changes what there is to brighten."},
    {"Color Adjustment/Contrast", "Spreads the colour away from mid grey: brighter cores, harder edges and more "
                                  "black between the flames.",
     "1-3; at 5 the flames turn to flat white shapes.", "Brightness shifts the result."},
    {"Color Adjustment/Saturation", "How much of the colour groups' hues survives. At the default 0.1 the flames are "
                                    "nearly grey and Tint decides their colour.",
     "0.1 for tinted flames; 0.6-1.5 to show the hues; 2 and more posterises.",
     "Raise it, and lower Tint Amount, to make the hues show; blue hues are dark, so they need more."},
    {"Tint", "Multiplies each channel by its factor, mixed in by Amount. The default orange comes from here, not "
             "from the hues.",
     "", ""},
    {"Tint/Amount", "How much of the tint factors is mixed in.",
     "0 to show the hues as they are; 0.15-0.4 to colour the flames; above about 0.4 the empty background takes "
     "the colour of a negative factor too.",
     "Tint's Red, Green and Blue; Saturation."},
    {"Tint/Red", "The red channel's factor at full Amount: above 1 strengthens red, below 1 weakens it, negative "
                 "values remove it.",
     "-2 to 5. Orange: 3.8, 0.8, -1.4 (default); blue: -1.4, 0.8, 3.8; green: -1.4, 3.8, -1.4.",
     "Tint Amount; the empty background turns this channel on when the factor is negative and Amount is high."},
    {"Tint/Green", "The green channel's factor at full Amount, as for Red.", "-2 to 5.", "Tint Amount."},
    {"Tint/Blue", "The blue channel's factor at full Amount, as for Red.", "-2 to 5.", "Tint Amount."},
    {"Inner Color", "The colour at the flames' core, where the ramp starts.", "", ""},
    {"Inner Color/Hue", "The colour's position on the colour wheel: 0 red, 30 orange, 60 yellow, 120 green, 200 "
                        "cyan, 240 blue, 290 purple.",
     "0-360.", "Shows only with Saturation raised (0.6 and more) or Tint Amount lowered."},
    {"Inner Color/Gain", "The core colour's strength; above 100% the core burns towards white.", "100-400%.",
     "Contrast and Brightness."},
    {"Inner Color/Opacity", "How much the core colour covers what lies behind it.", "20-80%.", "Density."},
    {"Main Color", "The colour of the flames' body, which fades out at the flames' edge.", "", ""},
    {"Main Color/Hue", "The body colour's position on the colour wheel, as for Inner Color.", "0-360.",
     "Shows only with Saturation raised or Tint Amount lowered."},
    {"Main Color/Gain", "The body colour's strength; the default 382% makes the body the brightest part.",
     "150-500%.", "Contrast and Brightness."},
    {"Main Color/Opacity", "How much the body colour covers what lies behind it.", "20-80%.", "Density."},
    {"Outer Color", "A thin halo just outside the flames, beyond a clear gap.", "", ""},
    {"Outer Color/Hue", "The halo's position on the colour wheel.", "0-360.",
     "Shows only with Saturation raised or Tint Amount lowered."},
    {"Outer Color/Gain", "The halo's strength.", "50-300%.", "Outer Color/Opacity."},
    {"Outer Color/Opacity", "How much the halo covers: the default 10% is a faint glow; 30% and more draws a "
                            "visible second skin around the flames.",
     "0-40%.", "Noise Amplitude: smooth shapes show the halo best."},
    {"View", "Where the picture looks: zoom, centre and, for the volume, the camera.", "", ""},
    {"View/Zoom", "Magnifies the picture about its centre.", "0.5-3.",
     "Noise Frequency changes the detail's size without moving the camera."},
    {"View/Center X", "Moves the view sideways: one unit is a tenth of the frame's height at Zoom 1.", "-5 to 5.",
     "Zoom."},
    {"View/Center Y", "Moves the view up and down: one unit is a tenth of the frame's height at Zoom 1.", "-5 to 5.",
     "Zoom."},
    {"View/Camera Distance", "How far the camera stands from the ball's centre: closer looks into the fire with a "
                             "wider angle, further away sees a smaller ball.",
     "5-9; at 10 and more the default ray stops short of the flames.",
     "Step Size must grow with it, since the ray is only 10 x Step Size long. Volume only."},
};

// A table cell: no line breaks, no column separators.
std::string markdownCell(const char* text) {
  std::string cell;
  for (const char* c = text; *c; ++c) {
    cell += *c == '|' ? std::string("\\|") : std::string(1, *c);
  }
  return cell;
}

}  // namespace

std::span<const ControlGuide> controlGuides() { return kGuides; }

const ControlGuide* findControlGuide(const std::string& name) {
  const std::string wanted = lowercase(name);
  auto found = std::find_if(std::begin(kGuides), std::end(kGuides),
                            [&](const ControlGuide& guide) { return lowercase(guide.name) == wanted; });
  return found == std::end(kGuides) ? nullptr : &*found;
}

std::string controlHelpText(const ControlGuide& guide) {
  std::string text = guide.effect;
  if (*guide.range) {
    text += std::string(" Useful: ") + guide.range;
  }
  if (*guide.worksWith) {
    text += std::string(" Works with: ") + guide.worksWith;
  }
  return text;
}

std::span<const ControlGuide> finishingGuides() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> made;
    for (int id = 0; id < finishingControlCount; ++id) {
      const FinishingControl& control = finishingControls[id];
      made.push_back(finishingControlName(id));
      if (control.kind == FinishingKind::choice) {
        std::string choices;
        for (const std::string& choice : splitChoices(control.choices)) {
          choices += (choices.empty() ? "" : ", ") + choice;
        }
        made.push_back(choices + "; default " + finishingValueText(id, control.defaultValue) + ".");
      } else {
        const std::string unit = *control.unit ? std::string(" ") + control.unit : std::string();
        made.push_back(numberText(control.sliderMin) + " to " + numberText(control.sliderMax) + unit + "; default " +
                       numberText(control.defaultValue) + unit + ".");
      }
    }
    return made;
  }();
  static const std::vector<ControlGuide> guides = [] {
    std::vector<ControlGuide> made;
    for (int id = 0; id < finishingControlCount; ++id) {
      const bool key = id >= emitterKeyMode;
      made.push_back(ControlGuide{texts[2 * id].c_str(), finishingControls[id].description, texts[2 * id + 1].c_str(),
                                  key ? "Source Layer Alpha or Layer Luma: the host keys the Emitter Layer before "
                                        "the effect reads it."
                                      : "The host applies it to the effect's frame, before the output alpha "
                                        "(--alpha), which holds the added light."});
    }
    return made;
  }();
  return guides;
}

std::string controlGuideMarkdown() {
  std::string table = "| Control | What it does | Useful values | Works with |\n|---|---|---|---|\n";
  std::vector<ControlGuide> guides(std::begin(kGuides), std::end(kGuides));
  guides.insert(guides.end(), finishingGuides().begin(), finishingGuides().end());
  for (const ControlGuide& guide : guides) {
    table += "| " + markdownCell(guide.name) + " | " + markdownCell(guide.effect) + " | " + markdownCell(guide.range) +
             " | " + markdownCell(guide.worksWith) + " |\n";
  }
  return table;
}
