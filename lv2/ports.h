// The LV2 face of the waveshapers: plugin URIs and the port indices and symbols of the four plugins
// in the bundle waveshapers.lv2. The plugin code, the TTL generator, the tests and the curve editor's
// LV2 UI all read these, so an index or symbol is written only here.
//
// Layout, the same for all four plugins where they share a port:
//   0..4    drive, level, mix, oversampling (controls in), latency (control out)
//   curve:  5..15 x0..x10, 16..26 y0..y10 (the 11 curve points, volts), then audio
//   formula: 5 control (atom in, patch:Set / patch:Get), 6 notify (atom out), then audio
//   audio:  mono: in, out; stereo: in_l, in_r, out_l, out_r
#pragma once

#include <cstdint>

namespace waveshapers_lv2 {

#define WAVESHAPERS_LV2_URI "http://waveshapers.example/lv2"
#define WAVESHAPERS_LV2_CURVE_MONO_URI WAVESHAPERS_LV2_URI "#curve-mono"
#define WAVESHAPERS_LV2_CURVE_STEREO_URI WAVESHAPERS_LV2_URI "#curve-stereo"
#define WAVESHAPERS_LV2_FORMULA_MONO_URI WAVESHAPERS_LV2_URI "#formula-mono"
#define WAVESHAPERS_LV2_FORMULA_STEREO_URI WAVESHAPERS_LV2_URI "#formula-stereo"
#define WAVESHAPERS_LV2_CURVE_UI_URI WAVESHAPERS_LV2_URI "#curve-ui"
// The formula text, a patch:writable parameter of the formula plugins (atom:String, UTF-8).
#define WAVESHAPERS_LV2_FORMULA_PARAMETER_URI WAVESHAPERS_LV2_URI "#formula"

constexpr const char* kProjectUri = WAVESHAPERS_LV2_URI;
constexpr const char* kCurveMonoUri = WAVESHAPERS_LV2_CURVE_MONO_URI;
constexpr const char* kCurveStereoUri = WAVESHAPERS_LV2_CURVE_STEREO_URI;
constexpr const char* kFormulaMonoUri = WAVESHAPERS_LV2_FORMULA_MONO_URI;
constexpr const char* kFormulaStereoUri = WAVESHAPERS_LV2_FORMULA_STEREO_URI;
constexpr const char* kCurveUiUri = WAVESHAPERS_LV2_CURVE_UI_URI;
constexpr const char* kFormulaParameterUri = WAVESHAPERS_LV2_FORMULA_PARAMETER_URI;

// The bundle folder, the plugin binary and the curve editor UI's binary inside it.
constexpr const char* kBundleName = "waveshapers.lv2";
constexpr const char* kPluginBinary = "waveshapers_lv2.so";
constexpr const char* kUiBinary = "waveshapers_ui.so";

enum class PluginKind { kCurve, kFormula };

constexpr int kCurvePoints = 11;

// Ports every plugin has.
enum CommonPort : uint32_t {
    kPortDrive = 0,        // input drive, dB
    kPortLevel = 1,        // output level, dB
    kPortMix = 2,          // dry/wet, percent wet
    kPortOversampling = 3, // 1, 2, 4 or 8
    kPortLatency = 4,      // reported latency in samples (output)
    kCommonPortCount = 5,
};

// Curve plugins: the x and y of point i (volts, -5..+5) are ports kPortX0 + i and kPortY0 + i; the
// defaults are the identity curve, x = y = i - 5.
constexpr uint32_t kPortX0 = kCommonPortCount;
constexpr uint32_t kPortY0 = kPortX0 + kCurvePoints;
constexpr uint32_t kCurveAudioFirst = kPortY0 + kCurvePoints; // 27

// Formula plugins.
constexpr uint32_t kPortControl = kCommonPortCount;      // atom sequence in
constexpr uint32_t kPortNotify = kPortControl + 1;       // atom sequence out
constexpr uint32_t kFormulaAudioFirst = kPortNotify + 1; // 7

constexpr uint32_t audioFirstPort(PluginKind kind) {
    return kind == PluginKind::kCurve ? kCurveAudioFirst : kFormulaAudioFirst;
}
// Audio ports: the inputs of all channels, then the outputs.
constexpr uint32_t audioInPort(PluginKind kind, int channel) {
    return audioFirstPort(kind) + static_cast<uint32_t>(channel);
}
constexpr uint32_t audioOutPort(PluginKind kind, int channels, int channel) {
    return audioFirstPort(kind) + static_cast<uint32_t>(channels) + static_cast<uint32_t>(channel);
}
constexpr uint32_t portCount(PluginKind kind, int channels) {
    return audioFirstPort(kind) + 2u * static_cast<uint32_t>(channels);
}

// Port symbols, indexed by port number up to the audio ports.
constexpr const char* kCommonPortSymbols[kCommonPortCount] = {"drive", "level", "mix", "oversampling",
                                                              "latency"};
constexpr const char* kCurveXSymbols[kCurvePoints] = {"x0", "x1", "x2", "x3", "x4", "x5",
                                                      "x6", "x7", "x8", "x9", "x10"};
constexpr const char* kCurveYSymbols[kCurvePoints] = {"y0", "y1", "y2", "y3", "y4", "y5",
                                                      "y6", "y7", "y8", "y9", "y10"};
constexpr const char* kControlSymbol = "control";
constexpr const char* kNotifySymbol = "notify";
// Audio symbols: "in"/"out" for mono, "in_l", "in_r", "out_l", "out_r" for stereo.
constexpr const char* kMonoAudioSymbols[2] = {"in", "out"};
constexpr const char* kStereoAudioSymbols[4] = {"in_l", "in_r", "out_l", "out_r"};

// Ranges of the common controls.
constexpr float kDriveMinDb = -24.0f, kDriveMaxDb = 24.0f, kDriveDefaultDb = 0.0f;
constexpr float kLevelMinDb = -60.0f, kLevelMaxDb = 12.0f, kLevelDefaultDb = 0.0f;
constexpr float kMixMin = 0.0f, kMixMax = 100.0f, kMixDefault = 100.0f;
constexpr int kOversamplingFactors[4] = {1, 2, 4, 8};
constexpr float kPointMinVolts = -5.0f, kPointMaxVolts = 5.0f;

} // namespace waveshapers_lv2
