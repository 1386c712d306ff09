// Writes the bundle's descriptions from the modules' description file (waveshapers.json) and the port
// layout of ports.h, so that names, defaults and ports cannot drift from the modules:
//   manifest.ttl     the plugins, their binary and description files, the presets
//   waveshapers.ttl  the project, the formula parameter and the four plugins with their ports
//   presets.ttl      the factory presets of each plugin
//   module_defaults.h  the default curve points and formula, compiled into the plugin
// Usage: lv2_ttl_generator DESCRIPTION.json BUNDLE_DIR HEADER [--curve-see-also FILE]... [--manifest-extra
// FILE]...
#include <charconv>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "curve/curve_text.h"
#include "factory/module_ids.h"
#include "factory/pin_text.h"
#include "lv2/ports.h"

namespace {

using namespace waveshapers_lv2;

// The plugins' version: the minor number is even for releases and rises when ports or behaviour
// change; the micro number counts fixes.
constexpr int kMinorVersion = 2;
constexpr int kMicroVersion = 0;

struct Plugin {
    const char* uri;
    PluginKind kind;
    int channels;
    const char* suffix; // for names and preset URIs
};

const Plugin kPlugins[] = {
    {kCurveMonoUri, PluginKind::kCurve, 1, "mono"},
    {kCurveStereoUri, PluginKind::kCurve, 2, "stereo"},
    {kFormulaMonoUri, PluginKind::kFormula, 1, "mono"},
    {kFormulaStereoUri, PluginKind::kFormula, 2, "stereo"},
};

struct CurvePreset {
    const char* key;
    const char* label;
    float points[kCurvePoints][2]; // volts
};

// Factory presets. The identity preset of each kind is the module's default and comes from the file.
const CurvePreset kCurvePresets[] = {
    {"soft-clip",
     "Soft clip",
     {{-5, -5},
      {-4, -4.8f},
      {-3, -4.3f},
      {-2, -3.4f},
      {-1, -2},
      {0, 0},
      {1, 2},
      {2, 3.4f},
      {3, 4.3f},
      {4, 4.8f},
      {5, 5}}},
    {"hard-clip",
     "Hard clip",
     {{-5, -2.5f},
      {-4, -2.5f},
      {-2.5f, -2.5f},
      {-2, -2},
      {-1, -1},
      {0, 0},
      {1, 1},
      {2, 2},
      {2.5f, 2.5f},
      {4, 2.5f},
      {5, 2.5f}}},
    {"wavefolder",
     "Wavefolder",
     {{-5, 0},
      {-4, -1},
      {-3, -2},
      {-2.5f, -2.5f},
      {-1, -1},
      {0, 0},
      {1, 1},
      {2.5f, 2.5f},
      {3, 2},
      {4, 1},
      {5, 0}}},
    {"tube",
     "Asymmetric tube",
     {{-5, -4.6f},
      {-4, -4.1f},
      {-3, -3.4f},
      {-2, -2.4f},
      {-1, -1.2f},
      {0, 0},
      {1, 1.1f},
      {2, 1.9f},
      {3, 2.5f},
      {4, 2.9f},
      {5, 3.1f}}},
};

struct FormulaPreset {
    const char* key;
    const char* label;
    const char* formula;
};

const FormulaPreset kFormulaPresets[] = {
    {"soft-clip", "Soft clip", "5*tanh(x/2.5)/tanh(2)"},
    {"hard-clip", "Hard clip", "max(-2.5,min(2.5,x))"},
    {"wavefolder", "Wavefolder", "5*sin(x*pi/7)"},
    {"tube", "Asymmetric tube", "5*(tanh(x/4+0.3)-tanh(0.3))"},
};

const char* kPrefixes = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                        "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                        "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                        "@prefix patch: <http://lv2plug.in/ns/ext/patch#> .\n"
                        "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                        "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                        "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                        "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
                        "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                        "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
                        "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
                        "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n\n";

// A decimal literal whatever the locale: shortest round-trip form, with a point.
std::string number(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

// A Turtle string literal.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

struct Module {
    std::string name;
    std::string description;
    std::string textPinName;
    std::string textDefault;
    std::string audioInName;
    std::string audioOutName;
};

Module readModule(const nlohmann::json& file, const std::string& id) {
    for (const auto& module : file.at("modules")) {
        if (module.at("id").get<std::string>() != id || module.at("kind").get<int>() != kProcessingModule)
            continue;
        Module m;
        m.name = module.at("name").get<std::string>();
        m.description = module.at("description").get<std::string>();
        for (const auto& pin : module.at("pins")) {
            const int number = pin.at("number").get<int>();
            const std::string name = pin.at("name").get<std::string>();
            if (number == kWaveshaperTextPin) {
                m.textPinName = name;
                m.textDefault = pin.value("default", "");
            } else if (number == kWaveshaperAudioInPin) {
                m.audioInName = name;
            } else if (number == kWaveshaperAudioOutPin) {
                m.audioOutName = name;
            }
        }
        return m;
    }
    throw std::runtime_error("the description has no processing module '" + id + "'");
}

void write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string controlPort(uint32_t index, const char* symbol, const std::string& name, float minimum,
                        float maximum, float def, const std::string& extra) {
    std::ostringstream port;
    port << "    [\n        a lv2:InputPort , lv2:ControlPort ;\n        lv2:index " << index
         << " ;\n        lv2:symbol \"" << symbol << "\" ;\n        lv2:name " << quoted(name)
         << " ;\n        lv2:default " << number(def) << " ;\n        lv2:minimum " << number(minimum)
         << " ;\n        lv2:maximum " << number(maximum) << " ;\n"
         << extra << "    ]";
    return port.str();
}

std::string pluginTtl(const Plugin& plugin, const Module& module, const float (&defaultX)[kCurvePoints],
                      const float (&defaultY)[kCurvePoints]) {
    const bool formula = plugin.kind == PluginKind::kFormula;
    const bool stereo = plugin.channels == 2;
    std::ostringstream ttl;
    ttl << "<" << plugin.uri << ">\n    a lv2:Plugin , lv2:WaveshaperPlugin ;\n"
        << "    lv2:project <" << kProjectUri << "> ;\n"
        << "    doap:name " << quoted(module.name + (stereo ? " (stereo)" : " (mono)")) << " ;\n"
        << "    doap:license <http://opensource.org/licenses/MIT> ;\n"
        << "    rdfs:comment " << quoted(module.description) << " ;\n"
        << "    lv2:minorVersion " << kMinorVersion << " ;\n    lv2:microVersion " << kMicroVersion << " ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable ;\n";
    if (formula)
        ttl << "    lv2:requiredFeature urid:map ;\n    lv2:extensionData state:interface ;\n"
            << "    patch:writable <" << kFormulaParameterUri << "> ;\n";

    std::vector<std::string> ports;
    ports.push_back(controlPort(kPortDrive, kCommonPortSymbols[kPortDrive], "Drive", kDriveMinDb, kDriveMaxDb,
                                kDriveDefaultDb, "        units:unit units:db ;\n"));
    ports.push_back(controlPort(kPortLevel, kCommonPortSymbols[kPortLevel], "Output level", kLevelMinDb,
                                kLevelMaxDb, kLevelDefaultDb, "        units:unit units:db ;\n"));
    ports.push_back(controlPort(kPortMix, kCommonPortSymbols[kPortMix], "Dry/wet mix", kMixMin, kMixMax,
                                kMixDefault, "        units:unit units:pc ;\n"));
    std::string points = "        lv2:portProperty lv2:integer , lv2:enumeration ;\n";
    for (int f : kOversamplingFactors)
        points += "        lv2:scalePoint [ rdfs:label \"" + std::to_string(f) + "x\" ; rdf:value " +
                  std::to_string(f) + " ] ;\n";
    ports.push_back(controlPort(kPortOversampling, kCommonPortSymbols[kPortOversampling], "Oversampling",
                                1.0f, static_cast<float>(kOversamplingFactors[3]), 1.0f, points));
    ports.push_back("    [\n        a lv2:OutputPort , lv2:ControlPort ;\n        lv2:index " +
                    std::to_string(kPortLatency) + " ;\n        lv2:symbol \"" +
                    kCommonPortSymbols[kPortLatency] +
                    "\" ;\n        lv2:name \"Latency\" ;\n        lv2:designation lv2:latency ;\n"
                    "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
                    "        units:unit units:frame ;\n    ]");
    if (formula) {
        ports.push_back(
            "    [\n        a lv2:InputPort , atom:AtomPort ;\n        lv2:index " +
            std::to_string(kPortControl) + " ;\n        lv2:symbol \"" + kControlSymbol +
            "\" ;\n        lv2:name \"Control\" ;\n        atom:bufferType atom:Sequence ;\n"
            "        atom:supports patch:Message ;\n        lv2:designation lv2:control ;\n    ]");
        ports.push_back("    [\n        a lv2:OutputPort , atom:AtomPort ;\n        lv2:index " +
                        std::to_string(kPortNotify) + " ;\n        lv2:symbol \"" + kNotifySymbol +
                        "\" ;\n        lv2:name \"Notify\" ;\n        atom:bufferType atom:Sequence ;\n"
                        "        atom:supports patch:Message ;\n        lv2:designation lv2:control ;\n"
                        "        rsz:minimumSize 16384 ;\n    ]");
    } else {
        const std::string volts = "        units:unit <" + std::string(kProjectUri) + "#volt> ;\n";
        for (int i = 0; i < kCurvePoints; ++i)
            ports.push_back(controlPort(kPortX0 + static_cast<uint32_t>(i), kCurveXSymbols[i],
                                        module.textPinName + " point " + std::to_string(i + 1) + " input",
                                        kPointMinVolts, kPointMaxVolts, defaultX[i], volts));
        for (int i = 0; i < kCurvePoints; ++i)
            ports.push_back(controlPort(kPortY0 + static_cast<uint32_t>(i), kCurveYSymbols[i],
                                        module.textPinName + " point " + std::to_string(i + 1) + " output",
                                        kPointMinVolts, kPointMaxVolts, defaultY[i], volts));
    }
    const char* const* audioSymbols = stereo ? kStereoAudioSymbols : kMonoAudioSymbols;
    for (int c = 0; c < plugin.channels; ++c) {
        const std::string side = stereo ? (c == 0 ? " left" : " right") : "";
        ports.push_back("    [\n        a lv2:InputPort , lv2:AudioPort ;\n        lv2:index " +
                        std::to_string(audioInPort(plugin.kind, c)) + " ;\n        lv2:symbol \"" +
                        audioSymbols[c] + "\" ;\n        lv2:name " + quoted(module.audioInName + side) +
                        " ;\n    ]");
    }
    for (int c = 0; c < plugin.channels; ++c) {
        const std::string side = stereo ? (c == 0 ? " left" : " right") : "";
        ports.push_back("    [\n        a lv2:OutputPort , lv2:AudioPort ;\n        lv2:index " +
                        std::to_string(audioOutPort(plugin.kind, plugin.channels, c)) +
                        " ;\n        lv2:symbol \"" + audioSymbols[plugin.channels + c] +
                        "\" ;\n        lv2:name " + quoted(module.audioOutName + side) + " ;\n    ]");
    }
    ttl << "    lv2:port\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        ttl << ports[i] << (i + 1 < ports.size() ? " ,\n" : " .\n\n");
    return ttl.str();
}

std::string presetUri(const Plugin& plugin, const char* key) {
    const std::string kindName = plugin.kind == PluginKind::kCurve ? "curve" : "formula";
    return std::string(kProjectUri) + "/presets#" + kindName + "-" + plugin.suffix + "-" + key;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc < 4)
            throw std::runtime_error("usage: lv2_ttl_generator DESCRIPTION.json BUNDLE_DIR HEADER "
                                     "[--curve-see-also FILE]... [--manifest-extra FILE]...");
        const std::string bundle = argv[2];
        std::vector<std::string> curveSeeAlso;
        std::vector<std::string> manifestExtra;
        for (int i = 4; i + 1 < argc; i += 2) {
            const std::string option = argv[i];
            if (option == "--curve-see-also")
                curveSeeAlso.push_back(argv[i + 1]);
            else if (option == "--manifest-extra")
                manifestExtra.push_back(argv[i + 1]);
            else
                throw std::runtime_error("unknown option " + option);
        }
        const nlohmann::json file = nlohmann::json::parse(readFile(argv[1]));
        const Module curve = readModule(file, kCurveWaveshaperIdNarrow);
        const Module formula = readModule(file, kFormulaWaveshaperIdNarrow);

        // The curve's default points, read from its default text as the module reads it.
        CurvePoint grid[kCurvePointCount];
        bool incomplete = false;
        if (scanCurvePoints(pinTextFromUtf8(curve.textDefault), grid, kCurvePointCount, &incomplete) !=
                kCurvePointCount ||
            incomplete)
            throw std::runtime_error("the curve module's default text does not hold 11 points");
        float defaultX[kCurvePoints];
        float defaultY[kCurvePoints];
        for (int i = 0; i < kCurvePoints; ++i) {
            double x = 0.0;
            double y = 0.0;
            gridToVolts(grid[i], &x, &y);
            defaultX[i] = static_cast<float>(x);
            defaultY[i] = static_cast<float>(y);
        }

        // module_defaults.h
        std::ostringstream header;
        header << "// Generated by lv2/ttl_generator.cpp from waveshapers.json: the modules' defaults.\n"
               << "#pragma once\n\nnamespace waveshapers_lv2 {\n\n";
        header << "constexpr float kDefaultPointX[" << kCurvePoints << "] = {";
        for (int i = 0; i < kCurvePoints; ++i)
            header << (i ? ", " : "") << number(defaultX[i]) << "f";
        header << "};\nconstexpr float kDefaultPointY[" << kCurvePoints << "] = {";
        for (int i = 0; i < kCurvePoints; ++i)
            header << (i ? ", " : "") << number(defaultY[i]) << "f";
        header << "};\n// UTF-8.\nconstexpr const char kDefaultFormula[] = " << quoted(formula.textDefault)
               << ";\n\n} // namespace waveshapers_lv2\n";
        write(argv[3], header.str());

        // waveshapers.ttl
        std::ostringstream ttl;
        ttl << kPrefixes;
        ttl << "<" << kProjectUri << ">\n    a doap:Project ;\n    doap:name \"Waveshapers\" ;\n"
            << "    doap:shortdesc " << quoted(file.at("description").get<std::string>()) << " ;\n"
            << "    doap:license <http://opensource.org/licenses/MIT> .\n\n";
        ttl << "<" << kFormulaParameterUri << ">\n    a lv2:Parameter ;\n    rdfs:label "
            << quoted(formula.textPinName) << " ;\n    rdfs:comment "
            << quoted("The output voltage as a formula in x, the input voltage (volts, -5 to +5).")
            << " ;\n    rdfs:range atom:String .\n\n";
        ttl << "<" << kProjectUri << "#volt>\n    a units:Unit ;\n    rdfs:label \"volts\" ;\n"
            << "    units:symbol \"V\" ;\n    units:render \"%f V\" .\n\n";
        for (const Plugin& plugin : kPlugins)
            ttl << pluginTtl(plugin, plugin.kind == PluginKind::kCurve ? curve : formula, defaultX, defaultY);
        write(bundle + "/waveshapers.ttl", ttl.str());

        // presets.ttl
        std::ostringstream presets;
        std::vector<std::pair<std::string, const Plugin*>> presetList;
        presets << kPrefixes;
        for (const Plugin& plugin : kPlugins) {
            if (plugin.kind == PluginKind::kCurve) {
                std::vector<CurvePreset> all(std::begin(kCurvePresets), std::end(kCurvePresets));
                CurvePreset identity{"identity", "Identity", {}};
                for (int i = 0; i < kCurvePoints; ++i) {
                    identity.points[i][0] = defaultX[i];
                    identity.points[i][1] = defaultY[i];
                }
                all.push_back(identity);
                for (const CurvePreset& preset : all) {
                    const std::string uri = presetUri(plugin, preset.key);
                    presetList.emplace_back(uri, &plugin);
                    presets << "<" << uri << ">\n    a pset:Preset ;\n    lv2:appliesTo <" << plugin.uri
                            << "> ;\n    rdfs:label " << quoted(preset.label) << " ;\n    lv2:port\n";
                    for (int i = 0; i < kCurvePoints; ++i)
                        presets << "        [ lv2:symbol \"" << kCurveXSymbols[i] << "\" ; pset:value "
                                << number(preset.points[i][0]) << " ] ,\n        [ lv2:symbol \""
                                << kCurveYSymbols[i] << "\" ; pset:value " << number(preset.points[i][1])
                                << " ]" << (i + 1 < kCurvePoints ? " ,\n" : " .\n\n");
                }
            } else {
                std::vector<FormulaPreset> all(std::begin(kFormulaPresets), std::end(kFormulaPresets));
                all.push_back({"identity", "Identity", formula.textDefault.c_str()});
                for (const FormulaPreset& preset : all) {
                    const std::string uri = presetUri(plugin, preset.key);
                    presetList.emplace_back(uri, &plugin);
                    presets << "<" << uri << ">\n    a pset:Preset ;\n    lv2:appliesTo <" << plugin.uri
                            << "> ;\n    rdfs:label " << quoted(preset.label) << " ;\n    state:state [\n"
                            << "        <" << kFormulaParameterUri << "> " << quoted(preset.formula)
                            << "\n    ] .\n\n";
                }
            }
        }
        write(bundle + "/presets.ttl", presets.str());

        // manifest.ttl
        std::ostringstream manifest;
        manifest << kPrefixes;
        for (const Plugin& plugin : kPlugins) {
            manifest << "<" << plugin.uri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << kPluginBinary
                     << "> ;\n    rdfs:seeAlso <waveshapers.ttl>";
            if (plugin.kind == PluginKind::kCurve) {
                for (const std::string& extra : curveSeeAlso)
                    manifest << " , <" << extra << ">";
            }
            manifest << " .\n\n";
        }
        for (const auto& preset : presetList)
            manifest << "<" << preset.first << ">\n    a pset:Preset ;\n    lv2:appliesTo <"
                     << preset.second->uri << "> ;\n    rdfs:seeAlso <presets.ttl> .\n\n";
        for (const std::string& extra : manifestExtra)
            manifest << readFile(extra) << "\n";
        write(bundle + "/manifest.ttl", manifest.str());
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "lv2_ttl_generator: " << error.what() << "\n";
        return 1;
    }
}
